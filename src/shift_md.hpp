#pragma once

#include <cstdint>

#include "char_stream.hpp"

namespace corvane {

// Reads the next MD token: a number token (md_is_char 0, value in md_len) or
// a character token (md_is_char 1, character in md_char); a zero followed by
// a character gives the character. Throws the char 'e' when no character can
// be read where one is needed (MD read failure).
CharStream& shift_md(CharStream& md_stream, std::int32_t& md_is_char, std::int32_t& md_len,
                     char& md_char);

}  // namespace corvane
