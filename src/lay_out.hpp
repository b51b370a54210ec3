// Lays one record out as its read, match and reference lines.
//
// Two walks give the same lines, the same end and the same state at every
// step: lay_out_columns() takes one column at a time through the column
// steps, as plainly as they can be written; lay_out_runs() takes at each step
// the longest stretch of columns over which neither the CIGAR operation nor
// the MD token changes, and hands what is left over to the column steps.
// The first is the reference the second is tested against.
#pragma once

#include <cstddef>
#include <string_view>

#include "bytes.hpp"
#include "line.hpp"

namespace corvane {

// How the layout of a record ended.
enum class Outcome {
  completed,            // every base of SEQ placed: the block is written
  dropped,              // a hard clip met with no MD text left: nothing said
  unsupported_cigar,    // reported; the run goes on
  deletion_without_md,  // reported; the run goes on
  cigar_read_failure,   // reported; the run ends
  md_read_failure,      // reported; the run ends
  md_deletion_failure,  // reported; the run ends
};

// The lines a record is laid out into, empty when the layout starts.
struct Lines {
  Line& read;
  Line& match;
  Line& ref;
};

// An upper bound on the columns the walk can lay out for a SEQ of `bases`
// bases: exact for a CIGAR text that is a plain run of counts and operation
// characters, only a guess for any other. Which is all it needs to be: the
// lines are built in room of this size, and a line that outgrows its room
// moves to storage of its own.
std::size_t column_bound(std::string_view cigar, std::size_t bases);

// `sequence` is SEQ, `cigar` the CIGAR text, `md` the MD value (empty when
// the record has none). The lines hold what was laid out when the walk
// ended, however it ended. lay_out_runs() writes straight into the lines'
// room while they have room for `columns` columns (column_bound()) and
// appends otherwise. `spare` tells it that kTextPadding readable bytes
// follow `sequence` and `md` in memory and that the lines can give that much
// room beyond `columns`, which lets it copy in fixed-size blocks.
Outcome lay_out_columns(std::string_view sequence, std::string_view cigar, std::string_view md,
                        Lines lines);
Outcome lay_out_runs(std::string_view sequence, std::string_view cigar, std::string_view md,
                     Lines lines, std::size_t columns, bool spare = false);

inline constexpr std::size_t kTextPadding = kBlockReach;

}  // namespace corvane
