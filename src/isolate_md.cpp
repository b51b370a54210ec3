#include "isolate_md.hpp"

namespace corvane {

std::string_view isolate_md(const Fields& fields) {
  constexpr std::string_view kTag = "MD:Z:";
  std::string_view md;
  std::size_t pos = 0;
  for (;;) {
    const std::string_view token = next_token(fields.rest, pos);
    if (token.empty()) return md;
    // No early exit: a later MD tag replaces an earlier one.
    if (token.substr(0, kTag.size()) == kTag) md = token.substr(kTag.size());
  }
}

}  // namespace corvane
