// Long reads: noisy single-molecule reads of 1-40 kb, as nanopore and
// PacBio CLR runs give them, aligned end to end with MD tags that agree with
// the genome.
//
// Errors come at a chosen rate, counted in bases (NM over the aligned
// reference bases): about 45% of the error events are substitutions, 27%
// insertions and 28% deletions, indels mostly 1-5 bp with some up to 20 bp.
// Reads are soft-clipped at one end or both; some records are supplementary
// alignments of a chimeric read, clipped hard.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sim.hpp"

namespace sim {

struct LongStats {
  std::uint64_t records = 0, read_bases = 0, ref_bases = 0, m_bases = 0;
  std::uint64_t substitutions = 0, insertions = 0, inserted = 0, deletions = 0, deleted = 0;
  std::uint64_t long_indels = 0, soft_clipped = 0, supplementary = 0;
  std::uint64_t cigar_ops = 0, md_tokens = 0;
  std::vector<std::uint32_t> lengths;  // SEQ lengths
};

// exp(y) from additions, multiplications and divisions only: IEEE arithmetic
// rounds those exactly alike everywhere (ISO C++ mode does not contract them
// into fused operations), unlike the library's exp.
inline double exp_exact(double y) {
  constexpr double kLn2 = 0.6931471805599453;
  int k = 0;
  while (y > kLn2 / 2) y -= kLn2, ++k;
  while (y < -kLn2 / 2) y += kLn2, --k;
  double term = 1, sum = 1;
  for (int n = 1; n < 20; ++n) {
    term = term * y / n;
    sum += term;
  }
  for (; k > 0; --k) sum *= 2;
  for (; k < 0; ++k) sum /= 2;
  return sum;
}

// Reference bases a read covers: log-normal with a median of 8 kb (sigma 0.7
// in natural log units, from a sum of twelve uniforms), kept within 1-40 kb.
inline std::uint32_t span_length(Rng& rng) {
  double z = -6;
  for (int i = 0; i < 12; ++i) z += rng.u32() / 4294967296.0;
  const double len = 8000 * exp_exact(0.7 * z);
  return static_cast<std::uint32_t>(std::clamp(len, 1000.0, 40000.0));
}

// Indel lengths: mostly 1-5 bp, 4% of them 6-20 bp (mean about 2.26).
inline std::uint32_t long_indel_length(Rng& rng) {
  const std::uint32_t r = rng.below(100);
  if (r < 55) return 1;
  if (r < 75) return 2;
  if (r < 85) return 3;
  if (r < 91) return 4;
  if (r < 96) return 5;
  return 6 + rng.below(15);
}

// Soft clip lengths: adapters and low-quality ends, now and then a long one.
inline std::uint32_t long_clip_length(Rng& rng) {
  if (rng.below(100) < 70) return 1 + rng.below(30);
  return 30 + rng.below(300);
}

// One read's SEQ, QUAL, CIGAR and MD, built up event by event.
class LongRead {
 public:
  void clear() {
    seq.clear();
    qual.clear();
    cigar.clear();
    md.clear();
    op_ = 0;
    op_len_ = 0;
    md_run_ = 0;
    ops = 0;
    md_tokens = 0;
  }

  void op(char o, std::uint32_t n) {
    if (o != op_) flush_op();
    op_ = o;
    op_len_ += n;
  }
  void flush_op() {
    if (op_len_ == 0) return;
    char num[16];
    cigar.append(num, put_decimal(num, op_len_));
    cigar.push_back(op_);
    op_len_ = 0;
    ++ops;
  }

  // MD: a number before and after every mismatch and deletion, 0 included.
  void md_match() { ++md_run_; }
  void md_event(std::string_view ref) {
    char num[16];
    md.append(num, put_decimal(num, md_run_));
    md.append(ref);
    md_run_ = 0;
    md_tokens += 1 + ref.size();
  }
  void md_end() {
    char num[16];
    md.append(num, put_decimal(num, md_run_));
    ++md_tokens;
  }

  // Bases with qualities; 8 qualities from one draw.
  void bases(Rng& rng, const char* p, std::size_t n, int lowest, int spread) {
    for (std::size_t i = 0; i < n; i += 8) {
      std::uint64_t r = rng.next();
      for (std::size_t j = i; j < n && j < i + 8; ++j, r >>= 8) {
        seq.push_back(p != nullptr ? p[j] : kBases[r & 3]);
        qual.push_back(static_cast<char>('!' + lowest + static_cast<int>((r >> 2) % spread)));
      }
    }
  }

  std::string seq, qual, cigar, md;
  std::uint64_t ops = 0, md_tokens = 0;

 private:
  char op_ = 0;
  std::uint32_t op_len_ = 0;
  std::uint32_t md_run_ = 0;
};

// Writes `records` records after the header; `error_ppm` is the error rate
// in bases per million aligned reference bases.
inline void long_reads(Out& out, const Genome& genome, std::uint64_t records, std::uint64_t seed,
                       std::uint64_t error_ppm, LongStats& st) {
  constexpr std::uint32_t kMargin = 40000;  // the longest span
  constexpr std::uint32_t kEdge = 10;       // no indel this close to either end
  // Events per reference base: an event costs 0.45 + 0.55 * 2.26 = 1.693
  // error bases on average.
  const std::uint64_t event = per_million(error_ppm) * 1000 / 1693;
  const std::uint64_t ins = event * 27 / 100, del = event * 55 / 100;
  const std::uint64_t kNBase = per_million(300);  // no-calls among substitutions
  const NameOrder names(records, seed);
  Rng rng(seed ^ 0x6C6F6E67ULL);
  LongRead read;
  std::string deleted;

  for (std::uint64_t i = 0; i < records; ++i) {
    std::size_t contig = 0;
    const std::uint64_t flat = genome.place(rng, i, records, kMargin, contig);
    const char* ref = genome.bases.data() + genome.start[contig] + flat;
    const std::uint32_t span = span_length(rng);

    // Clips: soft on a primary record; a supplementary one is clipped hard,
    // on one side at least by the part of the read aligned elsewhere.
    const bool supplementary = rng.below(100) < 6;
    std::uint32_t lclip = rng.below(100) < 40 ? long_clip_length(rng) : 0;
    std::uint32_t rclip = rng.below(100) < 40 ? long_clip_length(rng) : 0;
    if (supplementary) (rng.below(2) == 0 ? lclip : rclip) = 200 + rng.below(4800);
    const char clip = supplementary ? 'H' : 'S';

    read.clear();
    if (lclip != 0) {
      read.op(clip, lclip);
      if (!supplementary) read.bases(rng, nullptr, lclip, 2, 10);
    }
    std::int64_t nm = 0, mismatches = 0, gaps = 0, deleted_here = 0;
    bool after_deletion = false;  // a base stands between two deletions
    for (std::uint32_t r = 0; r < span;) {
      std::uint32_t u = rng.u32();
      const bool inner = r >= kEdge && r + kEdge < span && !after_deletion;
      after_deletion = false;
      if (inner && u < ins) {
        const std::uint32_t n = long_indel_length(rng);
        read.op('I', n);
        read.bases(rng, nullptr, n, 2, 12);
        ++st.insertions;
        st.inserted += n;
        st.long_indels += n > 5;
        nm += n;
        ++gaps;
        // The base after the insertion is matched or substituted, never
        // another indel.
        u = static_cast<std::uint32_t>(del + ((rng.u32() * (0x100000000ULL - del)) >> 32));
      } else if (inner && u < del) {
        const std::uint32_t n = std::min(long_indel_length(rng), span - kEdge - r);
        read.op('D', n);
        deleted.assign(1, '^');
        deleted.append(ref + r, n);
        read.md_event(deleted);
        ++st.deletions;
        st.deleted += n;
        st.long_indels += n > 5;
        nm += n;
        ++gaps;
        deleted_here += n;
        r += n;
        after_deletion = true;
        continue;
      }
      read.op('M', 1);
      if (u < event) {
        // Another base than the reference's, or now and then a no-call.
        int idx = 0;
        while (kBases[idx] != ref[r]) ++idx;
        const char b = u < kNBase ? 'N' : kBases[(idx + 1 + static_cast<int>(u % 3)) & 3];
        read.bases(rng, &b, 1, 2, 8);
        read.md_event(std::string_view(ref + r, 1));
        ++st.substitutions;
        ++nm;
        ++mismatches;
      } else {
        read.bases(rng, ref + r, 1, 8, 30);
        read.md_match();
      }
      ++r;
    }
    read.md_end();
    if (rclip != 0) {
      read.op(clip, rclip);
      if (!supplementary) read.bases(rng, nullptr, rclip, 2, 10);
    }
    read.flush_op();

    const bool reverse = rng.below(2) == 0;
    const int mapq = rng.below(100) < 8 ? static_cast<int>(rng.below(60)) : 60;
    // Scores as a long-read aligner might give them: match 2, mismatch -4,
    // gap 4 plus 2 per base.
    const std::int64_t matches = span - deleted_here - mismatches;
    const std::int64_t as = 2 * matches - 4 * mismatches - 4 * gaps - 2 * (nm - mismatches);

    out.reserve(read.seq.size() * 2 + read.md.size() + read.cigar.size() + 256);
    out.alignment("long.", names(i), (reverse ? 16 : 0) + (supplementary ? 2048 : 0),
                  kContigs[contig].name, flat + 1, mapq, read.cigar);
    out.put(read.seq);
    out.put('\t');
    out.put(read.qual);
    out.put("\tNM:i:");
    out.num(static_cast<std::uint64_t>(nm));
    out.put("\tMD:Z:");
    out.put(read.md);
    out.put("\tAS:i:");
    out.snum(as);
    out.put("\ttp:A:P\n");

    ++st.records;
    st.read_bases += read.seq.size();
    st.ref_bases += span;
    st.supplementary += supplementary;
    st.soft_clipped += !supplementary && (lclip != 0 || rclip != 0);
    st.cigar_ops += read.ops;
    st.md_tokens += read.md_tokens;
    st.lengths.push_back(static_cast<std::uint32_t>(read.seq.size()));
  }
}

inline void print_long_stats(LongStats& st) {
  const auto pct = [](std::uint64_t n, std::uint64_t d) {
    return d == 0 ? 0.0 : 100.0 * static_cast<double>(n) / static_cast<double>(d);
  };
  const auto per = [](std::uint64_t n, std::uint64_t d) {
    return d == 0 ? 0.0 : static_cast<double>(n) / static_cast<double>(d);
  };
  std::vector<std::uint32_t>& l = st.lengths;
  std::sort(l.begin(), l.end());
  const auto at = [&](std::size_t q) { return l.empty() ? 0u : l[(l.size() - 1) * q / 100]; };
  const std::uint64_t errors = st.substitutions + st.inserted + st.deleted;
  const std::uint64_t events = st.substitutions + st.insertions + st.deletions;
  std::fprintf(stderr,
               "records              %llu (%.2f%% supplementary, %.2f%% soft-clipped)\n"
               "SEQ length           min %u, 10%% %u, median %u, 90%% %u, max %u\n"
               "read bases           %llu\n"
               "error bases          %.3f%% of aligned reference bases (NM)\n"
               "error events         %llu: substitutions %.1f%%, insertions %.1f%%, "
               "deletions %.1f%%\n"
               "indels over 5 bp     %.2f%% of indels\n"
               "columns per CIGAR op %.1f\n"
               "columns per MD token %.1f\n",
               static_cast<unsigned long long>(st.records), pct(st.supplementary, st.records),
               pct(st.soft_clipped, st.records), at(0), at(10), at(50), at(90), at(100),
               static_cast<unsigned long long>(st.read_bases), pct(errors, st.ref_bases),
               static_cast<unsigned long long>(events), pct(st.substitutions, events),
               pct(st.insertions, events), pct(st.deletions, events),
               pct(st.long_indels, st.insertions + st.deletions),
               per(st.read_bases + st.deleted, st.cigar_ops),
               per(st.read_bases + st.deleted, st.md_tokens));
}

}  // namespace sim
