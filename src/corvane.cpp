// corvane: lays out SAM alignments as read, match and reference lines,
// rebuilding the reference from SEQ, CIGAR and the MD tag alone.
#include "corvane.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "char_stream.hpp"
#include "isolate_md.hpp"
#include "line.hpp"
#include "shift_cigar.hpp"
#include "shift_md.hpp"
#include "split_fields.hpp"
#include "translate_cigar.hpp"
#include "translate_md.hpp"
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

// An upper bound on the columns the walk can lay out: every column places a
// base or belongs to a D, N or P operation, and an operation of length 0
// or less makes one column. SIZE_MAX when the CIGAR text is not a plain run
// of counts and operation characters.
std::size_t column_bound(std::string_view cigar, std::size_t bases) {
  std::size_t columns = bases;
  std::size_t i = 0;
  const std::size_t n = cigar.size();
  while (i < n) {
    std::size_t count = 0;
    const std::size_t digits = i;
    while (i < n && static_cast<unsigned char>(cigar[i] - '0') <= 9) {
      count = count * 10 + static_cast<std::size_t>(cigar[i] - '0');
      if (count > kInPlaceColumns) return SIZE_MAX;
      ++i;
    }
    if (i == digits || i == n) return SIZE_MAX;
    const char op = cigar[i++];
    if (op == 'D' || op == 'N' || op == 'P') columns += std::max<std::size_t>(count, 1);
  }
  return columns;
}

enum class Outcome {
  completed,  // every base placed
  left,       // left early, dropped or after a non-fatal report
  fatal,      // the run ends
};

// The walk state of one record. Everything starts afresh with every record,
// the carried CIGAR and MD values included, so no record can see another.
struct Walk {
  Walk(std::string_view seq, std::string_view cigar, std::string_view md)
      : sequence(seq), has_md(!md.empty()), cigar_stream(cigar), md_stream(md) {}

  std::string_view sequence;
  bool has_md;
  CharStream cigar_stream;
  CharStream md_stream;
  std::int32_t read_pos = 0;
  std::int32_t cigar_len = 0;
  char cigar_op = 0;
  std::int32_t cigar_done = 0;
  std::int32_t md_len = 0;
  char md_char = 'N';
  std::int32_t md_is_char = 1;
  std::int32_t md_done = 0;

  // MD advance may read only in columns that align to the reference: soft
  // clips and insertions have no reference base, and intron skips and
  // padding have no place in the MD text.
  bool md_advances() const {
    return md_stream.in_avail() != 0 && md_done == 0 && cigar_op != 'S' && cigar_op != 'I' &&
           cigar_op != 'N' && cigar_op != 'P';
  }

  // MD reset: marks the current token spent once it has served its columns.
  void md_reset() {
    if (md_is_char == 0) {
      if (cigar_op != 'S' && md_done == md_len) md_done = 0;
    } else {
      md_done = 0;
    }
  }

  bool advances_read() const { return cigar_op != 'D' && cigar_op != 'N' && cigar_op != 'P'; }
};

class RecordLoop {
 public:
  RecordLoop(Output& out, const Options& options) : out_(out), options_(options) {}

  // Processes one record line; false when a fatal failure ends the run.
  bool process(std::string_view line);

 private:
  Outcome walk(Walk& w);
  bool whole_run(Walk& w);
  bool next_operation(Walk& w);
  void write_block(std::string_view seq, std::string_view cigar, std::string_view md,
                   std::size_t cap);

  // The first `count` fields joined by tabs.
  std::string_view head(int count);
  // Writes head(count), then a line feed, to the chosen stream.
  void dump(int count, bool to_err);
  void report(std::string_view message, bool fatal);
  void report_fields(std::string_view message);

  Output& out_;
  const Options& options_;
  Fields fields_;
  std::string head_;
  Line read_line_, match_line_, ref_line_;
};

bool RecordLoop::next_operation(Walk& w) {
  try {
    shift_cigar(w.cigar_stream, w.cigar_len, w.cigar_op);
  } catch (int) {
    report(kCigarReadFailure, true);
    return false;
  }
  return true;
}

Outcome RecordLoop::walk(Walk& w) {
  Line& read_line = read_line_;
  Line& match_line = match_line_;
  Line& ref_line = ref_line_;
  const std::string_view sequence = w.sequence;
  for (;;) {
    if (static_cast<std::size_t>(w.read_pos) >= sequence.size()) return Outcome::completed;

    // Next CIGAR operation, hard clips skipped while MD text is left.
    if (w.cigar_done == 0) {
      if (!next_operation(w)) return Outcome::fatal;
      while (w.cigar_op == 'H') {
        if (w.md_stream.in_avail() == 0) return Outcome::left;
        if (!next_operation(w)) return Outcome::fatal;
      }
    }

    if (w.md_advances()) {
      try {
        shift_md(w.md_stream, w.md_is_char, w.md_len, w.md_char);
      } catch (char) {
        report(kMdReadFailure, true);
        return Outcome::fatal;
      }
    }

    if (options_.whole_runs && whole_run(w)) continue;

    std::int32_t no_match = 0;
    std::int32_t ref_gap = 0;
    std::int32_t ref_skip = 0;
    std::int32_t ref_pad = 0;

    if (w.cigar_done < w.cigar_len) {
      try {
        translate_cigar(read_line, sequence, w.cigar_op, w.read_pos, w.cigar_done, no_match,
                        ref_gap, ref_skip, ref_pad);
      } catch (int) {
        report(kUnsupportedCigar, false);
        return Outcome::left;
      }
    }

    if (w.has_md) {
      try {
        translate_md(w.md_stream, sequence, ref_line, w.read_pos, w.md_done, w.md_len, w.md_char,
                     w.md_is_char, ref_gap, no_match, ref_skip, ref_pad);
      } catch (int) {
        report(kMdDeletionFailure, true);
        return Outcome::fatal;
      }
    } else if (ref_gap) {
      ref_line.push_back('-');
    } else if (ref_pad) {
      ref_line.push_back('*');
    } else if (ref_skip) {
      ref_line.push_back('N');
    } else if (w.cigar_op == 'D') {
      report(kDeletionWithoutMd, false);
      return Outcome::left;
    } else {
      ref_line.push_back(sequence[w.read_pos]);
    }

    match_line.push_back(no_match ? ' ' : '|');
    if (w.cigar_done == w.cigar_len) w.cigar_done = 0;
    w.md_reset();
    if (w.advances_read()) ++w.read_pos;
  }
}

// Lays out at once the longest run of columns, starting with this one, that
// would each go through the column steps alike: no new CIGAR operation, no
// MD advance after the first, the same flags and the same kind of reference
// character. Returns false, laying out nothing, when this column must go
// through the steps by itself.
bool RecordLoop::whole_run(Walk& w) {
  if (w.cigar_done >= w.cigar_len) return false;
  const std::int64_t op_left = std::int64_t{w.cigar_len} - w.cigar_done;
  const std::int64_t seq_left = static_cast<std::int64_t>(w.sequence.size()) - w.read_pos;
  const char* base = w.sequence.data() + w.read_pos;
  const bool moves = w.advances_read();
  std::int64_t k = moves ? std::min(op_left, seq_left) : op_left;
  char read_fill = 0;  // 0: the read shows its bases
  char match = ' ';
  switch (w.cigar_op) {
    case 'I':
      ref_line_.fill('-', k);
      break;
    case 'S':
      ref_line_.fill('N', k);
      break;
    case 'N':
      read_fill = '.';
      ref_line_.fill('N', k);
      break;
    case 'P':
      read_fill = '*';
      ref_line_.fill('*', k);
      break;
    case 'M':
    case '=':
    case 'X':
    case 'D': {
      const bool deletion = w.cigar_op == 'D';
      if (deletion) read_fill = '-';
      if (!w.has_md) {
        if (deletion) return false;  // reported column by column
        ref_line_.append(base, k);
        match = '|';
      } else if (w.md_is_char == 0 && w.md_done < w.md_len) {
        // Inside a number token's run the reference is the read's base.
        k = std::min<std::int64_t>(k, std::int64_t{w.md_len} - w.md_done);
        if (deletion) {
          ref_line_.fill(*base, k);
        } else {
          ref_line_.append(base, k);
          match = '|';
        }
        w.md_done += static_cast<std::int32_t>(k);
      } else if (w.md_stream.in_avail() != 0) {
        return false;  // the next column reads another token
      } else if (w.md_is_char == 0 && w.md_len <= 0) {
        // A last token of zero or less shows nothing.
        if (!deletion) match = '|';
      } else if (w.md_is_char != 0 && w.md_char != '^') {
        // A last character token is shown again in every column.
        ref_line_.fill(w.md_char, k);
      } else {
        return false;
      }
      break;
    }
    default:
      return false;  // unsupported: reported column by column
  }
  if (read_fill != 0) {
    read_line_.fill(read_fill, k);
  } else {
    read_line_.append(base, k);
  }
  match_line_.fill(match, k);
  w.cigar_done += static_cast<std::int32_t>(k);
  if (w.cigar_done == w.cigar_len) w.cigar_done = 0;
  w.md_reset();
  if (moves) w.read_pos += static_cast<std::int32_t>(k);
  return true;
}

std::string_view RecordLoop::head(int count) {
  const auto& f = fields_.mandatory;
  // Usually the fields already stand in the line joined by single tabs.
  bool joined = true;
  for (int i = 1; i < count && joined; ++i) {
    const char* gap = f[i - 1].data() + f[i - 1].size();
    joined = gap + 1 == f[i].data() && *gap == '\t';
  }
  if (joined)
    return {f[0].data(),
            static_cast<std::size_t>(f[count - 1].data() + f[count - 1].size() - f[0].data())};
  head_.clear();
  for (int i = 0; i < count; ++i) {
    if (i != 0) head_.push_back('\t');
    head_.append(f[i]);
  }
  return head_;
}

void RecordLoop::dump(int count, bool to_err) {
  const std::string_view text = head(count);
  if (to_err) {
    out_.to_err(text);
    out_.to_err("\n");
  } else {
    out_.line_to_out(text);
  }
}

void RecordLoop::report(std::string_view message, bool fatal) {
  dump(9, true);
  out_.to_err(message);
  out_.to_err(fatal ? "\n" : "\n\n\n");
}

void RecordLoop::report_fields(std::string_view message) {
  dump(fields_.count, true);
  out_.to_err(message);
  out_.to_err("\n\n\n");
}

bool RecordLoop::process(std::string_view line) {
  fields_ = split_fields(line);
  if (fields_.count == 0) return true;  // blank line
  if (fields_.count < Fields::kMandatory) {
    report_fields(kTooFewFields);
    return true;
  }
  const std::string_view md = isolate_md(fields_);
  const std::string_view seq = fields_.mandatory[9];
  const std::string_view cigar = fields_.mandatory[5];
  if (seq.size() > static_cast<std::size_t>(INT32_MAX)) {
    // read_pos could not count the bases.
    report(kSeqTooLong, false);
    return true;
  }

  // Short blocks are built where they will be written: the head, then each
  // line in room for as many columns as the CIGAR can make.
  const std::size_t cap = std::max(options_.line_cap, line.size());
  const std::size_t columns = column_bound(cigar, seq.size());
  const std::string_view text = head(9);
  char* block = nullptr;
  if (columns <= std::min(kInPlaceColumns, cap)) {
    block = out_.claim_out(text.size() + 3 * columns + 4);
  }
  if (block != nullptr) {
    char* room = block + text.size() + 1;
    read_line_.reset_into(room, columns, cap);
    match_line_.reset_into(room + columns + 1, columns, cap);
    ref_line_.reset_into(room + 2 * (columns + 1), columns, cap);
  } else {
    read_line_.reset(cap);
    match_line_.reset(cap);
    ref_line_.reset(cap);
  }

  Walk w(seq, cigar, md);
  const Outcome outcome = walk(w);
  if (outcome == Outcome::fatal) return false;
  if (static_cast<std::size_t>(w.read_pos) != seq.size()) return true;
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
  write_block(seq, cigar, md, cap);
  return true;
}

void RecordLoop::write_block(std::string_view seq, std::string_view cigar, std::string_view md,
                             std::size_t cap) {
  dump(9, false);
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
    Walk w(seq, cigar, md);
    walk(w);
    shown->drain();
    out_.to_out("\n");
  }
}

}  // namespace

int run_records(ByteSource& in, ByteSink& out_sink, ByteSink& err_sink, const Options& options) {
  Output out(out_sink, err_sink);
  try {
    try {
      LineReader reader(in, out);
      RecordLoop loop(out, options);
      std::string_view line;
      bool first_record = true;
      int status = 0;
      while (reader.next(line)) {
        // Header lines are recognised only before the first record.
        if (first_record && !line.empty() && line[0] == '@') continue;
        first_record = false;
        if (!loop.process(line)) {
          status = 1;
          break;
        }
      }
      out.flush();
      return status;
    } catch (const ReadError& e) {
      out.to_err("corvane: error reading standard input: ");
      out.to_err(std::strerror(e.error));
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

}  // namespace corvane

#ifndef CORVANE_NO_MAIN
int main(int argc, char** argv) {
  corvane::FdSource in(STDIN_FILENO);
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
  return corvane::run_records(in, out, err);
}
#endif
