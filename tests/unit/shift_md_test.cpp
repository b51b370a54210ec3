#include "shift_md.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvane {
namespace {

// A token as a string: "12" for a number token, "'A'" for a character token.
std::string token(std::int32_t is_char, std::int32_t len, char ch) {
  return is_char ? std::string("'") + ch + "'" : std::to_string(len);
}

struct Case {
  std::string md;
  std::vector<std::string> tokens;  // read while characters remain
  bool fails = false;               // then MD read failure
};

TEST(ShiftMd, SuccessiveTokens) {
  const std::vector<Case> cases = {
      {"12A3", {"12", "'A'", "3"}},
      {"2A0C2", {"2", "'A'", "'C'", "2"}},
      {"5A0", {"5", "'A'", "0"}},
      {"^AC3", {"'^'", "'A'", "'C'", "3"}},
      {"A5", {"'A'", "5"}},
      {"0A5", {"'A'", "5"}},
      {"0", {"0"}},
      {"00A", {"'A'"}},
      {"+A", {"'A'"}},
      {"-3T", {"-3", "'T'"}},
      {"99999999999A", {"'A'"}},
      {"3+", {"3"}, true},
      {"3-", {"3"}, true},
      {"99999999999", {}, true},
      {"^", {"'^'"}},
  };
  for (const auto& c : cases) {
    CharStream s(c.md);
    std::int32_t is_char = 1, len = -7;
    char ch = 'N';
    std::vector<std::string> got;
    bool failed = false;
    while (s.in_avail() != 0) {
      try {
        shift_md(s, is_char, len, ch);
      } catch (char e) {
        EXPECT_EQ(e, 'e');
        failed = true;
        break;
      }
      got.push_back(token(is_char, len, ch));
    }
    EXPECT_EQ(got, c.tokens) << c.md;
    EXPECT_EQ(failed, c.fails) << c.md;
  }
}

TEST(ShiftMd, ValuesLeftByEachKindOfToken) {
  // A number token keeps the previous character.
  CharStream s("T4");
  std::int32_t is_char = 1, len = 0;
  char ch = 'N';
  shift_md(s, is_char, len, ch);
  shift_md(s, is_char, len, ch);
  EXPECT_EQ(is_char, 0);
  EXPECT_EQ(len, 4);
  EXPECT_EQ(ch, 'T');

  // A huge number before a character stores the bound.
  CharStream big("99999999999A");
  shift_md(big, is_char, len, ch);
  EXPECT_EQ(is_char, 1);
  EXPECT_EQ(len, 2147483647);
  EXPECT_EQ(ch, 'A');

  // The failure leaves the token pieces as they were, but for md_len.
  CharStream tail("-");
  is_char = 0;
  ch = 'G';
  EXPECT_THROW(shift_md(tail, is_char, len, ch), char);
  EXPECT_EQ(is_char, 0);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(ch, 'G');
  EXPECT_TRUE(tail.fail());
  EXPECT_TRUE(tail.eof());
  // A failed stream makes the call a no-op.
  EXPECT_NO_THROW(shift_md(tail, is_char, len, ch));
}

}  // namespace
}  // namespace corvane
