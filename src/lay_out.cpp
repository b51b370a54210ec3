#include "lay_out.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "bytes.hpp"
#include "char_stream.hpp"
#include "shift_cigar.hpp"
#include "shift_md.hpp"
#include "split_fields.hpp"
#include "translate_cigar.hpp"
#include "translate_md.hpp"

namespace corvane {
namespace {

bool is_digit(char c) {
  return static_cast<unsigned char>(c - '0') <= 9;
}
bool is_letter(char c) {
  return static_cast<unsigned char>((c | 0x20) - 'a') < 26;
}

// A decimal count read straight from a text: `digits` is how many digits
// stand at the start (0 when none), or -1 when there are eight or more,
// which the stream reads are left to take; `at_end` when they run to the
// end of the text. (Reading eight characters at once without a branch, and
// unrolling the loop, measured slower: counts have one to three digits.)
struct Count {
  int digits;
  std::int32_t value;
  bool at_end;
};

Count read_count(const char* p, const char* end) {
  int n = 0;
  std::int32_t value = 0;
  for (; p + n != end && is_digit(p[n]); ++n) {
    if (n == 7) return {-1, 0, false};
    value = value * 10 + (p[n] - '0');
  }
  return {n, value, p + n == end};
}

// The state of one record's walk. Everything starts afresh with every record,
// the carried CIGAR and MD values included, so no record can see another.
struct Walk {
  Walk(std::string_view seq, std::string_view cigar, std::string_view md, Lines l)
      : sequence(seq), has_md(!md.empty()), cigar_stream(cigar), md_stream(md), lines(l) {}

  std::string_view sequence;
  bool has_md;
  CharStream cigar_stream;
  CharStream md_stream;
  Lines lines;
  std::int32_t read_pos = 0;
  std::int32_t cigar_len = 0;
  char cigar_op = 0;
  std::int32_t cigar_done = 0;
  std::int32_t md_len = 0;
  char md_char = 'N';
  std::int32_t md_is_char = 1;
  std::int32_t md_done = 0;
  Outcome outcome = Outcome::completed;

  bool all_placed() const { return static_cast<std::size_t>(read_pos) >= sequence.size(); }
  bool md_left() const { return md_stream.in_avail() != 0; }

  // MD advance may read only in columns that align to the reference: soft
  // clips and insertions have no reference base, and intron skips and
  // padding have no place in the MD text.
  bool md_advances() const {
    return md_left() && md_done == 0 && cigar_op != 'S' && cigar_op != 'I' && cigar_op != 'N' &&
           cigar_op != 'P';
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

  // Ends the walk with `o`; false, for the callers to pass on.
  bool stop(Outcome o) {
    outcome = o;
    return false;
  }

  bool shift_operation() {
    try {
      shift_cigar(cigar_stream, cigar_len, cigar_op);
    } catch (int) {
      return stop(Outcome::cigar_read_failure);
    }
    return true;
  }

  // The next CIGAR operation when the current one is used up, hard clips
  // skipped while MD text is left; `read` reads one operation.
  template <class Read>
  bool settle_operation(Read read) {
    if (cigar_done != 0) return true;
    if (!read()) return false;
    while (cigar_op == 'H') {
      if (!md_left()) return stop(Outcome::dropped);
      if (!read()) return false;
    }
    return true;
  }

  bool advance_md();
  bool column();
};

// MD advance, when the column's operation is settled: the next MD token
// when the current one is spent. False when the walk ends here.
bool Walk::advance_md() {
  if (md_advances()) {
    try {
      shift_md(md_stream, md_is_char, md_len, md_char);
    } catch (char) {
      return stop(Outcome::md_read_failure);
    }
  }
  return true;
}

// The rest of a column through the column steps, after MD advance: the
// read character, the reference character, the match character, end of
// operation, MD reset and advance. False when the walk ends in this column.
bool Walk::column() {
  std::int32_t no_match = 0;
  std::int32_t ref_gap = 0;
  std::int32_t ref_skip = 0;
  std::int32_t ref_pad = 0;

  if (cigar_done < cigar_len) {
    try {
      translate_cigar(lines.read, sequence, cigar_op, read_pos, cigar_done, no_match, ref_gap,
                      ref_skip, ref_pad);
    } catch (int) {
      return stop(Outcome::unsupported_cigar);
    }
  }

  if (has_md) {
    try {
      translate_md(md_stream, sequence, lines.ref, read_pos, md_done, md_len, md_char, md_is_char,
                   ref_gap, no_match, ref_skip, ref_pad);
    } catch (int) {
      return stop(Outcome::md_deletion_failure);
    }
  } else if (ref_gap) {
    lines.ref.push_back('-');
  } else if (ref_pad) {
    lines.ref.push_back('*');
  } else if (ref_skip) {
    lines.ref.push_back('N');
  } else if (cigar_op == 'D') {
    return stop(Outcome::deletion_without_md);
  } else {
    lines.ref.push_back(sequence[read_pos]);
  }

  lines.match.push_back(no_match ? ' ' : '|');
  if (cigar_done == cigar_len) cigar_done = 0;
  md_reset();
  if (advances_read()) ++read_pos;
  return true;
}

// What the run-at-a-time walk does with an operation character.
enum class Kind : unsigned char { match, insertion, soft_clip, deletion, hard_clip, other };

constexpr Kind kind_of(char op) {
  switch (op) {
    case 'M':
    case '=':
    case 'X':
      return Kind::match;
    case 'I':
      return Kind::insertion;
    case 'S':
      return Kind::soft_clip;
    case 'D':
      return Kind::deletion;
    case 'H':
      return Kind::hard_clip;
    default:
      return Kind::other;
  }
}

// Writes runs of columns by appending to the lines, which may spill or grow.
class AppendingWriter {
 public:
  explicit AppendingWriter(Lines lines) : lines_(lines) {}

  bool fits(std::int64_t) const { return true; }
  void finish() {}

  // Aligned columns without MD: the read's bases on both sides.
  void matched(const char* base, std::int32_t k) {
    lines_.read.append(base, n(k));
    lines_.match.fill('|', n(k));
    lines_.ref.append(base, n(k));
  }
  // Insertion or soft clip: the read's bases over a fill.
  void unaligned(const char* base, std::int32_t k, char ref) {
    lines_.read.append(base, n(k));
    lines_.match.fill(' ', n(k));
    lines_.ref.fill(ref, n(k));
  }
  // Deleted bases from the MD text.
  void deleted(const char* bases, std::int32_t k) {
    lines_.read.fill('-', n(k));
    lines_.match.fill(' ', n(k));
    lines_.ref.append(bases, n(k));
  }
  // Up to k aligned columns from `base` whose MD tokens are read as they
  // come: mismatch() for each one that shows the MD's base, then end() with
  // the number of columns laid out.
  void begin(const char* base, std::int32_t) {
    base_ = base;
    shown_ = 0;
  }
  void mismatch(std::int32_t pos, char c) {
    show(pos);
    lines_.ref.push_back(c);
    lines_.match.push_back(' ');
    shown_ = pos + 1;
  }
  void end(std::int32_t pos) {
    show(pos);
    lines_.read.append(base_, n(pos));
  }

 private:
  static std::size_t n(std::int32_t k) { return static_cast<std::size_t>(k); }
  // The read's bases over bars up to column pos.
  void show(std::int32_t pos) {
    lines_.ref.append(base_ + shown_, n(pos - shown_));
    lines_.match.fill('|', n(pos - shown_));
  }

  Lines lines_;
  const char* base_ = nullptr;
  std::int32_t shown_ = 0;
};

// Writes runs of columns straight into room claimed from the three lines up
// front, a mismatch written over the read's base; the lines count what was
// written at finish(). With kSlack, the room has kTextPadding bytes to spare
// and the bytes copied are followed by as many readable ones, so that copies
// and fills move fixed-size blocks, past the end when that is quicker,
// instead of branching on sizes that change with every operation.
template <bool kSlack>
class RoomWriter {
 public:
  static constexpr std::size_t kSlackBytes = kSlack ? kTextPadding : 0;

  RoomWriter(Lines lines, std::size_t room) : lines_(lines), room_(room) {
    read_ = start_[0] = lines.read.claim(room + kSlackBytes);
    if (read_ == nullptr) return;
    match_ = start_[1] = lines.match.claim(room + kSlackBytes);
    ref_ = start_[2] = lines.ref.claim(room + kSlackBytes);
  }
  // False when a line could not give the room: append then.
  bool ready() const { return read_ != nullptr && match_ != nullptr && ref_ != nullptr; }

  // Every column takes one byte of the match line and at most one of the
  // others, so the room is counted in columns.
  bool fits(std::int64_t k) const { return static_cast<std::uint64_t>(k) <= room_; }
  void finish() {
    lines_.read.commit(static_cast<std::size_t>(read_ - start_[0]));
    lines_.match.commit(static_cast<std::size_t>(match_ - start_[1]));
    lines_.ref.commit(static_cast<std::size_t>(ref_ - start_[2]));
  }

  void matched(const char* base, std::int32_t k) {
    copy(read_, base, n(k));
    fill(match_, '|', n(k));
    copy(ref_, base, n(k));
    advance(k);
  }
  void unaligned(const char* base, std::int32_t k, char ref) {
    copy(read_, base, n(k));
    fill(match_, ' ', n(k));
    fill(ref_, ref, n(k));
    advance(k);
  }
  void deleted(const char* bases, std::int32_t k) {
    fill(read_, '-', n(k));
    fill(match_, ' ', n(k));
    copy(ref_, bases, n(k));
    advance(k);
  }
  void begin(const char* base, std::int32_t k) {
    base_ = base;
    copy(ref_, base, n(k));
    fill(match_, '|', n(k));
  }
  void mismatch(std::int32_t pos, char c) {
    ref_[pos] = c;
    match_[pos] = ' ';
  }
  void end(std::int32_t pos) {
    copy(read_, base_, n(pos));
    advance(pos);
  }

 private:
  static std::size_t n(std::int32_t k) { return static_cast<std::size_t>(k); }
  static void copy(char* to, const char* from, std::size_t k) {
    if constexpr (kSlack) {
      copy_blocks(to, from, k);
    } else {
      copy_bytes(to, from, k);
    }
  }
  static void fill(char* to, char c, std::size_t k) {
    if constexpr (kSlack) {
      fill_blocks(to, c, k);
    } else {
      fill_bytes(to, c, k);
    }
  }
  void advance(std::int32_t k) {
    read_ += k;
    match_ += k;
    ref_ += k;
    room_ -= n(k);
  }

  Lines lines_;
  std::size_t room_;
  char* start_[3];
  char* read_;
  char* match_ = nullptr;
  char* ref_ = nullptr;
  const char* base_ = nullptr;
};

// The walk a run at a time. sprint() takes the stretch of plain operations
// and tokens that makes up nearly every record in one tight loop; odd_run()
// lays out the rarer runs at once (skips, padding, an MD text used up);
// whatever neither takes (a signed or overlong number, an operation of
// length 0 or less, "^" outside a deletion, an unsupported operation, a
// deletion without MD) goes through the column steps, which see exactly the
// state they would have seen.
struct Runs : Walk {
  Runs(std::string_view seq, std::string_view cigar, std::string_view md, Lines l,
       std::size_t columns, bool spare)
      : Walk(seq, cigar, md, l), columns(columns), spare(spare) {}

  std::size_t columns;  // the layout's column bound
  bool spare;           // bytes to spare after the texts and the lines' room

  bool sprint();
  template <class Writer>
  bool sprint(Writer out);
  bool odd_run();
};

// Runs sprint with the lines' room when they have it for the rest of the
// record, with room to spare when the caller said there is. True when it
// leaves at the first column of an operation it has read, which is then
// settled.
bool Runs::sprint() {
  const std::size_t done = lines.match.size();  // one byte a column
  if (columns > done) {
    if (spare) {
      RoomWriter<true> room(lines, columns - done);
      if (room.ready()) return sprint(room);
    }
    RoomWriter<false> room(lines, columns - done);
    if (room.ready()) return sprint(room);
  }
  AppendingWriter append(lines);
  return sprint(append);
}

// Operations M, =, X, I, S, and D with MD, as long as their counts are one
// to seven digits and the MD tokens they meet are numbers of one to seven
// digits other than 0, letters (after zeros), and "^" with letters at the
// start of a deletion. The state lives in locals while the loop runs.
template <class Writer>
bool Runs::sprint(Writer out) {
  // A stream whose indicators are set is read only by the column steps (the
  // MD text's end-of-text indicator matters only while text is left).
  if (!cigar_stream.good() || (md_left() && !md_stream.good())) return false;
  const char* cigar = cigar_stream.cursor();
  const char* const cigar_end = cigar_stream.limit();
  const char* md = md_stream.cursor();
  const char* const md_end = md_stream.limit();
  const char* const seq = sequence.data();
  const std::int32_t seq_len = static_cast<std::int32_t>(sequence.size());
  std::int32_t pos = read_pos;
  std::int32_t op_len = cigar_len;
  std::int32_t op_done = cigar_done;
  Kind kind = kind_of(cigar_op);
  // The state in locals, which byte stores cannot alias: kept in registers.
  const bool with_md = has_md;
  std::int32_t run_len = md_len;
  std::int32_t run_done = md_done;
  std::int32_t is_char = md_is_char;
  char md_base = md_char;
  char op_char = cigar_op;
  bool md_number_ends = false;  // a number token read to the end of the MD text
  bool settled = false;

  while (pos < seq_len) {
    if (op_done == 0) {
      const Count c = read_count(cigar, cigar_end);
      if (c.digits <= 0 || c.at_end || is_space(cigar[c.digits])) break;
      kind = kind_of(cigar[c.digits]);
      if (kind == Kind::hard_clip) break;  // settled with its rule
      op_len = c.value;
      op_char = cigar[c.digits];
      cigar += c.digits + 1;
      settled = true;
      if (op_len <= 0) break;
    }
    const std::int32_t op_left = op_len - op_done;
    // A deletion places no base, so only its own count bounds it.
    const std::int32_t seq_left = seq_len - pos;
    const std::int32_t k = std::min(
        op_left, kind == Kind::deletion ? std::numeric_limits<std::int32_t>::max() : seq_left);
    if (!out.fits(k)) break;
    const char* const base = seq + pos;

    if (kind == Kind::match && with_md) {
      out.begin(base, k);
      std::int32_t col = 0;
      while (col < k) {
        if (run_done == 0 && md != md_end) {
          // MD advance: a number starts a run, a letter is one mismatch.
          const Count t = read_count(md, md_end);
          if (t.digits < 0) break;
          if (t.value != 0) {
            run_len = t.value;
            is_char = 0;
            md += t.digits;
            md_number_ends = t.at_end;
          } else if (!t.at_end && is_letter(md[t.digits])) {
            md_base = md[t.digits];
            md += t.digits + 1;
            run_len = 0;
            is_char = 1;
            out.mismatch(col, md_base);
            ++col;
            continue;
          } else {
            break;
          }
        }
        if (is_char != 0 || run_done >= run_len) break;
        const std::int32_t step = std::min(run_len - run_done, k - col);
        run_done += step;
        col += step;
        if (run_done == run_len) run_done = 0;
      }
      out.end(col);
      pos += col;
      op_done += col;
      if (col == 0) break;
      settled = false;
      if (col < k) break;
    } else if (kind == Kind::match) {
      out.matched(base, k);
      pos += k;
      op_done += k;
    } else if (kind == Kind::insertion || kind == Kind::soft_clip) {
      // No MD token is read or spent here; one MD reset stands for all k.
      out.unaligned(base, k, kind == Kind::insertion ? '-' : 'N');
      if (is_char != 0) {
        run_done = 0;
      } else if (kind == Kind::insertion && run_done == run_len) {
        run_done = 0;
      }
      pos += k;
      op_done += k;
    } else if (kind == Kind::deletion && with_md && op_done == 0 && run_done == 0) {
      // "^" (after zeros, when a mismatch stands just before the deletion)
      // and the deleted bases, the first read with the "^", the others as
      // character tokens of their own.
      const char* q = md;
      while (q != md_end && *q == '0') ++q;
      if (q == md_end || *q != '^') break;
      const char* const bases = q + 1;
      const char* r = bases;
      while (r != md_end && r - bases < k && is_letter(*r)) ++r;
      const std::int32_t n = static_cast<std::int32_t>(r - bases);
      if (n == 0) break;
      out.deleted(bases, n);
      md = r;
      md_base = r[-1];
      run_len = 0;
      is_char = 1;
      op_done += n;
      settled = false;
      if (n < k) break;
    } else {
      break;
    }
    settled = false;
    if (op_done == op_len) op_done = 0;
  }

  out.finish();
  cigar_stream.skip(static_cast<std::size_t>(cigar - cigar_stream.cursor()));
  if (md_number_ends) {
    md_stream.skip_integer(static_cast<std::size_t>(md - md_stream.cursor()));
  } else {
    md_stream.skip(static_cast<std::size_t>(md - md_stream.cursor()));
  }
  read_pos = pos;
  cigar_len = op_len;
  cigar_done = op_done;
  md_len = run_len;
  md_done = run_done;
  md_is_char = is_char;
  md_char = md_base;
  cigar_op = op_char;
  return settled;
}

// After MD advance, lays out at once the columns, starting with this one,
// of a skip, a pad, or an aligned operation with the MD text used up or
// inside a number token's run, up to the next change; false, laying out
// nothing, when this column must go through the column steps.
bool Runs::odd_run() {
  if (cigar_done >= cigar_len) return false;
  const std::int64_t op_left = std::int64_t{cigar_len} - cigar_done;
  const std::int64_t seq_left = static_cast<std::int64_t>(sequence.size()) - read_pos;
  std::int64_t k = advances_read() ? std::min(op_left, seq_left) : op_left;
  const char* base = sequence.data() + read_pos;
  char read_fill = 0;  // 0: the read shows its bases
  char match = ' ';
  switch (cigar_op) {
    case 'N':
      read_fill = '.';
      lines.ref.fill('N', static_cast<std::size_t>(k));
      break;
    case 'P':
      read_fill = '*';
      lines.ref.fill('*', static_cast<std::size_t>(k));
      break;
    case 'M':
    case '=':
    case 'X':
    case 'D': {
      const bool deletion = cigar_op == 'D';
      if (deletion) read_fill = '-';
      if (!has_md) return false;  // a deletion is reported; the rest sprints
      if (md_is_char == 0 && md_done < md_len) {
        // Inside a number token's run the reference is the read's base.
        k = std::min<std::int64_t>(k, std::int64_t{md_len} - md_done);
        if (deletion) {
          lines.ref.fill(*base, static_cast<std::size_t>(k));
        } else {
          lines.ref.append(base, static_cast<std::size_t>(k));
          match = '|';
        }
        md_done += static_cast<std::int32_t>(k);
      } else if (md_left()) {
        return false;  // the next column reads another token
      } else if (md_is_char == 0 && md_len <= 0) {
        // A last token of zero or less shows nothing.
        if (!deletion) match = '|';
      } else if (md_is_char != 0 && md_char != '^') {
        // A last character token is shown again in every column.
        lines.ref.fill(md_char, static_cast<std::size_t>(k));
      } else {
        return false;
      }
      break;
    }
    default:
      return false;
  }
  if (read_fill != 0) {
    lines.read.fill(read_fill, static_cast<std::size_t>(k));
  } else {
    lines.read.append(base, static_cast<std::size_t>(k));
  }
  lines.match.fill(match, static_cast<std::size_t>(k));
  // One MD reset stands for k: after the first, the others change nothing.
  md_reset();
  cigar_done += static_cast<std::int32_t>(k);
  if (cigar_done == cigar_len) cigar_done = 0;
  if (advances_read()) read_pos += static_cast<std::int32_t>(k);
  return true;
}

}  // namespace

// Every column places a base or belongs to a D, N or P operation, and an
// operation of length 0 or less makes one column: so the bases, plus the
// counts of those operations (at least 1 each). Only D, N and P are looked
// for, 16 characters at a time, and the digits before each read backwards:
// a long read's CIGAR has hundreds of operations, and a loop that branched
// on every character would mispredict at each of them.
std::size_t column_bound(std::string_view cigar, std::size_t bases) {
  constexpr std::size_t kMaxDigits = 12;  // no overflow, whatever the text
  const char* const p = cigar.data();
  const std::size_t n = cigar.size();
  std::size_t columns = bases;
  const auto add = [&](std::size_t at) {
    std::size_t count = 0;
    std::size_t scale = 1;
    for (std::size_t i = at; i > 0 && at - i < kMaxDigits && is_digit(p[i - 1]); --i) {
      count += static_cast<std::size_t>(p[i - 1] - '0') * scale;
      scale *= 10;
    }
    columns += std::max<std::size_t>(count, 1);
  };
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i d = _mm_set1_epi8('D');
  const __m128i skip = _mm_set1_epi8('N');
  const __m128i pad = _mm_set1_epi8('P');
  for (; i + 16 <= n; i += 16) {
    const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i hits =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(chars, d), _mm_cmpeq_epi8(chars, skip)),
                     _mm_cmpeq_epi8(chars, pad));
    for (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits)); mask != 0;
         mask &= mask - 1)
      add(i + static_cast<std::size_t>(__builtin_ctz(mask)));
  }
#endif
  for (; i < n; ++i) {
    if (p[i] == 'D' || p[i] == 'N' || p[i] == 'P') add(i);
  }
  return columns;
}

Outcome lay_out_columns(std::string_view sequence, std::string_view cigar, std::string_view md,
                        Lines lines) {
  Walk w(sequence, cigar, md, lines);
  while (!w.all_placed()) {
    if (!w.settle_operation([&w] { return w.shift_operation(); })) return w.outcome;
    if (!w.advance_md() || !w.column()) return w.outcome;
  }
  return Outcome::completed;
}

Outcome lay_out_runs(std::string_view sequence, std::string_view cigar, std::string_view md,
                     Lines lines, std::size_t columns, bool spare) {
  Runs w(sequence, cigar, md, lines, columns, spare);
  while (!w.all_placed()) {
    const bool settled = w.sprint();
    if (w.all_placed()) break;
    if (!settled && !w.settle_operation([&w] { return w.shift_operation(); })) return w.outcome;
    if (!w.advance_md()) return w.outcome;
    if (w.odd_run()) continue;
    if (!w.column()) return w.outcome;
  }
  return Outcome::completed;
}

}  // namespace corvane
