#include "translate_cigar.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvane {
namespace {

struct Case {
  char op;
  char appended;
  std::int32_t no_match, ref_gap, ref_skip, ref_pad;
};

TEST(TranslateCigar, OneColumnPerOperation) {
  // sequence ACGT, read_pos 2: the base is G.
  const std::vector<Case> cases = {
      {'=', 'G', 0, 0, 0, 0}, {'M', 'G', 0, 0, 0, 0}, {'X', 'G', 0, 0, 0, 0},
      {'I', 'G', 1, 1, 0, 0}, {'S', 'G', 1, 0, 1, 0}, {'D', '-', 1, 0, 0, 0},
      {'N', '.', 1, 0, 1, 0}, {'P', '*', 1, 0, 0, 1},
  };
  for (const auto& c : cases) {
    Line read_line;
    read_line.reset(64);
    std::int32_t done = 0, no_match = 0, gap = 0, skip = 0, pad = 0;
    EXPECT_EQ(translate_cigar(read_line, "ACGT", c.op, 2, done, no_match, gap, skip, pad), 0);
    EXPECT_EQ(read_line.held(), std::string(1, c.appended)) << c.op;
    EXPECT_EQ(done, 1) << c.op;
    EXPECT_EQ(no_match, c.no_match) << c.op;
    EXPECT_EQ(gap, c.ref_gap) << c.op;
    EXPECT_EQ(skip, c.ref_skip) << c.op;
    EXPECT_EQ(pad, c.ref_pad) << c.op;
  }
}

TEST(TranslateCigar, RefusesEverythingElseUntouched) {
  for (int ch = 0; ch < 256; ++ch) {
    const char op = static_cast<char>(ch);
    if (std::string_view("=MXISDNP").find(op) != std::string_view::npos) continue;
    Line read_line;
    read_line.reset(64);
    read_line.push_back('x');
    std::int32_t done = 3, no_match = 0, gap = 0, skip = 0, pad = 0;
    EXPECT_THROW(translate_cigar(read_line, "ACGT", op, 0, done, no_match, gap, skip, pad), int)
        << ch;
    EXPECT_EQ(read_line.held(), "x");
    EXPECT_EQ(done, 3);
    EXPECT_EQ(no_match + gap + skip + pad, 0);
  }
}

}  // namespace
}  // namespace corvane
