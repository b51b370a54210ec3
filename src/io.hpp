// Block input and buffered output.
//
// Input is read in large blocks and handed out line by line; output goes
// through one buffer per stream. A buffer reaches the operating system when
// it is full, before the other stream is written to, before the program
// would wait for more input, and before exit. A reader of either stream, or
// of both merged, therefore sees what it would see with a flush per line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace corvane {

// A failed read of the input: `error` is the errno value, or 0 when
// `reason` tells what failed.
struct ReadError {
  int error = 0;
  std::string reason;
};

// A failed write; `stream` names it for the message ("standard output").
struct WriteError {
  const char* stream;
  int error;
};

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to n bytes; 0 at the end of the input. Throws ReadError.
  virtual std::size_t read(char* p, std::size_t n) = 0;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all n bytes. Throws WriteError.
  virtual void write(const char* p, std::size_t n) = 0;
};

class FdSource : public ByteSource {
 public:
  explicit FdSource(int fd) : fd_(fd) {}
  std::size_t read(char* p, std::size_t n) override;

 private:
  int fd_;
};

class FdSink : public ByteSink {
 public:
  FdSink(int fd, const char* name) : fd_(fd), name_(name) {}
  void write(const char* p, std::size_t n) override;

  // When the descriptor is a pipe, asks for its buffer to hold `bytes`, so
  // that one write of a full output buffer is not cut into several waits
  // for the reader (a pipe holds 64 KiB by default). Best effort: a system
  // that refuses leaves the pipe as it was.
  void widen_pipe(std::size_t bytes);

 private:
  int fd_;
  const char* name_;
};

// In-memory ends, for the tests and the fuzzer. `chunk` bounds every read,
// to exercise lines split across reads.
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::string_view data, std::size_t chunk = SIZE_MAX)
      : data_(data), chunk_(chunk) {}
  std::size_t read(char* p, std::size_t n) override;

 private:
  std::string_view data_;
  std::size_t chunk_;
};

class MemorySink : public ByteSink {
 public:
  void write(const char* p, std::size_t n) override { data.append(p, n); }
  std::string data;
};

// Standard output and standard error, each behind a buffer.
class Output {
 public:
  // Bytes each stream holds before they go to the operating system.
  static constexpr std::size_t kBufferSize = std::size_t{1} << 18;

  Output(ByteSink& out, ByteSink& err) : out_(out), err_(err) {}

  void to_out(std::string_view s) { to(out_, err_).put(s); }
  void to_err(std::string_view s) { to(err_, out_).put(s); }
  // `s` and a line feed.
  void line_to_out(std::string_view s) { to(out_, err_).put_line(s); }

  // Room for n bytes at the end of the standard output buffer, to be built
  // in place and then passed on with commit_out(); nullptr when the buffer
  // cannot hold n. Anything written to either stream in between discards
  // the room: commit only what was built since the claim with nothing else
  // written.
  char* claim_out(std::size_t n) { return to(out_, err_).claim(n); }
  void commit_out(std::size_t n) { out_.commit(n); }

  // Hands both buffers to the operating system.
  void flush() {
    out_.drain();
    err_.drain();
  }

 private:
  class Stream {
   public:
    explicit Stream(ByteSink& sink) : sink_(sink), data_(new char[kSize]) {}

    bool empty() const { return used_ == 0; }

    void drain() {
      if (used_ == 0) return;
      const std::size_t n = used_;
      used_ = 0;  // nothing is written twice, even after a failed write
      sink_.write(data_.get(), n);
    }

    void put(std::string_view s) {
      if (s.empty()) return;  // an empty view may have no address at all
      if (s.size() > kSize - used_ && !make_room(s)) return;
      std::memcpy(data_.get() + used_, s.data(), s.size());
      used_ += s.size();
    }

    void put_line(std::string_view s) {
      if (s.size() >= kSize - used_) {
        put(s);
        put("\n");
        return;
      }
      if (!s.empty()) std::memcpy(data_.get() + used_, s.data(), s.size());
      used_ += s.size();
      data_[used_++] = '\n';
    }

    char* claim(std::size_t n) {
      if (n > kSize) return nullptr;
      if (n > kSize - used_) drain();
      return data_.get() + used_;
    }

    void commit(std::size_t n) { used_ += n; }

   private:
    static constexpr std::size_t kSize = kBufferSize;

    // Drains the buffer; false when `s` was too big for it and went straight
    // to the sink.
    bool make_room(std::string_view s) {
      drain();
      if (s.size() < kSize) return true;
      sink_.write(s.data(), s.size());
      return false;
    }

    ByteSink& sink_;
    std::unique_ptr<char[]> data_;
    std::size_t used_ = 0;
  };

  // The stream to write to, after the other one has been handed on, so the
  // two stay in order when they are merged.
  static Stream& to(Stream& target, Stream& other) {
    if (!other.empty()) other.drain();
    return target;
  }

  Stream out_;
  Stream err_;
};

// Hands out the lines of a ByteSource, without their line feeds. Memory is
// bounded by the longest line plus one block.
class LineReader {
 public:
  // `output` is flushed before every read that may wait for input.
  LineReader(ByteSource& source, Output& output) : source_(source), output_(output) {}

  // The next line, valid until the next call; false when no character is
  // left. At least kPadding bytes after its end may be read (their values
  // are unspecified). Throws ReadError.
  bool next(std::string_view& line);

  static constexpr std::size_t kPadding = 128;

 private:
  static constexpr std::size_t kBlockSize = 1 << 17;

  ByteSource& source_;
  Output& output_;
  std::unique_ptr<char[]> buf_;  // not zeroed: only bytes read are looked at
  std::size_t size_ = 0;
  std::size_t begin_ = 0;  // first byte of the next line
  std::size_t scan_ = 0;   // bytes before this hold no line feed
  std::size_t end_ = 0;    // end of the bytes read
  bool at_end_ = false;
};

}  // namespace corvane
