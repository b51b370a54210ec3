#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

// How far past the bases unpack_bases() may write.
inline constexpr std::size_t kUnpackReach = 32;

// Writes the `bases` bases of BAM's packed SEQ at `packed`, two to a byte,
// as their letters ("=ACMGRSVTWYHKDBN") from `out` on; up to kUnpackReach
// bytes after them may be written too. Reads only the (bases + 1) / 2 bytes
// of the packed SEQ.
void unpack_bases(const std::uint8_t* packed, std::size_t bases, char* out);

}  // namespace corvane
