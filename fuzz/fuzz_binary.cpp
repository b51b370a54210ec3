// Fuzz target: BAM streams through the binary reader, from memory and
// without worker threads, each as it is (uncompressed, "BAM\1") and again
// in small BGZF blocks. Any crash, sanitizer report or leak is a fault. And
// when htslib reads the whole stream without an error, the record loop must
// write what it writes for the SAM text of the same records, unmapped ones
// left out, as samtools view -F 4 would give it: that text is made here
// with htslib directly, and any difference in standard output, standard
// error or status aborts.
#include <htslib/bgzf.h>
#include <htslib/hfile.h>
#include <htslib/hts.h>
#include <htslib/kstring.h>
#include <htslib/sam.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "binary_reader.hpp"
#include "corvane.hpp"
#include "hts_messages.hpp"

namespace {

constexpr std::string_view kMagic("BAM\1", 4);
// htslib allocates whatever a length field claims before it finds the input
// shorter; the error table test covers that. Inputs that claim more than
// this are left out, so that the fuzzer is not stopped for its memory.
constexpr std::uint32_t kMostClaimed = std::uint32_t{1} << 20;
// The columns of all records together, at most: output grows with them.
constexpr std::uint64_t kMostColumns = std::uint64_t{1} << 22;

constexpr char kEofBlock[] =
    "\x1f\x8b\x08\x04\x00\x00\x00\x00\x00\xff\x06\x00\x42\x43\x02\x00\x1b\x00\x03\x00\x00\x00\x00"
    "\x00\x00\x00\x00\x00";

std::int64_t le32(const char* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return static_cast<std::int32_t>(v);
}

// Whether no length in the header or the records claims more than
// kMostClaimed bytes (the header's text length counts as unsigned, as
// htslib reads it).
bool modest_claims(std::string_view bam) {
  std::size_t at = kMagic.size();
  const auto next = [&](std::int64_t& v) {
    if (bam.size() - at < 4) return false;
    v = le32(bam.data() + at);
    at += 4;
    return true;
  };
  const auto skip = [&](std::int64_t n) {
    if (n < 0 || static_cast<std::uint64_t>(n) > bam.size() - at) return false;
    at += static_cast<std::size_t>(n);
    return true;
  };
  std::int64_t v = 0;
  if (!next(v)) return true;
  if (static_cast<std::uint32_t>(v) > kMostClaimed) return false;
  if (!skip(v)) return true;
  std::int64_t refs = 0;
  if (!next(refs)) return true;
  if (refs > kMostClaimed) return false;
  for (std::int64_t i = 0; i < refs; ++i) {
    if (!next(v)) return true;
    if (v > kMostClaimed) return false;
    if (!skip(v) || !skip(4)) return true;
  }
  while (next(v)) {
    if (v > kMostClaimed) return false;
    if (!skip(v)) return true;
  }
  return true;
}

// An htslib stream over a copy of `bytes`, which the stream owns.
hFILE* open_memory(std::string_view bytes) {
  char* copy = static_cast<char*>(std::malloc(bytes.size() + 1));
  if (copy == nullptr) std::abort();
  std::memcpy(copy, bytes.data(), bytes.size());
  return hopen("mem:", "r:", copy, bytes.size());
}

// `data` in BGZF blocks of `block` bytes each, then the end-of-file block.
std::string in_blocks(std::string_view data, std::size_t block) {
  std::string out;
  std::unique_ptr<char[]> compressed(new char[BGZF_MAX_BLOCK_SIZE]);
  for (std::size_t at = 0; at < data.size(); at += block) {
    std::size_t size = BGZF_MAX_BLOCK_SIZE;
    const std::size_t n = std::min(block, data.size() - at);
    if (bgzf_compress(compressed.get(), &size, data.data() + at, n, 1) != 0) std::abort();
    out.append(compressed.get(), size);
  }
  return out.append(kEofBlock, sizeof kEofBlock - 1);
}

// The records as htslib reads them, straight.
struct Direct {
  bool whole = false;         // read to the end without an error
  std::string text;           // the SAM text of the mapped ones
  std::uint64_t columns = 0;  // of every record read, for output's sake
};

Direct read_directly(std::string_view stream) {
  const corvane::HtsMessages quiet;
  Direct d;
  hFILE* f = open_memory(stream);
  if (f == nullptr) return d;
  htsFile* file = hts_hopen(f, "-", "r");
  if (file == nullptr) {
    hclose_abruptly(f);
    return d;
  }
  sam_hdr_t* header = sam_hdr_read(file);
  bam1_t* b = bam_init1();
  kstring_t line = KS_INITIALIZE;
  int status = header == nullptr ? -3 : 0;
  while (status >= 0 && (status = sam_read1(file, header, b)) >= 0) {
    const std::uint32_t* ops = bam_get_cigar(b);
    d.columns += static_cast<std::uint64_t>(b->core.l_qseq) + 1;
    for (std::uint32_t i = 0; i < b->core.n_cigar; ++i) d.columns += bam_cigar_oplen(ops[i]);
    if (b->core.flag & BAM_FUNMAP) continue;
    line.l = 0;
    if (sam_format1(header, b, &line) < 0) {
      status = -3;
      break;
    }
    d.text.append(line.s, line.l).push_back('\n');
  }
  d.whole = status == -1;
  ks_free(&line);
  bam_destroy1(b);
  sam_hdr_destroy(header);
  (void)hts_close(file);
  return d;
}

struct Outcome {
  std::string out, err;
  int status;
  bool operator==(const Outcome&) const = default;
};

Outcome through_reader(std::string_view stream) {
  corvane::MemorySink out, err;
  hFILE* f = open_memory(stream);
  if (f == nullptr) std::abort();
  const int status =
      corvane::run_records([f](corvane::Output&) { return corvane::open_binary(f, 0); }, out, err);
  return {std::move(out.data), std::move(err.data), status};
}

Outcome through_text(std::string_view text) {
  corvane::MemorySource in(text);
  corvane::MemorySink out, err;
  const int status = corvane::run_records(in, out, err);
  return {std::move(out.data), std::move(err.data), status};
}

void compare(const char* what, const Outcome& got, const Outcome& want) {
  if (got == want) return;
  const auto first_difference = [](const std::string& a, const std::string& b) {
    std::size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    return i;
  };
  std::fprintf(stderr,
               "%s differs from the text route: stdout %zu bytes (text %zu, first difference at "
               "%zu), stderr %zu (%zu, at %zu), status %d (%d)\n",
               what, got.out.size(), want.out.size(), first_difference(got.out, want.out),
               got.err.size(), want.err.size(), first_difference(got.err, want.err), got.status,
               want.status);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bam(reinterpret_cast<const char*>(data), size);
  // What the reader is given only after the first bytes said BAM.
  if (bam.substr(0, kMagic.size()) != kMagic || !modest_claims(bam)) return -1;
  const Direct direct = read_directly(bam);
  if (direct.columns > kMostColumns) return -1;
  // Blocks of a few dozen to a few hundred bytes: records and fields cross
  // their boundaries.
  const std::string blocks = in_blocks(bam, 32 + size % 223);
  const Outcome raw = through_reader(bam);
  const Outcome compressed = through_reader(blocks);
  if (direct.whole) {
    const Outcome want = through_text(direct.text);
    compare("uncompressed BAM", raw, want);
    compare("BGZF BAM", compressed, want);
  }
  return 0;
}
