// Short reads: 150 bp single-end Illumina-like reads with substitutions, at
// most one short indel and soft clips.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "sim.hpp"

namespace sim {

constexpr int kReadLen = 150;

constexpr std::uint64_t kSubst = per_million(10000);      // 1% of aligned bases
constexpr std::uint64_t kNBase = per_million(200);        // 0.02% of aligned bases read as N
constexpr std::uint64_t kIndel = per_million(120000);     // 12% of reads
constexpr std::uint64_t kClipLeft = per_million(25000);   // 2.5% of reads
constexpr std::uint64_t kClipRight = per_million(25000);  // 2.5% of reads
constexpr std::uint64_t kRepeat = per_million(120000);    // 12% of reads have a second hit

struct ShortStats {
  std::uint64_t records = 0, bytes = 0, aligned_bases = 0;
  std::uint64_t mismatches = 0, n_bases = 0, reads_with_mismatch = 0;
  std::uint64_t adjacent_mismatches = 0, md_leading_zero = 0, md_trailing_zero = 0;
  std::uint64_t insertions = 0, deletions = 0, clip_left = 0, clip_right = 0, clip_any = 0;
  std::uint64_t repeat_hits = 0;
};

// Indel lengths 1..5, short ones far more common, as in Illumina data.
inline int indel_length(Rng& rng) {
  const std::uint32_t r = rng.below(100);
  if (r < 55) return 1;
  if (r < 75) return 2;
  if (r < 87) return 3;
  if (r < 95) return 4;
  return 5;
}

// Soft clip lengths: mostly short adapter/low-quality tails, some long.
inline int clip_length(Rng& rng) {
  const std::uint32_t r = rng.below(100);
  if (r < 70) return 1 + static_cast<int>(rng.below(10));
  return 11 + static_cast<int>(rng.below(30));
}

// Phred+33 base quality: high in the body, falling towards the 3' end, and
// lower on miscalled bases.
inline char quality(Rng& rng, int cycle, bool miscalled) {
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

// A quality put into one of the four bins of current short-read
// instruments (2, 12, 23, 37), whose files compress far better.
inline char binned_quality(char q) {
  const int v = q - '!';
  return static_cast<char>('!' + (v < 3 ? 2 : v < 15 ? 12 : v < 30 ? 23 : 37));
}

// Writes `records` records after the header; counts what it made in `st`.
// `binned`: qualities in four bins.
inline void short_reads(Out& out, const Genome& genome, std::uint64_t records, std::uint64_t seed,
                        ShortStats& st, bool binned = false) {
  // Each contig keeps a margin at its end so that a read with a deletion
  // still fits.
  constexpr std::uint32_t kMargin = kReadLen + 16;
  const NameOrder names(records, seed);
  Rng rng(seed ^ 0x7265616473ULL);

  char seq[kReadLen];
  char qual[kReadLen];
  char cigar[64];
  char md[512];

  for (std::uint64_t i = 0; i < records; ++i) {
    std::size_t contig = 0;
    const std::uint64_t flat = genome.place(rng, i, records, kMargin, contig);
    const char* ref = genome.bases.data() + genome.start[contig] + flat;

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
    const std::uint64_t name = names(i);

    out.reserve(1024);
    out.alignment("sim.", name, reverse ? 16 : 0, kContigs[contig].name, flat + 1, mapq,
                  std::string_view(cigar, static_cast<std::size_t>(cl)));
    out.put(seq, kReadLen);
    out.put('\t');
    if (binned) {
      for (char& q : qual) q = binned_quality(q);
    }
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
}

inline void print_short_stats(const ShortStats& st, std::uint64_t genome_len) {
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

}  // namespace sim
