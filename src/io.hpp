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
#include <memory>
#include <string>
#include <string_view>

namespace corvane {

// A failed read on standard input; `error` is the errno value.
struct ReadError {
  int error;
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
  Output(ByteSink& out, ByteSink& err) : out_(out), err_(err) {}

  void to_out(std::string_view s) { put(out_buf_, out_, err_buf_, err_, s); }
  void to_err(std::string_view s) { put(err_buf_, err_, out_buf_, out_, s); }

  // Hands both buffers to the operating system.
  void flush() {
    drain(out_buf_, out_);
    drain(err_buf_, err_);
  }

 private:
  static constexpr std::size_t kBufferSize = 1 << 18;

  static void drain(std::string& buf, ByteSink& sink) {
    if (buf.empty()) return;
    sink.write(buf.data(), buf.size());
    buf.clear();
  }

  static void put(std::string& buf, ByteSink& sink, std::string& other_buf, ByteSink& other,
                  std::string_view s) {
    drain(other_buf, other);
    if (buf.size() + s.size() > kBufferSize) {
      drain(buf, sink);
      if (s.size() >= kBufferSize) {
        sink.write(s.data(), s.size());
        return;
      }
    }
    buf.append(s);
  }

  ByteSink& out_;
  ByteSink& err_;
  std::string out_buf_;
  std::string err_buf_;
};

// Hands out the lines of a ByteSource, without their line feeds. Memory is
// bounded by the longest line plus one block.
class LineReader {
 public:
  // `output` is flushed before every read that may wait for input.
  LineReader(ByteSource& source, Output& output) : source_(source), output_(output) {}

  // The next line, valid until the next call; false when no character is
  // left. Throws ReadError.
  bool next(std::string_view& line);

 private:
  static constexpr std::size_t kBlockSize = 1 << 20;

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
