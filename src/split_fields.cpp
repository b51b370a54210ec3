#include "split_fields.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvane {
namespace {

// The first white-space byte in [p, end), or end. SEQ and QUAL make most of
// a line, so the search looks at 16 bytes at a time where it can.
const char* find_space(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(' ');
  const __m128i tab = _mm_set1_epi8('\t');
  const __m128i four = _mm_set1_epi8(4);
  for (; end - p >= 16; p += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // \t \n \v \f \r are 9 to 13: bytes - 9 is at most 4 (unsigned) for them.
    const __m128i shifted = _mm_sub_epi8(bytes, tab);
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(shifted, four), shifted);
    const int mask = _mm_movemask_epi8(_mm_or_si128(control, _mm_cmpeq_epi8(bytes, space)));
    if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
  }
#endif
  while (p != end && !is_space(*p)) ++p;
  return p;
}

// Bit i set when byte i of the 64 at p is white space; bytes at or past
// p + left count as white space.
std::uint64_t space_mask(const char* p, std::size_t left) {
  char tail[64];
  if (left < 64) {
    std::memset(tail, ' ', sizeof tail);
    std::memcpy(tail, p, left);
    p = tail;
  }
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(' ');
  const __m128i tab = _mm_set1_epi8('\t');
  const __m128i four = _mm_set1_epi8(4);
  std::uint64_t mask = 0;
  for (int i = 0; i < 4; ++i) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    const __m128i shifted = _mm_sub_epi8(bytes, tab);
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(shifted, four), shifted);
    const unsigned bits = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(control, _mm_cmpeq_epi8(bytes, space))));
    mask |= std::uint64_t{bits} << (16 * i);
  }
  return mask;
#else
  std::uint64_t mask = 0;
  for (int i = 0; i < 64; ++i) mask |= std::uint64_t{is_space(p[i])} << i;
  return mask;
#endif
}

}  // namespace

std::size_t token_end(std::string_view text, std::size_t pos) {
  return static_cast<std::size_t>(find_space(text.data() + pos, text.data() + text.size()) -
                                  text.data());
}

Fields split_fields(std::string_view line) {
  // One bit per byte, set for white space, 64 bytes at a time. Every white
  // space byte ends whatever stands between it and the one before: a field
  // when that is not empty. A record's fields are parted by single tabs, so
  // this takes one step per field. Bytes past the line count as white space,
  // so the last field ends with the line.
  Fields f;
  const char* text = line.data();
  const std::size_t n = line.size();
  std::size_t start = 0;  // where the next field may begin
  int count = 0;
  for (std::size_t block = 0; block < n; block += 64) {
    std::uint64_t space = space_mask(text + block, n - block);
    while (space != 0) {
      const std::size_t at = std::min(block + __builtin_ctzll(space), n);
      space &= space - 1;
      if (at > start) {
        f.mandatory[count++] = std::string_view(text + start, at - start);
        if (count == Fields::kMandatory) {
          f.count = count;
          f.rest = std::string_view(text + at, n - at);
          return f;
        }
      }
      start = at + 1;
      if (at == n) break;
    }
  }
  if (start < n) {  // a line of whole blocks whose last field runs to its end
    f.mandatory[count++] = std::string_view(text + start, n - start);
  }
  f.count = count;
  return f;
}

}  // namespace corvane
