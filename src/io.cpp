#include "io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace corvane {

std::size_t FdSource::read(char* p, std::size_t n) {
  for (;;) {
    const ssize_t got = ::read(fd_, p, n);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) throw ReadError{errno, {}};
  }
}

void FdSink::widen_pipe(std::size_t bytes) {
#if defined(F_SETPIPE_SZ)
  struct stat st;
  if (fstat(fd_, &st) == 0 && S_ISFIFO(st.st_mode)) {
    fcntl(fd_, F_SETPIPE_SZ, static_cast<int>(bytes));
  }
#else
  (void)bytes;
#endif
}

std::size_t MemorySource::read(char* p, std::size_t n) {
  const std::size_t k = std::min({n, chunk_, data_.size()});
  std::memcpy(p, data_.data(), k);
  data_.remove_prefix(k);
  return k;
}

void FdSink::write(const char* p, std::size_t n) {
  while (n != 0) {
    const ssize_t put = ::write(fd_, p, n);
    if (put < 0) {
      if (errno == EINTR) continue;
      throw WriteError{name_, errno};
    }
    p += put;
    n -= static_cast<std::size_t>(put);
  }
}

bool LineReader::next(std::string_view& line) {
  for (;;) {
    if (scan_ < end_) {
      const void* nl = std::memchr(buf_.get() + scan_, '\n', end_ - scan_);
      if (nl != nullptr) {
        const std::size_t at = static_cast<const char*>(nl) - buf_.get();
        line = std::string_view(buf_.get() + begin_, at - begin_);
        begin_ = scan_ = at + 1;
        return true;
      }
      scan_ = end_;
    }
    if (at_end_) {
      if (begin_ == end_) return false;
      // A last line without a line feed.
      line = std::string_view(buf_.get() + begin_, end_ - begin_);
      begin_ = scan_ = end_;
      return true;
    }
    // Make room for one more block: move the partial line to the front, and
    // grow only when the line itself fills the buffer.
    if (begin_ != 0) {
      std::memmove(buf_.get(), buf_.get() + begin_, end_ - begin_);
      end_ -= begin_;
      scan_ -= begin_;
      begin_ = 0;
    }
    if (size_ - end_ < kBlockSize / 2) {
      const std::size_t size = std::max(kBlockSize, size_ * 2);
      std::unique_ptr<char[]> bigger(new char[size + kPadding]);
      if (end_ != 0) std::memcpy(bigger.get(), buf_.get(), end_);
      buf_ = std::move(bigger);
      size_ = size;
    }
    output_.flush();
    const std::size_t got = source_.read(buf_.get() + end_, size_ - end_);
    if (got == 0) at_end_ = true;
    end_ += got;
  }
}

}  // namespace corvane
