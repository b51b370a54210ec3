// The fast paths of the record loop must not change a byte: laying out
// whole runs of columns at once, laying out overlong blocks in one pass per
// line, and reading input in pieces of any size.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "corvane.hpp"

namespace corvane {
namespace {

struct Result {
  std::string out, err;
  int status;
  bool operator==(const Result&) const = default;
};

// The first line where two results differ, for a failure message that
// points at the fault instead of printing megabytes of blocks.
std::string first_difference(const Result& got, const Result& want) {
  for (const auto& [name, a, b] :
       {std::tuple{"stdout", &got.out, &want.out}, std::tuple{"stderr", &got.err, &want.err}}) {
    std::size_t at = 0;
    while (at < a->size() && at < b->size() && (*a)[at] == (*b)[at]) ++at;
    if (at == a->size() && at == b->size()) continue;
    const std::size_t line = a->rfind('\n', at == 0 ? 0 : at - 1);
    const std::size_t from = line == std::string::npos || at == 0 ? 0 : line + 1;
    const auto around = [&](const std::string* s) {
      return s->substr(from, std::min<std::size_t>(s->find('\n', at) - from, 300));
    };
    return std::string(name) + " differs at byte " + std::to_string(at) + "\n got: " + around(a) +
           "\nwant: " + around(b);
  }
  return "";
}

Result run(const std::string& input, const Options& options, std::size_t chunk = SIZE_MAX) {
  MemorySource in(input, chunk);
  MemorySink out, err;
  const int status = run_records(in, out, err, options);
  return {out.data, err.data, status};
}

// Checks that the run walk writes what the column walk writes for `input`,
// with lines in place, with lines that spill past `cap` bytes, and with the
// input read `chunk` bytes at a time; `want` gets the column walk's result.
::testing::AssertionResult same_every_way(const std::string& input, std::size_t cap,
                                          std::size_t chunk, Result& want) {
  Options columns;
  columns.runs = false;
  Options spilling;
  spilling.line_cap = cap;
  spilling.exact_line_cap = true;
  Options columns_spilling = spilling;
  columns_spilling.runs = false;
  want = run(input, columns);
  for (const auto& [what, got] :
       {std::pair{"runs", run(input, Options{})}, std::pair{"runs, spilling", run(input, spilling)},
        std::pair{"columns, spilling", run(input, columns_spilling)},
        std::pair{"runs, short reads", run(input, Options{}, chunk)}}) {
    if (got != want)
      return ::testing::AssertionFailure() << what << "\n" << first_difference(got, want);
  }
  return ::testing::AssertionSuccess();
}

class RandomSam {
 public:
  explicit RandomSam(unsigned seed) : rng_(seed) {}

  std::string input(int records) {
    std::string text;
    if (pick(3) == 0) text += "@HD\tVN:1.6\n@SQ\tSN:c\tLN:1000\n";
    for (int i = 0; i < records; ++i) text += record(i) + (pick(20) == 0 ? "\r\n" : "\n");
    if (pick(4) == 0) text.pop_back();  // no final line feed
    return text;
  }

 private:
  unsigned pick(unsigned n) { return rng_() % n; }

  std::string count() {
    switch (pick(12)) {
      case 0:
        return "0";
      case 1:
        return "-" + std::to_string(pick(5));
      case 2:
        return std::to_string(200 + pick(2000));
      case 3:
        return "+" + std::to_string(pick(9));
      default:
        return std::to_string(1 + pick(12));
    }
  }

  // A CIGAR text, and in `bases` the number of read bases it accounts for.
  std::string cigar(long& bases) {
    bases = 0;
    if (pick(100) == 0) return "*";
    static const std::string ops = "MMMMMM==XXIISSDDNNPPH";
    std::string c;
    const unsigned n = 1 + pick(7);
    for (unsigned i = 0; i < n; ++i) {
      const std::string k = count();
      const char op = pick(80) == 0 ? "Zm?"[pick(3)] : ops[pick(ops.size())];
      if (std::string_view("M=XIS").find(op) != std::string_view::npos) bases += std::stol(k);
      c += k;
      c += op;
    }
    if (pick(30) == 0) c += count();  // a count without its operation
    return c;
  }

  std::string md() {
    static const std::string bases = "ACGTN";
    std::string m;
    const unsigned n = pick(9);
    for (unsigned i = 0; i < n; ++i) {
      switch (pick(8)) {
        case 0:
          m += "^" + std::string(1 + pick(3), bases[pick(5)]);
          break;
        case 1:
          m += bases[pick(5)];
          break;
        case 2:
          m += "0";
          break;
        case 3:
          if (pick(10) == 0) m += "+";
          break;
        default:
          m += std::to_string(pick(15));
          break;
      }
    }
    // Rare malformed ends, each of which ends the run.
    if (pick(40) == 0) m += "^";
    if (pick(60) == 0) m += "-";
    return m;
  }

  std::string record(int i) {
    const unsigned kind = pick(40);
    if (kind == 0) return "";
    if (kind == 1) return "short\tline";
    long bases = 0;
    const std::string cig = cigar(bases);
    // Mostly as many bases as the CIGAR accounts for, sometimes a few more
    // or fewer.
    long len = bases > 0 && pick(8) != 0 ? bases : 1 + pick(40);
    if (pick(10) == 0) len = std::max(1L, len + static_cast<long>(pick(5)) - 3);
    std::string seq;
    for (long j = 0; j < len; ++j) seq += "ACGTN"[pick(5)];
    const char sep = pick(15) == 0 ? ' ' : '\t';
    std::string r = "r" + std::to_string(i);
    for (const std::string& f :
         {std::string("0"), std::string("c"), std::string("1"), std::string("60"), cig,
          std::string("="), std::string("0"), std::string("0"), seq, std::string(len, 'I')})
      r += sep + f;
    if (pick(4) != 0) r += "\tNM:i:0\tMD:Z:" + md();
    if (pick(10) == 0) r += "\tMD:Z:" + md();
    return r;
  }

  std::mt19937 rng_;
};

// Long noisy records as a long-read aligner writes them: thousands of
// columns with a mismatch, an insertion, a deletion or another operation
// every 1-20 columns, CIGAR and MD agreeing with the read; and in half of
// them one fault of the kinds malformed input has.
class LongNoisySam {
 public:
  explicit LongNoisySam(unsigned seed) : rng_(seed) {}

  std::string input(int records) {
    std::string text;
    for (int i = 0; i < records; ++i) text += record(i) + "\n";
    return text;
  }

 private:
  long pick(long n) { return static_cast<long>(rng_() % static_cast<unsigned long>(n)); }
  char base() { return "ACGT"[pick(4)]; }

  void op(long n, char c) {
    if (!ops_.empty() && ops_.back().second == c) {
      ops_.back().first += n;
    } else {
      ops_.emplace_back(n, c);
    }
  }
  // The MD number before a mismatch or deletion, and at the end.
  void md_run() {
    md_ += std::to_string(run_);
    run_ = 0;
  }
  void clip(char c) {
    const long n = 1 + pick(200);
    op(n, c);
    if (c == 'S') seq_.append(static_cast<std::size_t>(n), base());
  }
  // A stretch of aligned columns, one in eight a mismatch.
  void aligned(long n, char c) {
    for (long j = 0; j < n; ++j) {
      const char b = base();
      if (pick(8) == 0) {
        md_run();
        md_ += static_cast<char>(b == 'A' ? 'C' : 'A');
      } else {
        ++run_;
      }
      seq_ += b;
    }
    op(n, c);
  }

  std::string record(int i) {
    ops_.clear();
    seq_.clear();
    md_.clear();
    run_ = 0;
    if (pick(8) == 0) clip('H');
    if (pick(2) == 0) clip('S');
    const long columns = 500 + pick(5000);
    for (long made = 0; made < columns;) {
      const long e = pick(100);
      long n = 1 + pick(5);
      if (e < 55) {
        n = 1 + pick(20);
        aligned(n, pick(10) == 0 ? "=X"[pick(2)] : 'M');
      } else if (e < 72) {
        for (long j = 0; j < n; ++j) seq_ += base();
        op(n, 'I');
      } else if (e < 92) {
        md_run();
        md_ += '^';
        for (long j = 0; j < n; ++j) md_ += base();
        op(n, 'D');
        aligned(1, 'M');  // as aligners do: a base between two deletions
      } else if (e < 97) {
        n = 1 + pick(50);
        op(n, 'N');
      } else {
        op(n, 'P');
      }
      made += n;
    }
    aligned(1 + pick(20), 'M');
    md_run();
    if (pick(2) == 0) clip('S');
    if (pick(8) == 0) clip('H');
    fault();
    std::string cigar;
    for (const auto& [n, c] : ops_) cigar += (n == kNoCount ? "" : std::to_string(n)) + c;
    if (pick(40) == 0) cigar += "12";  // a count without its operation
    std::string r =
        "long" + std::to_string(i) + "\t0\tc\t1\t60\t" + cigar + "\t*\t0\t0\t" + seq_ + "\t*";
    if (md_ != "-") r += "\tMD:Z:" + md_;
    return r;
  }

  // At most one fault, in half of the records.
  void fault() {
    const auto at = [this](const std::string& s) {
      return static_cast<std::size_t>(pick(static_cast<long>(s.size()) + 1));
    };
    auto& some_op = ops_[static_cast<std::size_t>(pick(static_cast<long>(ops_.size())))];
    switch (pick(26)) {
      case 0:
        some_op.first += pick(7) - 3;  // off by a few, to 0 or below now and then
        break;
      case 1:
        some_op.first = kNoCount;  // an operation without its count
        break;
      case 2:
        some_op.second = "Zm?H="[pick(5)];
        break;
      case 3:
        md_.resize(at(md_));  // cut short
        break;
      case 4:
        md_ += "0^+-"[pick(4)];
        break;
      case 5:
        if (!md_.empty()) md_.erase(at(md_) % md_.size(), 1);
        break;
      case 6:
        md_.insert(at(md_), 1, "^0A+"[pick(4)]);
        break;
      case 7:
        md_.insert(at(md_), "99999999999");
        break;
      case 8:
        md_ = "-";  // no MD tag
        break;
      case 9:
        if (pick(2) == 0 && seq_.size() > 1) {
          seq_.resize(seq_.size() - 1 - static_cast<std::size_t>(pick(3)) % (seq_.size() - 1));
        } else {
          seq_ += "ACG";
        }
        break;
      default:
        break;
    }
  }

  static constexpr long kNoCount = -1000000;
  std::mt19937 rng_;
  std::vector<std::pair<long, char>> ops_;
  std::string seq_, md_;
  long run_ = 0;
};

TEST(FastPaths, SameBytesAsColumnByColumn) {
  int fatal = 0, blocks = 0;
  for (unsigned seed = 1; seed <= 3000; ++seed) {
    RandomSam gen(seed);
    Result want;
    // A cap of one byte: every line of every block spills.
    ASSERT_TRUE(same_every_way(gen.input(25), 1, 1 + seed % 7, want)) << "seed " << seed;
    fatal += want.status;
    for (char c : want.out) blocks += c == '\n';
  }
  // The generator must reach both ends of the outcomes.
  blocks /= 4;
  EXPECT_GT(fatal, 300);
  EXPECT_GT(blocks, 8000);
}

// The corners where the column steps do something particular, each a run of
// its own, since some end the run.
TEST(FastPaths, CornersSameBytesAsColumnByColumn) {
  struct Case {
    const char* cigar;
    const char* seq;
    const char* md;  // nullptr: no MD tag
  };
  const std::vector<Case> cases = {
      // Hard clips while MD text is unread, and once it is all read.
      {"2H5M", "ACGTA", "5"},
      {"3M1H3M", "ACGTAC", "2A3"},
      {"3M1H3M", "ACGTAC", "6"},
      {"3M1H", "ACGT", "2A1"},
      {"1H5M", "ACGTA", nullptr},
      // The last token used again, and a trailing 0.
      {"10M", "ACGTACGTAC", "4"},
      {"10M", "ACGTACGTAC", "3A"},
      {"3M2D3M", "ACGTAC", "3^A"},
      {"3M4D3M", "ACGTAC", "3^AC2"},
      {"6M", "ACGTAC", "2A0"},
      {"6M2I2M", "ACGTACGTAC", "2A0"},
      // "^" outside a deletion, and after itself.
      {"6M", "ACGTAC", "3^A3"},
      {"6M", "ACGTAC", "^^A5"},
      {"2M2D4M", "ACGTAC", "2^^A4"},
      // Operations of length 0 or less, around MD tokens.
      {"0M3M", "ACG", nullptr},
      {"2M0N1M", "ACG", nullptr},
      {"1M0S1I3M", "ACGTA", "2"},
      {"1M0S0S1I3M", "ACGTA", "1A2"},
      {"-1M4M", "ACGT", "4"},
      {"0S2M", "AC", "2"},
      {"0I3M", "ACG", "3"},
      {"2M0D2M", "ACGT", "2^A2"},
      {"2M-3D2M", "ACGT", "4"},
      // Failures, at the column where they arise.
      {"2M1D4M", "ACGTAC", "2^"},
      {"6M", "ACGTAC", "3+"},
      {"6M", "ACGTAC", "3-"},
      {"6M", "ACGTAC", "2A99999999999"},
      {"3M", "ACGT", nullptr},
      {"*", "ACGT", "4"},
      {"3M1Z2M", "ACGTAC", "6"},
      {"2M1D3M", "ACGTA", nullptr},
      {"3M+", "ACGT", "4"},
      // Skips and pads read no token: what N or P columns would read stays.
      {"3M2N3M", "ACGTAC", "3T2"},
      {"3M2P3M", "ACGTAC", "6"},
      {"2M3N2D2M", "ACGT", "2^AC2"},
      // Signed and overlong counts and tokens, read by the streams.
      {"+3M+3M", "ACGTAC", "+6"},
      {"007M", "ACGTACG", "0007"},
      {"100000000M", "ACGTAC", "00000000006"},
  };
  for (const Case& c : cases) {
    std::string input = std::string("r\t0\tc\t1\t60\t") + c.cigar + "\t*\t0\t0\t" + c.seq + "\t*";
    if (c.md != nullptr) input += std::string("\tMD:Z:") + c.md;
    input += "\nnext\t0\tc\t1\t60\t4M\t*\t0\t0\tACGT\t*\tMD:Z:1A2\n";
    Result want;
    EXPECT_TRUE(same_every_way(input, 1, 3, want))
        << c.cigar << " " << c.seq << " " << (c.md != nullptr ? c.md : "(no MD)");
  }
}

TEST(FastPaths, LongNoisyRecordsSameBytesAsColumnByColumn) {
  int fatal = 0, blocks = 0, reports = 0;
  for (unsigned seed = 1; seed <= 300; ++seed) {
    LongNoisySam gen(seed);
    Result want;
    ASSERT_TRUE(same_every_way(gen.input(6), 256, 1 + seed % 4000, want)) << "seed " << seed;
    fatal += want.status;
    for (char c : want.out) blocks += c == '\n';
    for (std::size_t at = 0; (at = want.err.find("\n\n\n", at)) != std::string::npos; at += 3)
      ++reports;
  }
  // Clean records and each kind of ending must all be common.
  blocks /= 4;
  EXPECT_GT(blocks, 900);
  EXPECT_GT(fatal, 40);
  EXPECT_GT(reports, 20);
}

}  // namespace
}  // namespace corvane
