// The character stream must read exactly as std::istringstream does.
#include "char_stream.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace corvane {
namespace {

// One step of a script run on both streams.
enum class Op { read_int, read_char, clear };

// Runs `ops` on both streams over `text` and compares every observable after
// every step: the value stored, the three indicators, the unread count.
void expect_same(const std::string& text, const std::vector<Op>& ops) {
  std::istringstream ref(text);
  CharStream ours(text);
  std::int32_t ref_int = 12345, our_int = 12345;
  char ref_char = '?', our_char = '?';
  for (std::size_t i = 0; i < ops.size(); ++i) {
    switch (ops[i]) {
      case Op::read_int:
        ref >> ref_int;
        ours >> our_int;
        break;
      case Op::read_char:
        ref >> ref_char;
        ours >> our_char;
        break;
      case Op::clear:
        ref.clear();
        ours.clear();
        break;
    }
    const std::string where = "text '" + text + "' step " + std::to_string(i);
    ASSERT_EQ(our_int, ref_int) << where;
    ASSERT_EQ(our_char, ref_char) << where;
    ASSERT_EQ(ours.eof(), ref.eof()) << where;
    ASSERT_EQ(ours.fail(), ref.fail()) << where;
    ASSERT_EQ(ours.bad(), ref.bad()) << where;
    ASSERT_EQ(ours.good(), ref.good()) << where;
    ASSERT_EQ(ours.in_avail(), ref.rdbuf()->in_avail()) << where;
  }
}

const std::vector<std::vector<Op>> kScripts = {
    {Op::read_int, Op::read_char, Op::read_int, Op::read_char, Op::read_int},
    {Op::read_int, Op::clear, Op::read_char, Op::read_int, Op::clear, Op::read_char},
    {Op::read_char, Op::read_char, Op::read_int, Op::read_int, Op::clear, Op::read_int},
    {Op::read_int, Op::read_int, Op::clear, Op::read_char, Op::read_char, Op::read_char},
};

TEST(CharStream, MatchesStringStreamOnEdgeTexts) {
  const std::vector<std::string> texts = {"",
                                          " ",
                                          "\t\n\v\f\r",
                                          "0",
                                          "7",
                                          "007M",
                                          "+4M",
                                          "-4M",
                                          "+",
                                          "-",
                                          "+-5",
                                          "-+5",
                                          "--",
                                          "++1",
                                          "10",
                                          "10M",
                                          "10M5",
                                          "10 M",
                                          " 10M",
                                          "10M ",
                                          "M5",
                                          "*",
                                          "x",
                                          "0x1A",
                                          "1.5",
                                          "1,000",
                                          "2147483647M",
                                          "2147483648M",
                                          "-2147483648M",
                                          "-2147483649M",
                                          "99999999999A",
                                          "-99999999999A",
                                          "999999999999999999999999999999",
                                          "00000000000000000000000000001",
                                          "2A0C2",
                                          "5A0",
                                          "^AC3",
                                          "3+",
                                          "3-",
                                          "12A3",
                                          "A5",
                                          "0A5",
                                          "\x80\xff",
                                          std::string("1\0M", 3),
                                          "4294967296",
                                          "9223372036854775807",
                                          "9223372036854775808",
                                          "-9223372036854775809",
                                          "18446744073709551616",
                                          "2147483650",
                                          "-0",
                                          "+0",
                                          "0000"};
  for (const auto& text : texts)
    for (const auto& script : kScripts) expect_same(text, script);
}

TEST(CharStream, MatchesStringStreamOnRandomTexts) {
  std::mt19937 rng(20261210);
  const std::string alphabet = "0123456789+-MIDNSHP=X^ACGTN*\t x\x80";
  for (int round = 0; round < 5000; ++round) {
    std::string text;
    const int len = static_cast<int>(rng() % 16);
    for (int i = 0; i < len; ++i) {
      // Long digit runs now and then, to reach the range limits.
      if (rng() % 8 == 0) {
        text += std::to_string(rng() % 3000000000u);
      } else {
        text += alphabet[rng() % alphabet.size()];
      }
    }
    std::vector<Op> script;
    const int steps = 1 + static_cast<int>(rng() % 10);
    for (int i = 0; i < steps; ++i) script.push_back(static_cast<Op>(rng() % 3));
    expect_same(text, script);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace corvane
