// Synthetic SAM for benchmarking: reads sampled from a random genome,
// coordinate-sorted, with MD/NM tags that agree with the genome. Two kinds:
//
// - short (the default): 150 bp single-end reads with 1% substitutions, at
//   most one short indel and some soft clips (short_reads.hpp);
// - long (--long): noisy reads of 1-40 kb with errors at the rate --errors
//   gives, in per mille of aligned bases (default 90), soft and hard clips
//   (long_reads.hpp).
//
// Only the standard library and exactly rounded arithmetic are used, so the
// output is byte-for-byte the same for the same options on any machine.
//
//   gen_sam [--records N] [--seed S] [--binned | --long [--errors PERMILLE]] [--fasta PATH]
//           [--stats]
//
// --binned puts the short reads' qualities into the four bins that current
// instruments write; --fasta writes the genome too, so the MD/NM tags can be
// checked against it with an independent tool; --stats prints a summary of
// the data on stderr.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "long_reads.hpp"
#include "short_reads.hpp"
#include "sim.hpp"

namespace {

bool parse_u64(const char* s, std::uint64_t& out) {
  if (*s == '\0') return false;
  std::uint64_t v = 0;
  for (; *s != '\0'; ++s) {
    if (*s < '0' || *s > '9') return false;
    if (v > (UINT64_MAX - 9) / 10) return false;
    v = v * 10 + static_cast<std::uint64_t>(*s - '0');
  }
  out = v;
  return true;
}

[[noreturn]] void usage(const char* msg) {
  std::fprintf(stderr,
               "gen_sam: %s\nusage: gen_sam [--records N] [--seed S] [--binned | --long [--errors "
               "PERMILLE]] [--fasta PATH] [--stats]\n",
               msg);
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t records = 0;  // 0: the kind's default
  std::uint64_t seed = 1;
  std::uint64_t errors = 90;
  bool long_reads = false, errors_given = false;
  const char* fasta_path = nullptr;
  bool want_stats = false, binned = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--records" || a == "--seed" || a == "--errors") {
      if (i + 1 >= argc) usage("missing value");
      std::uint64_t v;
      if (!parse_u64(argv[++i], v)) usage("not a number");
      (a == "--records" ? records : a == "--seed" ? seed : errors) = v;
      errors_given |= a == "--errors";
    } else if (a == "--long") {
      long_reads = true;
    } else if (a == "--fasta") {
      if (i + 1 >= argc) usage("missing value");
      fasta_path = argv[++i];
    } else if (a == "--stats") {
      want_stats = true;
    } else if (a == "--binned") {
      binned = true;
    } else {
      usage("unknown argument");
    }
  }
  if (errors_given && !long_reads) usage("--errors needs --long");
  if (binned && long_reads) usage("--binned is for short reads");
  if (errors > 300) usage("--errors is per mille, at most 300");
  if (records == 0) records = long_reads ? 12'000 : 2'000'000;

  const sim::Genome genome(seed);
  if (fasta_path != nullptr && !genome.write_fasta(fasta_path)) return 1;

  sim::Out out;
  std::string h = "@HD\tVN:1.6\tSO:coordinate\n";
  for (const auto& c : sim::kContigs)
    h += "@SQ\tSN:" + std::string(c.name) + "\tLN:" + std::to_string(c.length) + "\n";
  if (long_reads) {
    h += "@PG\tID:gen_sam\tPN:gen_sam\tVN:1.0\tCL:gen_sam --records " + std::to_string(records) +
         " --seed " + std::to_string(seed) + " --long --errors " + std::to_string(errors) + "\n";
    out.reserve(h.size());
    out.put(h);
    sim::LongStats st;
    sim::long_reads(out, genome, records, seed, errors * 1000, st);
    out.flush();
    if (want_stats) sim::print_long_stats(st);
    return 0;
  }
  h += "@RG\tID:sim1\tSM:sample1\tPL:ILLUMINA\tLB:lib1\tPU:unit1\n";
  h += "@PG\tID:gen_sam\tPN:gen_sam\tVN:1.0\tCL:gen_sam --records " + std::to_string(records) +
       " --seed " + std::to_string(seed) + (binned ? " --binned" : "") + "\n";
  out.reserve(h.size());
  out.put(h);
  sim::ShortStats st;
  st.bytes += h.size();
  sim::short_reads(out, genome, records, seed, st, binned);
  out.flush();
  if (want_stats) sim::print_short_stats(st, genome.bases.size());
  return 0;
}
