#include "unpack_bases.hpp"

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace corvane {
namespace {

constexpr char kLetters[] = "=ACMGRSVTWYHKDBN";

// The two letters of each byte.
struct LetterPairs {
  char pair[256][2];
  constexpr LetterPairs() : pair() {
    for (int i = 0; i < 256; ++i) {
      pair[i][0] = kLetters[i >> 4];
      pair[i][1] = kLetters[i & 15];
    }
  }
};
constexpr LetterPairs kPairs;

void unpack_plain(const std::uint8_t* packed, std::size_t bytes, char* out) {
  for (std::size_t i = 0; i < bytes; ++i) std::memcpy(out + 2 * i, kPairs.pair[packed[i]], 2);
}

#if defined(__x86_64__)
// Sixteen bytes: each half byte looks its letter up with one shuffle.
__attribute__((target("ssse3"))) inline void sixteen(const std::uint8_t* in, char* to) {
  const __m128i letters = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kLetters));
  const __m128i low = _mm_set1_epi8(0x0f);
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  const __m128i first = _mm_shuffle_epi8(letters, _mm_and_si128(_mm_srli_epi16(b, 4), low));
  const __m128i second = _mm_shuffle_epi8(letters, _mm_and_si128(b, low));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_unpacklo_epi8(first, second));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 16), _mm_unpackhi_epi8(first, second));
}

// The last bytes go through a copy: the packed SEQ may end the record.
__attribute__((target("ssse3"))) void unpack_ssse3(const std::uint8_t* packed, std::size_t bytes,
                                                   char* out) {
  std::size_t i = 0;
  for (; i + 16 <= bytes; i += 16) sixteen(packed + i, out + 2 * i);
  if (i == bytes) return;
  std::uint8_t last[16] = {};
  std::memcpy(last, packed + i, bytes - i);
  sixteen(last, out + 2 * i);
}

const auto unpack = __builtin_cpu_supports("ssse3") ? unpack_ssse3 : unpack_plain;
#else
const auto unpack = unpack_plain;
#endif

}  // namespace

void unpack_bases(const std::uint8_t* packed, std::size_t bases, char* out) {
  unpack(packed, (bases + 1) / 2, out);
}

}  // namespace corvane
