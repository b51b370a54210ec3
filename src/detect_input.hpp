// What the input holds, told by its first bytes.
#pragma once

#include <cstddef>
#include <string_view>

namespace corvane {

enum class InputForm {
  text,       // SAM text, or anything else that is not one of the below
  bam,        // uncompressed BAM ("BAM\1")
  cram,       // CRAM
  gzip,       // gzip or BGZF: BAM, or compressed text
  undecided,  // the bytes so far begin one of the above: more are needed
};

// The most bytes detect_input() needs.
inline constexpr std::size_t kDetectBytes = 6;

// The form of an input that begins with `start`; `whole` when the input has
// no more bytes. Only a complete signature makes it binary, and it decides
// as early as it can, so that a line of text typed at a pipe is never kept
// waiting for bytes that its writer has not sent.
InputForm detect_input(std::string_view start, bool whole);

}  // namespace corvane
