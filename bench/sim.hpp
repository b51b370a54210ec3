// What both read simulators of gen_sam share: the random generator, the
// genome, buffered output and read naming.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

constexpr char kBases[4] = {'A', 'C', 'G', 'T'};

// Probabilities are fractions of 2^32 so that no floating point is involved.
constexpr std::uint64_t per_million(std::uint64_t ppm) {
  return ppm * 4294967296ULL / 1000000ULL;
}

struct Contig {
  const char* name;
  std::uint32_t length;
};
constexpr Contig kContigs[] = {{"chr1", 2'500'000}, {"chr2", 1'600'000}, {"chr3", 900'000}};

inline std::uint64_t splitmix64(std::uint64_t& x) {
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

// Decimal digits of n appended at p; returns the new end.
inline char* put_decimal(char* p, std::uint64_t n) {
  char tmp[24];
  int k = 0;
  do {
    tmp[k++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0);
  while (k > 0) *p++ = tmp[--k];
  return p;
}

class Out {
 public:
  Out() { buf_.resize(kSize); }
  ~Out() { flush(); }
  // Room for n more bytes.
  void reserve(std::size_t n) {
    if (len_ + n > buf_.size()) flush();
    if (n > buf_.size()) buf_.resize(n);
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
    len_ = static_cast<std::size_t>(put_decimal(buf_.data() + len_, v) - buf_.data());
  }
  void snum(std::int64_t v) {
    if (v < 0) {
      put('-');
      num(static_cast<std::uint64_t>(-v));
    } else {
      num(static_cast<std::uint64_t>(v));
    }
  }
  // QNAME (`prefix` and a number) to the tab after CIGAR, and the mate
  // fields of a single-end read, up to the tab before SEQ.
  void alignment(std::string_view prefix, std::uint64_t name, unsigned flag, const char* rname,
                 std::uint64_t pos, int mapq, std::string_view cigar) {
    put(prefix);
    num(name);
    put('\t');
    num(flag);
    put('\t');
    put(std::string_view(rname));
    put('\t');
    num(pos);
    put('\t');
    num(static_cast<std::uint64_t>(mapq));
    put('\t');
    put(cigar);
    put("\t*\t0\t0\t");
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

// The contigs of kContigs back to back, uniform random bases.
struct Genome {
  explicit Genome(std::uint64_t seed) {
    std::uint64_t off = 0;
    for (const auto& c : kContigs) {
      start.push_back(off);
      off += c.length;
    }
    bases.assign(off, 'N');
    Rng g(seed ^ 0x67656E6F6D65ULL);
    for (std::uint64_t i = 0; i < off; i += 32) {
      std::uint64_t r = g.next();
      for (std::uint64_t j = i; j < i + 32 && j < off; ++j, r >>= 2) bases[j] = kBases[r & 3];
    }
  }

  // FASTA with 60 bases a line; false on a write error.
  bool write_fasta(const char* path) const {
    FILE* f = std::fopen(path, "wb");
    if (f == nullptr) {
      std::fprintf(stderr, "gen_sam: cannot open %s: %s\n", path, std::strerror(errno));
      return false;
    }
    for (std::size_t k = 0; k < std::size(kContigs); ++k) {
      std::fprintf(f, ">%s\n", kContigs[k].name);
      for (std::uint64_t p = 0; p < kContigs[k].length; p += 60) {
        const std::uint64_t n = kContigs[k].length - p < 60 ? kContigs[k].length - p : 60;
        std::fwrite(bases.data() + start[k] + p, 1, n, f);
        std::fputc('\n', f);
      }
    }
    if (std::fclose(f) != 0) {
      std::fprintf(stderr, "gen_sam: error writing %s\n", path);
      return false;
    }
    return true;
  }

  // Start of the i-th of n reads, stratified over the genome so that the
  // file comes out coordinate-sorted without a sort; each contig keeps
  // `margin` bases at its end free of starts, so that every read fits.
  // Sets `contig` and returns the 0-based offset in it.
  std::uint64_t place(Rng& rng, std::uint64_t i, std::uint64_t n, std::uint32_t margin,
                      std::size_t& contig) const {
    std::uint64_t usable = 0;
    for (const auto& c : kContigs) usable += c.length - margin;
    const std::uint64_t lo = i * usable / n;
    const std::uint64_t hi = (i + 1) * usable / n;
    std::uint64_t flat = lo + (hi > lo ? rng.below(static_cast<std::uint32_t>(hi - lo)) : 0);
    contig = 0;
    while (flat >= kContigs[contig].length - margin) {
      flat -= kContigs[contig].length - margin;
      ++contig;
    }
    return flat;
  }

  std::string bases;
  std::vector<std::uint64_t> start;
};

inline std::uint64_t gcd(std::uint64_t a, std::uint64_t b) {
  while (b != 0) {
    const std::uint64_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}

// Read numbers 1..n in a shuffled order, as the names in a sorted file from
// a real run come out.
class NameOrder {
 public:
  NameOrder(std::uint64_t n, std::uint64_t seed) : mod_(n == 0 ? 1 : n) {
    mul_ = 2654435761ULL % mod_;
    if (mul_ == 0) mul_ = 1;
    while (gcd(mul_, mod_) != 1) ++mul_;
    add_ = (seed * 40503ULL) % mod_;
  }
  std::uint64_t operator()(std::uint64_t i) const { return (i * mul_ + add_) % mod_ + 1; }

 private:
  std::uint64_t mod_, mul_ = 1, add_ = 0;
};

}  // namespace sim
