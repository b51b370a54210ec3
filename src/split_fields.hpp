#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace corvane {

// The white-space-separated tokens of a record line, as views into it. The
// first eleven (QNAME to QUAL) are held one by one; the optional fields after
// them are left as one text, scanned only by isolate_md, so a line with a
// million fields costs no more memory than a line with eleven.
struct Fields {
  static constexpr int kMandatory = 11;
  std::array<std::string_view, kMandatory> mandatory;
  int count = 0;          // tokens in `mandatory`, at most 11
  std::string_view rest;  // the line after mandatory[10]: fields 11 onward
};

// White space as the default POSIX locale has it: space, \t, \n, \v, \f, \r.
inline bool is_space(char c) {
  return c == ' ' || static_cast<unsigned char>(c - '\t') <= 4;
}

Fields split_fields(std::string_view line);

// The index of the first white-space byte at or after `pos`, or text.size().
std::size_t token_end(std::string_view text, std::size_t pos);

// Whether `text` holds a white-space byte.
inline bool has_space(std::string_view text) { return token_end(text, 0) != text.size(); }

}  // namespace corvane
