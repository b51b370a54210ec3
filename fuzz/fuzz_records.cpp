// Fuzz target: the whole record loop over an arbitrary byte buffer as
// standard input, output counted in memory. Any crash, sanitizer report or
// leak is a fault.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "corvane.hpp"
#include "fuzz_input.hpp"

namespace {

// Keeps only the byte count: a few-byte CIGAR may ask for gigabytes of
// output, which must stream through without being held.
class CountingSink : public corvane::ByteSink {
 public:
  void write(const char*, std::size_t n) override { bytes += n; }
  std::size_t bytes = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (corvane::fuzz::too_much_output(input)) return -1;  // not added to the corpus
  // Reads of every size, so lines also cross block boundaries.
  corvane::MemorySource in(input, size % 7 == 0 ? 1 + size % 13 : SIZE_MAX);
  CountingSink out, err;
  corvane::run_records(in, out, err);
  return 0;
}
