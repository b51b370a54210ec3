#include "isolate_md.hpp"

namespace corvane {

std::string_view isolate_md(const Fields& fields) {
  constexpr std::string_view kTag = "MD:Z:";
  const std::string_view rest = fields.rest;
  std::string_view md;
  // Every place the tag starts a field, that is, right after white space
  // (rest itself starts with the white space after QUAL). The tag cannot
  // overlap itself, so no start is missed; the last one wins.
  std::size_t at = 0;
  while ((at = rest.find(kTag, at)) != std::string_view::npos) {
    if (at != 0 && is_space(rest[at - 1])) {
      const std::size_t value = at + kTag.size();
      const std::size_t end = token_end(rest, value);
      md = rest.substr(value, end - value);
      at = end;
    } else {
      at += 1;
    }
  }
  return md;
}

}  // namespace corvane
