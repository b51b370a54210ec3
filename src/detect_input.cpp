#include "detect_input.hpp"

namespace corvane {
namespace {

// `start` against a signature: a match, a mismatch, or too short to tell.
enum class Match { yes, no, open };

Match match(std::string_view start, std::string_view signature) {
  const std::size_t n = start.size() < signature.size() ? start.size() : signature.size();
  if (start.substr(0, n) != signature.substr(0, n)) return Match::no;
  return n == signature.size() ? Match::yes : Match::open;
}

// "CRAM", then a major version of 1 to 7 and a minor one of 0 to 7.
Match match_cram(std::string_view start) {
  const Match magic = match(start, "CRAM");
  if (magic != Match::yes) return magic;
  if (start.size() < 5) return Match::open;
  if (start[4] < 1 || start[4] > 7) return Match::no;
  if (start.size() < 6) return Match::open;
  return start[5] >= 0 && start[5] <= 7 ? Match::yes : Match::no;
}

}  // namespace

InputForm detect_input(std::string_view start, bool whole) {
  using namespace std::string_view_literals;
  const struct {
    Match match;
    InputForm form;
  } candidates[] = {
      {match(start, "\x1f\x8b"sv), InputForm::gzip},
      {match(start, "BAM\1"sv), InputForm::bam},
      {match_cram(start), InputForm::cram},
  };
  bool open = false;
  for (const auto& c : candidates) {
    if (c.match == Match::yes) return c.form;
    open = open || c.match == Match::open;
  }
  return open && !whole ? InputForm::undecided : InputForm::text;
}

}  // namespace corvane
