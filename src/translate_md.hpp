#pragma once

#include <cstdint>
#include <string_view>

#include "char_stream.hpp"
#include "line.hpp"

namespace corvane {

// Appends the reference character of one column as the current MD token
// gives it: "-", "N" or "*" for flagged columns, the token's character (a
// mismatch, or after "^" the deleted base, read here), or the read's own base
// inside a number token's run. Throws the int 1 when "^" ends the MD text
// (MD deletion failure).
CharStream& translate_md(CharStream& md_stream, std::string_view sequence, Line& ref_line,
                         std::int32_t read_pos, std::int32_t& md_done, std::int32_t md_len,
                         char& md_char, std::int32_t md_is_char, std::int32_t ref_gap,
                         std::int32_t& no_match, std::int32_t ref_skip, std::int32_t ref_pad);

}  // namespace corvane
