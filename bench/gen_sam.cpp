// Synthetic SAM for benchmarking: 150 bp single-end reads sampled from a
// random genome, coordinate-sorted, with substitutions, short indels, soft
// clips and MD/NM tags that agree with the genome.
//
// Only the standard library and integer arithmetic are used, so the output
// is byte-for-byte the same for a given --records and --seed on any machine.
//
//   gen_sam [--records N] [--seed S] [--fasta PATH] [--stats] > out.sam
//
// --fasta writes the genome too, so the MD/NM tags can be checked against it
// with an independent tool; --stats prints a summary of the data on stderr.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kReadLen = 150;
constexpr char kBases[4] = {'A', 'C', 'G', 'T'};

// Probabilities are fractions of 2^32 so that no floating point is involved.
constexpr std::uint64_t per_million(std::uint64_t ppm) {
  return ppm * 4294967296ULL / 1000000ULL;
}
constexpr std::uint64_t kSubst = per_million(10000);      // 1% of aligned bases
constexpr std::uint64_t kNBase = per_million(200);        // 0.02% of aligned bases read as N
constexpr std::uint64_t kIndel = per_million(120000);     // 12% of reads
constexpr std::uint64_t kClipLeft = per_million(25000);   // 2.5% of reads
constexpr std::uint64_t kClipRight = per_million(25000);  // 2.5% of reads
constexpr std::uint64_t kRepeat = per_million(120000);    // 12% of reads have a second hit

struct Contig {
  const char* name;
  std::uint32_t length;
};
constexpr Contig kContigs[] = {{"chr1", 2'500'000}, {"chr2", 1'600'000}, {"chr3", 900'000}};

std::uint64_t splitmix64(std::uint64_t& x) {
  std::uint64_t z = (x += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// xoshiro256**: fast, and fully specified (unlike the std distributions).
struct Rng {
  std::uint64_t s[4];
  explicit Rng(std::uint64_t seed) {
    for (auto& v : s) v = splitmix64(seed);
  }
  static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  std::uint64_t next() {
    const std::uint64_t result = rotl(s[1] * 5, 7) * 9;
    const std::uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = rotl(s[3], 45);
    return result;
  }
  std::uint32_t u32() { return static_cast<std::uint32_t>(next() >> 32); }
  // Uniform in [0, n) by multiply-shift; the bias is far below what matters here.
  std::uint32_t below(std::uint32_t n) {
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(u32()) * n) >> 32);
  }
  bool chance(std::uint64_t p) { return u32() < p; }
};

class Out {
 public:
  Out() { buf_.resize(kSize); }
  ~Out() { flush(); }
  void reserve(std::size_t n) {
    if (len_ + n > kSize) flush();
  }
  void put(char c) { buf_[len_++] = c; }
  void put(std::string_view s) {
    std::memcpy(buf_.data() + len_, s.data(), s.size());
    len_ += s.size();
  }
  void put(const char* p, std::size_t n) {
    std::memcpy(buf_.data() + len_, p, n);
    len_ += n;
  }
  void num(std::uint64_t v) {
    char tmp[24];
    int n = 0;
    do {
      tmp[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    while (n > 0) buf_[len_++] = tmp[--n];
  }
  void snum(std::int64_t v) {
    if (v < 0) {
      put('-');
      num(static_cast<std::uint64_t>(-v));
    } else {
      num(static_cast<std::uint64_t>(v));
    }
  }
  void flush() {
    if (len_ == 0) return;
    if (std::fwrite(buf_.data(), 1, len_, stdout) != len_ || std::fflush(stdout) != 0) {
      std::fprintf(stderr, "gen_sam: error writing standard output: %s\n", std::strerror(errno));
      std::exit(1);
    }
    len_ = 0;
  }

 private:
  static constexpr std::size_t kSize = 1 << 22;
  std::vector<char> buf_;
  std::size_t len_ = 0;
};

struct Stats {
  std::uint64_t records = 0, bytes = 0, aligned_bases = 0;
  std::uint64_t mismatches = 0, n_bases = 0, reads_with_mismatch = 0;
  std::uint64_t adjacent_mismatches = 0, md_leading_zero = 0, md_trailing_zero = 0;
  std::uint64_t insertions = 0, deletions = 0, clip_left = 0, clip_right = 0, clip_any = 0;
  std::uint64_t repeat_hits = 0;
};

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
               "gen_sam: %s\nusage: gen_sam [--records N] [--seed S] [--fasta PATH] [--stats]\n",
               msg);
  std::exit(2);
}

std::uint64_t gcd(std::uint64_t a, std::uint64_t b) {
  while (b != 0) {
    const std::uint64_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}

// Indel lengths 1..5, short ones far more common, as in Illumina data.
int indel_length(Rng& rng) {
  const std::uint32_t r = rng.below(100);
  if (r < 55) return 1;
  if (r < 75) return 2;
  if (r < 87) return 3;
  if (r < 95) return 4;
  return 5;
}

// Soft clip lengths: mostly short adapter/low-quality tails, some long.
int clip_length(Rng& rng) {
  const std::uint32_t r = rng.below(100);
  if (r < 70) return 1 + static_cast<int>(rng.below(10));
  return 11 + static_cast<int>(rng.below(30));
}

// Phred+33 base quality: high in the body, falling towards the 3' end, and
// lower on miscalled bases.
char quality(Rng& rng, int cycle, bool miscalled) {
  const std::uint32_t r = rng.u32();
  const std::uint32_t low_share =
      (miscalled ? 1u << 31 : 0u) + static_cast<std::uint32_t>(cycle) * 4000000u + 100000000u;
  int q;
  if ((r & 0xFFFFFFu) * 256u < low_share) {
    q = 2 + static_cast<int>((r >> 24) % 26);
  } else {
    q = 30 + static_cast<int>((r >> 24) % 12);
  }
  return static_cast<char>('!' + q);
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t records = 2'000'000;
  std::uint64_t seed = 1;
  const char* fasta_path = nullptr;
  bool want_stats = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--records" || a == "--seed") {
      if (i + 1 >= argc) usage("missing value");
      std::uint64_t v;
      if (!parse_u64(argv[++i], v)) usage("not a number");
      (a == "--records" ? records : seed) = v;
    } else if (a == "--fasta") {
      if (i + 1 >= argc) usage("missing value");
      fasta_path = argv[++i];
    } else if (a == "--stats") {
      want_stats = true;
    } else {
      usage("unknown argument");
    }
  }

  // Genome: uniform random bases, two bits at a time.
  std::uint64_t genome_len = 0;
  for (const auto& c : kContigs) genome_len += c.length;
  std::string genome(genome_len, 'N');
  {
    Rng g(seed ^ 0x67656E6F6D65ULL);
    for (std::uint64_t i = 0; i < genome_len; i += 32) {
      std::uint64_t r = g.next();
      for (std::uint64_t j = i; j < i + 32 && j < genome_len; ++j, r >>= 2)
        genome[j] = kBases[r & 3];
    }
  }
  std::vector<std::uint64_t> contig_start;
  {
    std::uint64_t off = 0;
    for (const auto& c : kContigs) {
      contig_start.push_back(off);
      off += c.length;
    }
  }

  if (fasta_path != nullptr) {
    FILE* f = std::fopen(fasta_path, "wb");
    if (f == nullptr) {
      std::fprintf(stderr, "gen_sam: cannot open %s: %s\n", fasta_path, std::strerror(errno));
      return 1;
    }
    for (std::size_t k = 0; k < std::size(kContigs); ++k) {
      std::fprintf(f, ">%s\n", kContigs[k].name);
      for (std::uint64_t p = 0; p < kContigs[k].length; p += 60) {
        const std::uint64_t n = kContigs[k].length - p < 60 ? kContigs[k].length - p : 60;
        std::fwrite(genome.data() + contig_start[k] + p, 1, n, f);
        std::fputc('\n', f);
      }
    }
    if (std::fclose(f) != 0) {
      std::fprintf(stderr, "gen_sam: error writing %s\n", fasta_path);
      return 1;
    }
  }

  Out out;
  Stats st;

  // Header.
  {
    std::string h = "@HD\tVN:1.6\tSO:coordinate\n";
    for (const auto& c : kContigs)
      h += "@SQ\tSN:" + std::string(c.name) + "\tLN:" + std::to_string(c.length) + "\n";
    h += "@RG\tID:sim1\tSM:sample1\tPL:ILLUMINA\tLB:lib1\tPU:unit1\n";
    h += "@PG\tID:gen_sam\tPN:gen_sam\tVN:1.0\tCL:gen_sam --records " + std::to_string(records) +
         " --seed " + std::to_string(seed) + "\n";
    out.reserve(h.size());
    out.put(h);
    st.bytes += h.size();
  }

  // Start positions are stratified over the genome, which keeps the file
  // coordinate-sorted without a sort; each contig keeps a margin at its end
  // so that a read with a deletion still fits.
  constexpr std::uint32_t kMargin = kReadLen + 16;
  std::uint64_t usable = 0;
  for (const auto& c : kContigs) usable += c.length - kMargin;

  // Read names follow a permutation of the record numbers, so that they
  // come out of order as in a sorted file from a real run.
  const std::uint64_t name_mod = records == 0 ? 1 : records;
  std::uint64_t name_mul = 2654435761ULL % name_mod;
  if (name_mul == 0) name_mul = 1;
  while (gcd(name_mul, name_mod) != 1) ++name_mul;
  const std::uint64_t name_add = (seed * 40503ULL) % name_mod;

  Rng rng(seed ^ 0x7265616473ULL);

  char seq[kReadLen];
  char qual[kReadLen];
  char cigar[64];
  char md[512];

  for (std::uint64_t i = 0; i < records; ++i) {
    // Place the read.
    const std::uint64_t lo = i * usable / records;
    const std::uint64_t hi = (i + 1) * usable / records;
    std::uint64_t flat = lo + (hi > lo ? rng.below(static_cast<std::uint32_t>(hi - lo)) : 0);
    std::size_t contig = 0;
    while (flat >= kContigs[contig].length - kMargin) {
      flat -= kContigs[contig].length - kMargin;
      ++contig;
    }
    const char* ref = genome.data() + contig_start[contig] + flat;

    // Layout: [left clip] M [indel] M [right clip]
    const int lclip = rng.chance(kClipLeft) ? clip_length(rng) : 0;
    const int rclip = rng.chance(kClipRight) ? clip_length(rng) : 0;
    const int aligned = kReadLen - lclip - rclip;  // read bases in M and I
    char indel_op = 0;
    int indel_len = 0, indel_at = 0;
    if (rng.chance(kIndel)) {
      indel_op = rng.chance(1u << 31) ? 'I' : 'D';
      indel_len = indel_length(rng);
      const int m_bases = aligned - (indel_op == 'I' ? indel_len : 0);
      indel_at = 10 + static_cast<int>(rng.below(static_cast<std::uint32_t>(m_bases - 19)));
    }
    const int m_total = aligned - (indel_op == 'I' ? indel_len : 0);

    // CIGAR.
    int cl = 0;
    auto cig = [&](int n, char op) {
      if (n >= 100) cigar[cl++] = static_cast<char>('0' + n / 100);
      if (n >= 10) cigar[cl++] = static_cast<char>('0' + n / 10 % 10);
      cigar[cl++] = static_cast<char>('0' + n % 10);
      cigar[cl++] = op;
    };
    if (lclip) cig(lclip, 'S');
    if (indel_op) {
      cig(indel_at, 'M');
      cig(indel_len, indel_op);
      cig(m_total - indel_at, 'M');
    } else {
      cig(m_total, 'M');
    }
    if (rclip) cig(rclip, 'S');

    // SEQ, QUAL and MD in one pass over the read.
    int sp = 0, ml = 0, run = 0, mism = 0, nbase = 0;
    int last_event = -2;   // M index of the previous mismatch, to spot adjacent ones
    std::uint64_t rp = 0;  // offset on the reference
    auto md_run = [&] {
      int n = run, d = 1;
      while (d * 10 <= n) d *= 10;
      for (; d > 0; d /= 10) md[ml++] = static_cast<char>('0' + n / d % 10);
      run = 0;
    };
    for (int k = 0; k < lclip; ++k, ++sp) {
      seq[sp] = kBases[rng.u32() & 3];
      qual[sp] = quality(rng, sp, true);
    }
    for (int mi = 0; mi < m_total; ++mi) {
      if (indel_op && mi == indel_at) {
        if (indel_op == 'I') {
          for (int k = 0; k < indel_len; ++k, ++sp) {
            seq[sp] = kBases[rng.u32() & 3];
            qual[sp] = quality(rng, sp, false);
          }
        } else {
          md_run();
          md[ml++] = '^';
          for (int k = 0; k < indel_len; ++k) md[ml++] = ref[rp++];
          last_event = -2;
        }
      }
      const char rb = ref[rp++];
      const std::uint32_t r = rng.u32();
      if (r < kSubst) {
        // Another base than the reference's, or now and then a no-call.
        const bool is_n = r < kNBase;
        int idx = 0;
        while (kBases[idx] != rb) ++idx;
        seq[sp] = is_n ? 'N' : kBases[(idx + 1 + static_cast<int>(r % 3)) & 3];
        qual[sp] = is_n ? '#' : quality(rng, sp, true);
        md_run();
        md[ml++] = rb;
        ++mism;
        if (is_n) ++nbase;
        if (mi == last_event + 1) ++st.adjacent_mismatches;
        if (mi == 0) ++st.md_leading_zero;
        if (mi == m_total - 1) ++st.md_trailing_zero;
        last_event = mi;
      } else {
        seq[sp] = rb;
        qual[sp] = quality(rng, sp, false);
        ++run;
      }
      ++sp;
    }
    md_run();
    for (int k = 0; k < rclip; ++k, ++sp) {
      seq[sp] = kBases[rng.u32() & 3];
      qual[sp] = quality(rng, sp, true);
    }

    // Scores as a local aligner reports them: match 1, mismatch -4,
    // N -1, gap open 6 plus 1 per base; XS is the best other hit.
    const int nm = mism + indel_len;
    const int as = (m_total - mism) - 4 * (mism - nbase) - nbase - (indel_op ? 6 + indel_len : 0);
    int xs = 0, mapq = 60;
    if (rng.chance(kRepeat)) {
      const int gap = static_cast<int>(rng.below(40));
      xs = as - gap > 0 ? as - gap : 0;
      mapq = gap * 3 / 2 < 60 ? gap * 3 / 2 : 60;
      ++st.repeat_hits;
    } else {
      xs = static_cast<int>(rng.below(20));
    }
    const bool reverse = rng.chance(1u << 31);
    const std::uint64_t name = (i * name_mul + name_add) % name_mod + 1;

    out.reserve(1024);
    out.put("sim.");
    out.num(name);
    out.put(reverse ? "\t16\t" : "\t0\t");
    out.put(std::string_view(kContigs[contig].name));
    out.put('\t');
    out.num(flat + 1);
    out.put('\t');
    out.num(static_cast<std::uint64_t>(mapq));
    out.put('\t');
    out.put(cigar, static_cast<std::size_t>(cl));
    out.put("\t*\t0\t0\t");
    out.put(seq, kReadLen);
    out.put('\t');
    out.put(qual, kReadLen);
    out.put("\tNM:i:");
    out.num(static_cast<std::uint64_t>(nm));
    out.put("\tMD:Z:");
    out.put(md, static_cast<std::size_t>(ml));
    out.put("\tAS:i:");
    out.snum(as);
    out.put("\tXS:i:");
    out.num(static_cast<std::uint64_t>(xs));
    out.put("\tRG:Z:sim1\n");

    ++st.records;
    st.aligned_bases += static_cast<std::uint64_t>(m_total);
    st.mismatches += static_cast<std::uint64_t>(mism);
    st.n_bases += static_cast<std::uint64_t>(nbase);
    if (mism) ++st.reads_with_mismatch;
    if (indel_op == 'I') ++st.insertions;
    if (indel_op == 'D') ++st.deletions;
    if (lclip) ++st.clip_left;
    if (rclip) ++st.clip_right;
    if (lclip || rclip) ++st.clip_any;
  }
  out.flush();

  if (want_stats) {
    const auto pct = [&](std::uint64_t n, std::uint64_t d) {
      return d == 0 ? 0.0 : 100.0 * static_cast<double>(n) / static_cast<double>(d);
    };
    const std::uint64_t r = st.records;
    std::fprintf(stderr,
                 "records              %llu\n"
                 "genome               %llu bp in %zu contigs\n"
                 "mismatched bases     %.3f%% of aligned bases (%llu, of which %llu N)\n"
                 "reads with mismatch  %.2f%%\n"
                 "adjacent mismatches  %llu\n"
                 "MD leading 0         %llu reads\n"
                 "MD trailing 0        %llu reads\n"
                 "reads with insertion %.2f%%\n"
                 "reads with deletion  %.2f%%\n"
                 "reads with indel     %.2f%%\n"
                 "soft-clipped reads   %.2f%% (left %.2f%%, right %.2f%%)\n"
                 "reads with XS near AS %.2f%%\n",
                 static_cast<unsigned long long>(r), static_cast<unsigned long long>(genome_len),
                 std::size(kContigs), pct(st.mismatches, st.aligned_bases),
                 static_cast<unsigned long long>(st.mismatches),
                 static_cast<unsigned long long>(st.n_bases), pct(st.reads_with_mismatch, r),
                 static_cast<unsigned long long>(st.adjacent_mismatches),
                 static_cast<unsigned long long>(st.md_leading_zero),
                 static_cast<unsigned long long>(st.md_trailing_zero), pct(st.insertions, r),
                 pct(st.deletions, r), pct(st.insertions + st.deletions, r), pct(st.clip_any, r),
                 pct(st.clip_left, r), pct(st.clip_right, r), pct(st.repeat_hits, r));
  }
  return 0;
}
