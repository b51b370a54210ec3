// A read-only character stream over a text in memory.
//
// It reads exactly as a std::istringstream in the classic locale reads into
// int32_t and char (same indicators, same stored values, same characters
// consumed), but costs nothing to set up: the walk opens two of these per
// record, so a real stringstream would dominate the run time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace corvane {

class CharStream {
 public:
  CharStream() = default;
  explicit CharStream(std::string_view text) : pos_(text.data()), end_(text.data() + text.size()) {}

  // Same meaning as the std::ios members of these names.
  bool eof() const { return (state_ & kEof) != 0; }
  bool fail() const { return (state_ & (kFail | kBad)) != 0; }
  bool bad() const { return (state_ & kBad) != 0; }
  bool good() const { return state_ == 0; }
  void clear() { state_ = 0; }

  // Characters after the read position, whatever the indicators say.
  std::int64_t in_avail() const { return end_ - pos_; }

  // For readers that take a whole token at a time: the unread characters,
  // and a move past the first n of them. Only the position changes, so the
  // caller must read exactly what the reads above would have read.
  const char* cursor() const { return pos_; }
  const char* limit() const { return end_; }
  void skip(std::size_t n) { pos_ += n; }
  // The same after characters that an integer read took: reaching the end
  // of the text then sets the end-of-text indicator, as that read does.
  void skip_integer(std::size_t n) {
    pos_ += n;
    if (pos_ == end_) state_ |= kEof;
  }

  // Decimal integer: optional sign, digits; out-of-range values store the
  // nearer bound and fail, no digits stores 0 and fails.
  CharStream& operator>>(std::int32_t& value) {
    if (!start()) return *this;
    bool negative = false;
    if (*pos_ == '+' || *pos_ == '-') {
      negative = *pos_ == '-';
      ++pos_;
    }
    // Accumulate the magnitude with saturation: a run of digits may be any
    // length, only whether it exceeds the range matters.
    constexpr std::uint64_t kLimit = std::uint64_t{1} << 31;  // |INT32_MIN|
    std::uint64_t magnitude = 0;
    bool any_digit = false;
    while (pos_ != end_ && static_cast<unsigned char>(*pos_ - '0') <= 9) {
      any_digit = true;
      if (magnitude <= kLimit) magnitude = magnitude * 10 + static_cast<unsigned>(*pos_ - '0');
      ++pos_;
    }
    if (pos_ == end_) state_ |= kEof;
    if (!any_digit) {
      state_ |= kFail;
      value = 0;
    } else if (negative) {
      if (magnitude > kLimit) {
        state_ |= kFail;
        value = INT32_MIN;
      } else {
        value = static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude));
      }
    } else if (magnitude > kLimit - 1) {
      state_ |= kFail;
      value = INT32_MAX;
    } else {
      value = static_cast<std::int32_t>(magnitude);
    }
    return *this;
  }

  // Next character that is not white space, whatever it is.
  CharStream& operator>>(char& value) {
    if (!start()) return *this;
    value = *pos_++;
    return *this;
  }

 private:
  static bool is_space(char c) { return c == ' ' || static_cast<unsigned char>(c - '\t') <= 4; }

  // The common prologue of both reads: refuse to start on a stream with any
  // indicator set, skip white space, fail at the end of the text.
  bool start() {
    if (state_ != 0) {
      state_ |= kFail;
      return false;
    }
    while (pos_ != end_ && is_space(*pos_)) ++pos_;
    if (pos_ == end_) {
      state_ |= kEof | kFail;
      return false;
    }
    return true;
  }

  const char* pos_ = nullptr;
  const char* end_ = nullptr;
  // The three indicators; reading a text in memory never sets kBad.
  static constexpr unsigned char kEof = 1, kFail = 2, kBad = 4;
  unsigned char state_ = 0;
};

}  // namespace corvane
