#include "translate_md.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvane {
namespace {

struct Case {
  const char* what;
  std::string md_rest;  // what md_stream still holds
  std::int32_t md_done, md_len;
  char md_char;
  std::int32_t md_is_char, ref_gap, ref_skip, ref_pad, no_match_in;
  std::string appended;
  std::int32_t done_after;
  char char_after;
  std::int32_t no_match_after;
};

TEST(TranslateMd, OneColumn) {
  // sequence ACGT, read_pos 1: the read's base is C.
  const std::vector<Case> cases = {
      {"gap", "", 0, 5, 'A', 0, 1, 0, 0, 1, "-", 0, 'A', 1},
      {"skip", "", 2, 5, 'A', 0, 0, 1, 0, 1, "N", 2, 'A', 1},
      {"pad", "", 0, 5, 'A', 1, 0, 0, 1, 1, "*", 0, 'A', 1},
      {"gap wins over skip", "", 0, 5, 'A', 1, 1, 1, 0, 0, "-", 0, 'A', 0},
      {"mismatch", "", 0, 0, 'T', 1, 0, 0, 0, 0, "T", 1, 'T', 1},
      {"deleted base", "GC3", 0, 0, '^', 1, 0, 0, 0, 1, "G", 1, 'G', 1},
      {"caret outside a deletion", "A3", 0, 0, '^', 1, 0, 0, 0, 0, "A", 1, 'A', 0},
      {"caret then caret", "^", 0, 0, '^', 1, 0, 0, 0, 0, "^", 1, '^', 0},
      {"inside a run", "", 2, 5, 'A', 0, 0, 0, 0, 0, "C", 3, 'A', 0},
      {"run spent", "", 5, 5, 'A', 0, 0, 0, 0, 0, "", 5, 'A', 0},
      {"zero token", "", 0, 0, 'A', 0, 0, 0, 0, 0, "", 0, 'A', 0},
      {"negative token", "", 0, -3, 'A', 0, 0, 0, 0, 0, "", 0, 'A', 0},
  };
  for (const auto& c : cases) {
    CharStream s(c.md_rest);
    Line ref;
    ref.reset(64);
    std::int32_t done = c.md_done, no_match = c.no_match_in;
    char ch = c.md_char;
    translate_md(s, "ACGT", ref, 1, done, c.md_len, ch, c.md_is_char, c.ref_gap, no_match,
                 c.ref_skip, c.ref_pad);
    EXPECT_EQ(ref.held(), c.appended) << c.what;
    EXPECT_EQ(done, c.done_after) << c.what;
    EXPECT_EQ(ch, c.char_after) << c.what;
    EXPECT_EQ(no_match, c.no_match_after) << c.what;
  }
}

TEST(TranslateMd, CaretAtTheEndFails) {
  CharStream s("");
  Line ref;
  ref.reset(64);
  std::int32_t done = 0, no_match = 1;
  char ch = '^';
  EXPECT_THROW(translate_md(s, "ACGT", ref, 0, done, 0, ch, 1, 0, no_match, 0, 0), int);
  EXPECT_EQ(ref.size(), 0u);
  EXPECT_EQ(done, 0);
}

}  // namespace
}  // namespace corvane
