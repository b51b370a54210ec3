// One of the three growing lines of an alignment block.
//
// A line keeps at most `cap` bytes in memory. What goes past that is handed
// to standard output (or dropped when it is not to be shown) and only counted, so a
// CIGAR that asks for billions of columns cannot exhaust memory: the record
// loop then walks the record again, once per line, with that line spilling
// straight to standard output.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>
#include <vector>

#include "bytes.hpp"
#include "io.hpp"

namespace corvane {

class Line {
 public:
  // Empties the line into its own storage: at most `cap` bytes are held,
  // the rest goes to standard output through `spill`, or is only counted.
  void reset(std::size_t cap, Output* spill = nullptr) {
    cap_ = std::max<std::size_t>(cap, 1);
    spill_ = spill;
    len_ = 0;
    spilled_ = 0;
    external_ = false;
    data_ = own_.data();
    room_ = own_.size();
  }

  // Empties the line into `room` bytes at `p` that the caller owns, so the
  // line is built where it will be written. Should they not suffice, the
  // line moves to its own storage, as after reset(cap).
  void reset_into(char* p, std::size_t room, std::size_t cap) {
    reset(cap);
    external_ = true;
    data_ = p;
    room_ = room;
  }

  // True while the line is still in the caller's bytes.
  bool in_place() const { return external_; }

  void push_back(char c) {
    if (len_ == room_) make_room();
    data_[len_++] = c;
  }

  void append(const char* p, std::size_t n) {
    put(n, [p](char* to, std::size_t at, std::size_t k) { copy_bytes(to, p + at, k); });
  }

  void fill(char c, std::size_t n) {
    put(n, [c](char* to, std::size_t, std::size_t k) { fill_bytes(to, c, k); });
  }

  // Room for n more bytes, to be written in place and then counted with
  // commit(); nullptr when the line cannot give them without spilling or
  // leaving the caller's bytes (append then).
  char* claim(std::size_t n) {
    if (n <= room_ - len_) return data_ + len_;
    // A line that left the caller's bytes may hold more than the cap.
    if (external_ || len_ > cap_ || n > cap_ - len_) return nullptr;
    own_.resize(std::min(cap_, std::max(len_ + n, room_ * 2)));
    data_ = own_.data();
    room_ = own_.size();
    return data_ + len_;
  }
  void commit(std::size_t n) { len_ += n; }

  // Bytes appended since reset, held or not.
  std::size_t size() const { return spilled_ + len_; }
  // True when part of the line went to the spill function.
  bool spilled() const { return spilled_ != 0; }
  // The bytes held (the whole line unless spilled()).
  std::string_view held() const { return {data_, len_}; }

  // Hands the held bytes to the spill function.
  void drain() {
    if (len_ == 0) return;
    if (spill_ != nullptr) spill_->to_out(held());
    spilled_ += len_;
    len_ = 0;
  }

 private:
  // Appends n bytes, written piece by piece by write(to, offset, count).
  template <class Write>
  void put(std::size_t n, Write write) {
    if (n == 0) return;
    if (n <= room_ - len_) {
      write(data_ + len_, 0, n);
      len_ += n;
      return;
    }
    if (discarding()) return discard(n);
    for (std::size_t done = 0; done != n;) {
      if (len_ == room_) make_room();
      const std::size_t k = std::min(n - done, room_ - len_);
      write(data_ + len_, done, k);
      len_ += k;
      done += k;
    }
  }

  // Full, with nowhere to spill: bytes from here on are only counted.
  bool discarding() const {
    return !external_ && spill_ == nullptr && len_ == room_ && room_ >= cap_;
  }
  void discard(std::size_t n) {
    drain();
    spilled_ += n;
  }

  void make_room() {
    if (external_) {
      // What is built so far comes along whole, whatever the cap.
      own_.resize(std::max(own_.size(), std::max<std::size_t>(256, room_ * 2)));
      std::memcpy(own_.data(), data_, len_);
      external_ = false;
    } else if (room_ < cap_) {
      own_.resize(std::min(cap_, std::max<std::size_t>(256, room_ * 2)));
    } else {
      drain();
      return;
    }
    data_ = own_.data();
    room_ = own_.size();
  }

  std::vector<char> own_;
  char* data_ = nullptr;
  std::size_t room_ = 0;  // bytes at data_
  std::size_t len_ = 0;   // bytes held at data_
  std::size_t cap_ = 1;   // most bytes held in own storage
  std::size_t spilled_ = 0;
  bool external_ = false;
  Output* spill_ = nullptr;
};

}  // namespace corvane
