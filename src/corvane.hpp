#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "io.hpp"
#include "record.hpp"

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

// Opens the run's records; called once, at the start of the run, so that an
// input that cannot be read is reported like any other read error.
using OpenRecords = std::function<std::unique_ptr<RecordSource>(Output&)>;

// Runs the record loop: records from `open`, alignment blocks to `out`,
// reports to `err`. Returns the exit status.
int run_records(const OpenRecords& open, ByteSink& out, ByteSink& err, const Options& options = {});
// The same over SAM text from `in`.
int run_records(ByteSource& in, ByteSink& out, ByteSink& err, const Options& options = {});

// One line on how to give corvane its input, for a standard input that is a
// terminal.
void say_how_to_use(ByteSink& err);

}  // namespace corvane
