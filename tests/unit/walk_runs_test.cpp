// The fast paths of the record loop must not change a byte: laying out
// whole runs of columns at once, laying out overlong blocks in one pass per
// line, and reading input in pieces of any size.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <random>
#include <string>
#include <tuple>

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
void PrintTo(const Result& r, std::ostream* os) {
  *os << "status " << r.status;
}

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

TEST(FastPaths, SameBytesAsColumnByColumn) {
  Options reference;
  reference.runs = false;
  Options spilling;  // every block longer than its record line is spilled
  spilling.line_cap = 1;
  Options both = spilling;
  both.runs = false;
  int fatal = 0, blocks = 0;
  for (unsigned seed = 1; seed <= 3000; ++seed) {
    RandomSam gen(seed);
    const std::string input = gen.input(25);
    const Result want = run(input, reference);
    for (const auto& [what, got] :
         {std::pair{"runs", run(input, Options{})},
          std::pair{"runs, spilling", run(input, spilling)},
          std::pair{"columns, spilling", run(input, both)},
          std::pair{"runs, short reads", run(input, Options{}, 1 + seed % 7)}})
      ASSERT_EQ(got, want) << what << ", seed " << seed << "\n" << first_difference(got, want);
    fatal += want.status;
    for (char c : want.out) blocks += c == '\n';
  }
  // The generator must reach both ends of the outcomes.
  blocks /= 4;
  EXPECT_GT(fatal, 300);
  EXPECT_GT(blocks, 8000);
}

}  // namespace
}  // namespace corvane
