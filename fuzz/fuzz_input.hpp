// What both fuzz targets need to know about an input before they run it.
#pragma once

#include <cstdint>
#include <string_view>

namespace corvane::fuzz {

// The columns that D, N and P operations could ask for, at most: their
// counts summed over the whole input. Output grows with them, not with the
// input, so a few such counts near 2**31 in a small input mean gigabytes to
// write; the large-input tests cover that path, the fuzzers skip it.
inline std::uint64_t skip_columns(std::string_view input) {
  std::uint64_t total = 0, count = 0;
  for (const char c : input) {
    if (c >= '0' && c <= '9') {
      count =
          count < (std::uint64_t{1} << 40) ? count * 10 + static_cast<unsigned>(c - '0') : count;
      continue;
    }
    if (c == 'D' || c == 'N' || c == 'P') total += count;
    count = 0;
  }
  return total;
}

inline bool too_much_output(std::string_view input) {
  return skip_columns(input) > (std::uint64_t{1} << 26);
}

}  // namespace corvane::fuzz
