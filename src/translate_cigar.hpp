#pragma once

#include <cstdint>
#include <string_view>

#include "line.hpp"

namespace corvane {

// Appends the read-line character of one column of operation cigar_op, sets
// that operation's column flags and counts the column in cigar_done. Throws
// the int 1, before changing anything, for a character outside
// "=MXISDNP" (unsupported CIGAR operation). Returns 0.
int translate_cigar(Line& read_line, std::string_view sequence, char cigar_op,
                    std::int32_t read_pos, std::int32_t& cigar_done, std::int32_t& no_match,
                    std::int32_t& ref_gap, std::int32_t& ref_skip, std::int32_t& ref_pad);

}  // namespace corvane
