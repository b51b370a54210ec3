#include "split_fields.hpp"

namespace corvane {

std::string_view next_token(std::string_view text, std::size_t& pos) {
  const std::size_t n = text.size();
  while (pos < n && is_space(text[pos])) ++pos;
  const std::size_t start = pos;
  while (pos < n && !is_space(text[pos])) ++pos;
  return text.substr(start, pos - start);
}

Fields split_fields(std::string_view line) {
  Fields f;
  std::size_t pos = 0;
  while (f.count < Fields::kMandatory) {
    const std::string_view token = next_token(line, pos);
    if (token.empty()) break;
    f.mandatory[f.count++] = token;
  }
  f.rest = line.substr(pos);
  return f;
}

}  // namespace corvane
