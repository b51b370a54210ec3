// Differential fuzz target: every input goes through the record loop with
// the run-at-a-time layout and with the column walk, each also with lines
// that spill, and any difference in standard output, standard error or exit
// status aborts. The outputs are compared by digest, so that inputs asking
// for gigabytes of columns need not be held.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "corvane.hpp"
#include "fuzz_input.hpp"

namespace {

// A digest of every byte written, eight at a time, and their count: the same
// for the same bytes however the writes cut them.
class DigestSink : public corvane::ByteSink {
 public:
  void write(const char* p, std::size_t n) override {
    bytes += n;
    for (; n != 0; --n, ++p) {
      word = word << 8 | static_cast<unsigned char>(*p);
      if (++held == 8) mix();
    }
  }
  std::uint64_t digest() {
    if (held != 0) mix();
    return hash;
  }
  std::uint64_t bytes = 0;

 private:
  void mix() {
    hash = (hash ^ word) * 0x9E3779B97F4A7C15ULL;
    hash ^= hash >> 29;
    word = 0;
    held = 0;
  }
  std::uint64_t hash = 0, word = 0;
  int held = 0;
};

struct Digest {
  std::uint64_t out_hash, out_bytes, err_hash, err_bytes;
  int status;
  bool operator==(const Digest&) const = default;
};

Digest run(std::string_view input, const corvane::Options& options, std::size_t chunk) {
  corvane::MemorySource in(input, chunk);
  DigestSink out, err;
  const int status = corvane::run_records(in, out, err, options);
  return {out.digest(), out.bytes, err.digest(), err.bytes, status};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // Three runs an input: a smaller share of long outputs than the other
  // target takes.
  if (corvane::fuzz::skip_columns(input) > (std::uint64_t{1} << 22)) return -1;
  corvane::Options columns;
  columns.runs = false;
  corvane::Options runs;
  corvane::Options spilling;  // lines longer than 16 bytes spill
  spilling.line_cap = 16;
  spilling.exact_line_cap = true;
  const Digest want = run(input, columns, SIZE_MAX);
  const Digest got[] = {run(input, runs, SIZE_MAX), run(input, spilling, 1 + size % 13)};
  for (const Digest& d : got) {
    if (d == want) continue;
    std::fprintf(stderr,
                 "layouts differ: stdout %zu bytes (column walk %zu), stderr %zu (%zu), "
                 "status %d (%d)\n",
                 static_cast<std::size_t>(d.out_bytes), static_cast<std::size_t>(want.out_bytes),
                 static_cast<std::size_t>(d.err_bytes), static_cast<std::size_t>(want.err_bytes),
                 d.status, want.status);
    std::abort();
  }
  return 0;
}
