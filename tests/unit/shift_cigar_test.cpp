#include "shift_cigar.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvane {
namespace {

struct Op {
  std::int32_t len;
  char op;
};

struct Case {
  std::string cigar;
  std::vector<Op> ops;       // what the successive calls deliver
  bool fails;                // the call after them raises CIGAR read failure
  std::int32_t len_after;    // cigar_len after that failing call
  std::int64_t unread = -1;  // characters left after the failure, when checked
};

TEST(ShiftCigar, SuccessiveCalls) {
  const std::vector<Case> cases = {
      {"10M", {{10, 'M'}}, true, 10},
      {"5=3X", {{5, '='}, {3, 'X'}}, true, 3},
      {"*", {}, true, 0, 1},
      {"M5", {}, true, 0, 2},
      {"10", {}, true, 10},
      {"10M5", {{10, 'M'}}, true, 5},
      {"+4M", {{4, 'M'}}, true, 4},
      {"-4M", {{-4, 'M'}}, true, -4},
      {"007M", {{7, 'M'}}, true, 7},
      {"0M", {{0, 'M'}}, true, 0},
      {"+", {}, true, 0},
      {"-M", {}, true, 0, 1},
      {"2147483647M", {{2147483647, 'M'}}, true, 2147483647},
      {"2147483648M", {}, true, 2147483647, 1},
      {"-2147483648M", {{-2147483647 - 1, 'M'}}, true, -2147483647 - 1},
      {"-2147483649M", {}, true, -2147483647 - 1, 1},
      {"4m", {{4, 'm'}}, true, 4},
      {"5H3M", {{5, 'H'}, {3, 'M'}}, true, 3},
      {" 10M", {{10, 'M'}}, true, 10},
      {"10 M", {{10, 'M'}}, true, 10},
      {"10M ", {{10, 'M'}}, true, 10},
      {"3M3", {{3, 'M'}}, true, 3},
      {"1\x80", {{1, '\x80'}}, true, 1},
  };
  for (const auto& c : cases) {
    CharStream s(c.cigar);
    std::int32_t len = -99;
    char op = '?';
    for (const auto& want : c.ops) {
      ASSERT_NO_THROW(shift_cigar(s, len, op)) << c.cigar;
      EXPECT_EQ(len, want.len) << c.cigar;
      EXPECT_EQ(op, want.op) << c.cigar;
    }
    const char op_before = op;
    if (c.ops.empty()) len = -99;
    EXPECT_THROW(shift_cigar(s, len, op), int) << c.cigar;
    EXPECT_EQ(len, c.len_after) << c.cigar;
    EXPECT_EQ(op, op_before) << c.cigar << ": the operation keeps its value on failure";
    if (c.unread >= 0) {
      EXPECT_EQ(s.in_avail(), c.unread) << c.cigar;
    }
    // A failed stream is left alone: no read, no throw.
    EXPECT_NO_THROW(shift_cigar(s, len, op)) << c.cigar;
    EXPECT_EQ(len, c.len_after) << c.cigar;
  }
}

TEST(ShiftCigar, EmptyTextLeavesLengthUnchanged) {
  CharStream s("");
  std::int32_t len = 42;
  char op = 'Q';
  EXPECT_THROW(shift_cigar(s, len, op), int);
  EXPECT_EQ(len, 42);
  EXPECT_EQ(op, 'Q');
  EXPECT_TRUE(s.eof());
}

}  // namespace
}  // namespace corvane
