#include "isolate_md.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace corvane {
namespace {

TEST(IsolateMd, PicksTheLastMdTag) {
  const std::string head = "r\t0\tc\t1\t60\t6M\t=\t0\t0\tACGTAC\tIIIIII";
  struct Case {
    std::string optional;
    std::string md;
  } cases[] = {
      {"", ""},
      {"\tNM:i:0\tMD:Z:6", "6"},
      {"\tMD:Z:6\tMD:Z:3T2", "3T2"},
      {"\tMD:Z:", ""},
      {"\tMD:Z:3T2\tMD:Z:", ""},
      {"\tMD:Z:\tMD:Z:5", "5"},
      {"\tMD:Z:\t\tXMD:Z:1 MD:Z:2", "2"},
      {"\tmd:z:6", ""},
      {"\tMD:Z", ""},
      {"\tMD:i:6", ""},
      {"\tXMD:Z:6", ""},
      {"\tCO:Z:two words\tMD:Z:2A3", "2A3"},
      {"   MD:Z:4\r", "4"},
      {"\tMD:Z:MD:Z:1", "MD:Z:1"},
  };
  for (const auto& c : cases) {
    const std::string line = head + c.optional;
    EXPECT_EQ(isolate_md(split_fields(line)), c.md) << c.optional;
  }
}

TEST(IsolateMd, NeverLooksAtTheMandatoryFields) {
  const std::string line = "MD:Z:1\t0\tc\t1\t60\t6M\t=\t0\t0\tMD:Z:2\tMD:Z:3";
  const Fields f = split_fields(line);
  EXPECT_EQ(f.count, 11);
  EXPECT_EQ(isolate_md(f), "");
}

TEST(SplitFields, TokensOnWhiteSpace) {
  const Fields f = split_fields(
      " \ta\x0b"
      "b\x0c"
      "c\r d \x80\xff  ");
  ASSERT_EQ(f.count, 5);
  EXPECT_EQ(f.mandatory[0], "a");
  EXPECT_EQ(f.mandatory[3], "d");
  EXPECT_EQ(f.mandatory[4], "\x80\xff");
  EXPECT_EQ(split_fields(" \t\r\x0b\x0c").count, 0);
  EXPECT_EQ(split_fields(std::string("a\0b c", 5)).mandatory[0], std::string("a\0b", 3));
}

// The block-wise split must agree with a plain byte-by-byte one on lines of
// every length around the block size, and on where the optional fields start.
TEST(SplitFields, AgreesWithAPlainSplit) {
  std::mt19937 rng(7);
  const std::string alphabet = std::string("ACGT \t\r\v\f\x80\xff") + '\0';
  for (int round = 0; round < 20000; ++round) {
    std::string line;
    const int len = static_cast<int>(rng() % 300);
    for (int i = 0; i < len; ++i) line += alphabet[rng() % (round % 2 ? 4 : alphabet.size())];
    std::vector<std::string_view> want;
    std::size_t i = 0, rest = line.size();
    while (i < line.size()) {
      while (i < line.size() && is_space(line[i])) ++i;
      if (i == line.size()) break;
      const std::size_t start = i;
      while (i < line.size() && !is_space(line[i])) ++i;
      if (want.size() < 11) want.push_back(std::string_view(line).substr(start, i - start));
      if (want.size() == 11 && rest == line.size()) rest = i;
    }
    const Fields f = split_fields(line);
    ASSERT_EQ(f.count, static_cast<int>(want.size())) << round;
    for (int k = 0; k < f.count; ++k) ASSERT_EQ(f.mandatory[k], want[k]) << round;
    ASSERT_EQ(f.rest, std::string_view(line).substr(f.count == 11 ? rest : line.size())) << round;
  }
}

}  // namespace
}  // namespace corvane
