// One of the three growing lines of an alignment block.
//
// A line keeps at most `cap` bytes in memory. What goes past that is handed
// to a spill function (or dropped when there is none) and only counted, so a
// CIGAR that asks for billions of columns cannot exhaust memory: the record
// loop then walks the record again, once per line, with that line spilling
// straight to standard output.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

namespace corvane {

class Line {
 public:
  using Spill = std::function<void(std::string_view)>;

  // Empties the line; `cap` bounds the bytes held, `spill` receives the rest.
  void reset(std::size_t cap, Spill spill = nullptr) {
    cap_ = std::max<std::size_t>(cap, 1);
    spill_ = std::move(spill);
    len_ = 0;
    spilled_ = 0;
  }

  void push_back(char c) {
    if (len_ == buf_.size()) make_room();
    buf_[len_++] = c;
  }

  void append(const char* p, std::size_t n) {
    if (discarding()) return discard(n);
    while (n != 0) {
      if (len_ == buf_.size()) make_room();
      const std::size_t k = std::min(n, buf_.size() - len_);
      std::memcpy(buf_.data() + len_, p, k);
      len_ += k;
      p += k;
      n -= k;
    }
  }

  void fill(char c, std::size_t n) {
    if (discarding()) return discard(n);
    while (n != 0) {
      if (len_ == buf_.size()) make_room();
      const std::size_t k = std::min(n, buf_.size() - len_);
      std::memset(buf_.data() + len_, c, k);
      len_ += k;
      n -= k;
    }
  }

  // Bytes appended since reset, held or not.
  std::size_t size() const { return spilled_ + len_; }
  // True when part of the line went to the spill function.
  bool spilled() const { return spilled_ != 0; }
  // The bytes held (the whole line unless spilled()).
  std::string_view held() const { return {buf_.data(), len_}; }

  // Hands the held bytes to the spill function.
  void drain() {
    if (len_ == 0) return;
    if (spill_) spill_(held());
    spilled_ += len_;
    len_ = 0;
  }

 private:
  // Full, with nowhere to spill: bytes from here on are only counted.
  bool discarding() const { return !spill_ && len_ == buf_.size() && buf_.size() >= cap_; }
  void discard(std::size_t n) {
    drain();
    spilled_ += n;
  }

  void make_room() {
    if (buf_.size() < cap_) {
      buf_.resize(std::min(cap_, std::max<std::size_t>(256, buf_.size() * 2)));
    } else {
      drain();
    }
  }

  std::vector<char> buf_;
  std::size_t len_ = 0;
  std::size_t cap_ = 1;
  std::size_t spilled_ = 0;
  Spill spill_;
};

}  // namespace corvane
