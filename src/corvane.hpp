#pragma once

#include <cstddef>

#include "io.hpp"

namespace corvane {

struct Options {
  // Lay out a run of like columns at a time; off, every column goes through
  // the column steps one by one (the reference the runs are tested against).
  bool runs = true;
  // Bytes a line of a block keeps in memory (at least the record line's
  // length, unless exact_line_cap); a longer block is laid out in one pass
  // per line.
  std::size_t line_cap = std::size_t{16} << 20;
  // The cap as given even below the record line's length, so that tests can
  // make long records spill.
  bool exact_line_cap = false;
};

// Runs the record loop: SAM text from `in`, alignment blocks to `out`,
// reports to `err`. Returns the exit status.
int run_records(ByteSource& in, ByteSink& out, ByteSink& err, const Options& options = {});

}  // namespace corvane
