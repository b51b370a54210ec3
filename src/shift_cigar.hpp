#pragma once

#include <cstdint>

#include "char_stream.hpp"

namespace corvane {

// Reads the next CIGAR operation: its count into cigar_len, its character
// into cigar_op. Throws the int 1 when the stream does not deliver a number
// followed by a character (CIGAR read failure).
CharStream& shift_cigar(CharStream& cigar_stream, std::int32_t& cigar_len, char& cigar_op);

}  // namespace corvane
