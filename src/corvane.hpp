#pragma once

#include "io.hpp"

namespace corvane {

struct Options {
  // Lay out runs of like columns at once; off, every column goes through
  // the column steps one by one (the reference the fast path is tested on).
  bool whole_runs = true;
};

// Runs the record loop: SAM text from `in`, alignment blocks to `out`,
// reports to `err`. Returns the exit status.
int run_records(ByteSource& in, ByteSink& out, ByteSink& err, const Options& options = {});

}  // namespace corvane
