// corvane: lays out SAM alignments as read, match and reference lines,
// rebuilding the reference from SEQ, CIGAR and the MD tag alone.
#include "corvane.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "lay_out.hpp"
#include "line.hpp"
#include "open_input.hpp"
#include "text_reader.hpp"
#include "version.hpp"

namespace corvane {
namespace {

constexpr std::string_view kCigarReadFailure = "shift_cigar failed. Exiting.";
constexpr std::string_view kUnsupportedCigar = "Unsupported CIGAR character encountered";
constexpr std::string_view kMdReadFailure = "shift_md failed; didn't grab character. Exiting.";
constexpr std::string_view kMdDeletionFailure = "Character not detected after ^ in MD tag. Exiting";
constexpr std::string_view kDeletionWithoutMd = "D encountered in CIGAR without MD tag";
constexpr std::string_view kTooFewFields = "Record has fewer than 11 fields";
constexpr std::string_view kSeqTooLong = "SEQ longer than 2147483647 bases is not supported";

// Chunk size of a line that is spilling.
constexpr std::size_t kSpillChunk = std::size_t{1} << 18;
// Blocks up to this many columns are built in the output buffer.
constexpr std::size_t kInPlaceColumns = std::size_t{1} << 15;
// Blocks of more columns than this get kTextPadding bytes of room to spare
// after each line, for the run walk's fixed-size copies; the lines close up
// before they are written. Short blocks, with few runs to gain on, are
// spared the move.
constexpr std::size_t kSlackColumns = 1024;

class RecordLoop {
 public:
  RecordLoop(Output& out, const Options& options) : out_(out), options_(options) {}

  // Processes the records of `records` to the end, or to a fatal failure;
  // returns the exit status.
  template <class Source>
  int run(Source& records) {
    Record record;
    while (records.next(record)) {
      if (!process(record)) return 1;
    }
    return 0;
  }

  // Processes one record; false when a fatal failure ends the run.
  bool process(const Record& record);

 private:
  Outcome lay_out(std::string_view seq, std::string_view cigar, std::string_view md) {
    const Lines lines{read_line_, match_line_, ref_line_};
    // The fields are views into the input buffer, which pads every line;
    // the lines have room to spare unless they are a short block's.
    static_assert(LineReader::kPadding >= kTextPadding);
    const bool spare = !read_line_.in_place() || columns_ > kSlackColumns;
    return options_.runs ? lay_out_runs(seq, cigar, md, lines, columns_, spare)
                         : lay_out_columns(seq, cigar, md, lines);
  }
  void write_block(std::string_view head, std::string_view seq, std::string_view cigar,
                   std::string_view md, std::size_t cap);

  // Writes the report of a layout that did not complete; false when it
  // ends the run.
  bool report(std::string_view head, Outcome outcome);
  // The record dump, the message and its line ends.
  void report(std::string_view head, std::string_view message, bool fatal);

  Output& out_;
  const Options& options_;
  std::size_t columns_ = 0;  // the record's column bound
  Line read_line_, match_line_, ref_line_;
};

bool RecordLoop::report(std::string_view head, Outcome outcome) {
  switch (outcome) {
    case Outcome::completed:
    case Outcome::dropped:
      return true;
    case Outcome::unsupported_cigar:
      report(head, kUnsupportedCigar, false);
      return true;
    case Outcome::deletion_without_md:
      report(head, kDeletionWithoutMd, false);
      return true;
    case Outcome::cigar_read_failure:
      report(head, kCigarReadFailure, true);
      return false;
    case Outcome::md_read_failure:
      report(head, kMdReadFailure, true);
      return false;
    case Outcome::md_deletion_failure:
      report(head, kMdDeletionFailure, true);
      return false;
  }
  return true;
}

void RecordLoop::report(std::string_view head, std::string_view message, bool fatal) {
  out_.to_err(head);
  out_.to_err("\n");
  out_.to_err(message);
  out_.to_err(fatal ? "\n" : "\n\n\n");
}

bool RecordLoop::process(const Record& record) {
  const std::string_view text = record.head;
  if (!record.complete) {
    // The dump is then all of the line's fields.
    report(text, kTooFewFields, false);
    return true;
  }
  const std::string_view seq = record.seq, cigar = record.cigar, md = record.md;
  if (seq.size() > static_cast<std::size_t>(INT32_MAX)) {
    // read_pos could not count the bases.
    report(text, kSeqTooLong, false);
    return true;
  }

  // Short blocks are built where they will be written: the head, then each
  // line in room for as many columns as the CIGAR can make. Longer ones are
  // built in the lines' own storage.
  const std::size_t cap =
      options_.exact_line_cap ? options_.line_cap : std::max(options_.line_cap, record.size);
  const std::size_t columns = columns_ = column_bound(cigar, seq.size());
  char* block = nullptr;
  const std::size_t room = columns + (columns > kSlackColumns ? kTextPadding : 0);
  if (columns <= std::min(kInPlaceColumns, cap)) {
    block = out_.claim_out(text.size() + 3 * room + 4);
  }
  if (block != nullptr) {
    char* at = block + text.size() + 1;
    read_line_.reset_into(at, room, cap);
    match_line_.reset_into(at + room + 1, room, cap);
    ref_line_.reset_into(at + 2 * (room + 1), room, cap);
  } else {
    read_line_.reset(cap);
    match_line_.reset(cap);
    ref_line_.reset(cap);
  }

  const Outcome outcome = lay_out(seq, cigar, md);
  if (outcome != Outcome::completed) return report(text, outcome);
  if (block != nullptr && read_line_.in_place() && match_line_.in_place() && ref_line_.in_place()) {
    std::memcpy(block, text.data(), text.size());
    char* end = block + text.size();
    *end++ = '\n';
    for (const Line* l : {&read_line_, &match_line_, &ref_line_}) {
      // A line shorter than its room moves up to close the gap.
      if (end != l->held().data()) std::memmove(end, l->held().data(), l->held().size());
      end += l->held().size();
      *end++ = '\n';
    }
    out_.commit_out(static_cast<std::size_t>(end - block));
    return true;
  }
  write_block(text, seq, cigar, md, cap);
  return true;
}

void RecordLoop::write_block(std::string_view head, std::string_view seq, std::string_view cigar,
                             std::string_view md, std::size_t cap) {
  out_.line_to_out(head);
  Line* lines[] = {&read_line_, &match_line_, &ref_line_};
  if (!read_line_.spilled() && !match_line_.spilled() && !ref_line_.spilled()) {
    for (Line* l : lines) out_.line_to_out(l->held());
    return;
  }
  // Too long to hold: walk the record again once per line, that line going
  // straight to standard output. The walk depends on nothing but the record,
  // so every pass takes the same columns.
  const std::size_t chunk = std::min(kSpillChunk, cap);
  for (Line* shown : lines) {
    for (Line* l : lines) {
      if (l == shown) {
        l->reset(chunk, &out_);
      } else {
        l->reset(chunk);
      }
    }
    lay_out(seq, cigar, md);
    shown->drain();
    out_.to_out("\n");
  }
}

}  // namespace

int run_records(const OpenRecords& open, ByteSink& out_sink, ByteSink& err_sink,
                const Options& options) {
  Output out(out_sink, err_sink);
  try {
    try {
      const std::unique_ptr<RecordSource> records = open(out);
      RecordLoop loop(out, options);
      // SAM text, the common case, takes its records without a virtual call
      // each: at two million records a second, that call shows.
      TextReader* text = records->text_reader();
      const int status = text != nullptr ? loop.run(*text) : loop.run(*records);
      out.flush();
      return status;
    } catch (const ReadError& e) {
      out.to_err("corvane: error reading standard input: ");
      out.to_err(e.reason.empty() ? std::string_view(std::strerror(e.error)) : e.reason);
      out.to_err("\n");
      out.flush();
      return 1;
    }
  } catch (const WriteError& e) {
    const std::string message =
        std::string("corvane: error writing ") + e.stream + ": " + std::strerror(e.error) + "\n";
    try {
      err_sink.write(message.data(), message.size());
    } catch (const WriteError&) {
      // Standard error is gone too; the status still tells.
    }
    return 1;
  }
}

int run_records(ByteSource& in, ByteSink& out, ByteSink& err, const Options& options) {
  return run_records([&in](Output& output) { return std::make_unique<TextReader>(in, output); },
                     out, err, options);
}

void say_how_to_use(ByteSink& err) {
  constexpr std::string_view kHint =
      "corvane: reading SAM, BAM or CRAM from standard input, here the terminal (Ctrl-D ends "
      "it); e.g. samtools view -u in.bam chr1:1-1000 | corvane > out.txt\n";
  try {
    err.write(kHint.data(), kHint.size());
  } catch (const WriteError&) {
    // Only a hint: the run goes on.
  }
}

}  // namespace corvane

#ifndef CORVANE_NO_MAIN
int main(int argc, char** argv) {
  corvane::FdSink out(STDOUT_FILENO, "standard output");
  corvane::FdSink err(STDERR_FILENO, "standard error");
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    const std::string text = std::string(corvane::kVersion) + "\n";
    try {
      err.write(text.data(), text.size());
    } catch (const corvane::WriteError&) {
      return 1;
    }
    return 0;
  }
  // Arguments are ignored: someone who gave a file name, or asked for help,
  // would otherwise face a program that seems to hang.
  if (isatty(STDIN_FILENO)) corvane::say_how_to_use(err);
  out.widen_pipe(corvane::Output::kBufferSize);
  return corvane::run_records(
      [](corvane::Output& output) { return corvane::open_input(STDIN_FILENO, output); }, out, err);
}
#endif
