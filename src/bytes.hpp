// Copies and fills of a few bytes without a library call.
//
// The run-at-a-time layout writes a handful of bytes per CIGAR operation and
// MD token; a call to memcpy or memset costs more than the bytes themselves.
// Up to 32 bytes take two overlapping moves of a fixed size, which the
// compiler turns into single loads and stores; more go to the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace corvane {

namespace detail {

template <std::size_t N>
inline void move_pair(char* to, const char* from, std::size_t n) {
  char head[N], tail[N];
  std::memcpy(head, from, N);
  std::memcpy(tail, from + n - N, N);
  std::memcpy(to, head, N);
  std::memcpy(to + n - N, tail, N);
}

template <std::size_t N>
inline void fill_pair(char* to, std::uint64_t pattern, std::size_t n) {
  std::memcpy(to, &pattern, N);
  std::memcpy(to + n - N, &pattern, N);
}

inline void move_block(char* to, const char* from) {
  char block[32];
  std::memcpy(block, from, 32);
  std::memcpy(to, block, 32);
}

}  // namespace detail

// n bytes from `from` to `to`; the ranges do not overlap.
inline void copy_bytes(char* to, const char* from, std::size_t n) {
  if (n > 32) {
    std::memcpy(to, from, n);
  } else if (n > 16) {
    detail::move_pair<16>(to, from, n);
  } else if (n >= 8) {
    detail::move_pair<8>(to, from, n);
  } else if (n >= 4) {
    detail::move_pair<4>(to, from, n);
  } else if (n >= 2) {
    detail::move_pair<2>(to, from, n);
  } else if (n == 1) {
    *to = *from;
  }
}

// n bytes of c at `to`.
inline void fill_bytes(char* to, char c, std::size_t n) {
  if (n > 32) {
    std::memset(to, c, n);
    return;
  }
  const std::uint64_t pattern = 0x0101010101010101ULL * static_cast<unsigned char>(c);
  if (n >= 8) {
    // Eight at a time from the front, the last eight from the back.
    for (std::size_t i = 0; i + 8 < n; i += 8) std::memcpy(to + i, &pattern, 8);
    std::memcpy(to + n - 8, &pattern, 8);
  } else if (n >= 4) {
    detail::fill_pair<4>(to, pattern, n);
  } else if (n >= 2) {
    detail::fill_pair<2>(to, pattern, n);
  } else if (n == 1) {
    *to = c;
  }
}

// How far past `to + n` copy_blocks() and fill_blocks() may write, and
// copy_blocks() read past `from + n`.
inline constexpr std::size_t kBlockReach = 64;

// The same as copy_bytes() and fill_bytes(), for callers that can give
// kBlockReach bytes more: whole 32-byte blocks, the first two whatever n is,
// so that the usual short runs take no branch on their length.
inline void copy_blocks(char* to, const char* from, std::size_t n) {
  detail::move_block(to, from);
  detail::move_block(to + 32, from + 32);
  for (std::size_t i = 64; i < n; i += 32) detail::move_block(to + i, from + i);
}

inline void fill_blocks(char* to, char c, std::size_t n) {
  char block[32];
  std::memset(block, c, 32);
  std::memcpy(to, block, 32);
  std::memcpy(to + 32, block, 32);
  for (std::size_t i = 64; i < n; i += 32) std::memcpy(to + i, block, 32);
}

}  // namespace corvane
