#include "whole_blocks.hpp"

#include <errno.h>
#include <fcntl.h>
#include <htslib/hfile.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

// htslib's interface for stream backends, which its plugins build on; the
// header that declares it (hfile_internal.h) is not installed.
extern "C" {
struct hFILE_backend {
  ssize_t (*read)(hFILE* fp, void* buffer, size_t nbytes);
  ssize_t (*write)(hFILE* fp, const void* buffer, size_t nbytes);
  off_t (*seek)(hFILE* fp, off_t offset, int whence);
  int (*flush)(hFILE* fp);
  int (*close)(hFILE* fp);
};
hFILE* hfile_init(size_t struct_size, const char* mode, size_t capacity);
}

namespace corvane {
namespace {

constexpr std::size_t kHeader = 18;  // a BGZF block's header
// Room for the largest block (64 KiB) with plenty to spare for a read.
constexpr std::size_t kBuffer = std::size_t{1} << 18;

// Whether `p` begins as the header of a BGZF block, as htslib checks it:
// gzip with the extra field that gives the block's size. Only the first n
// bytes (at most kHeader) are looked at.
bool begins_block(const unsigned char* p, std::size_t n) {
  static constexpr struct {
    std::size_t at;
    unsigned char mask, value;
  } kFixed[] = {{0, 0xff, 0x1f}, {1, 0xff, 0x8b}, {2, 0xff, 8},    {3, 4, 4},     {10, 0xff, 6},
                {11, 0xff, 0},   {12, 0xff, 'B'}, {13, 0xff, 'C'}, {14, 0xff, 2}, {15, 0xff, 0}};
  for (const auto& f : kFixed) {
    if (f.at < n && (p[f.at] & f.mask) != f.value) return false;
  }
  return true;
}

// Whether `p` begins as a gzip member of any kind.
bool begins_gzip(const unsigned char* p, std::size_t n) {
  return n >= 3 && p[0] == 0x1f && p[1] == 0x8b && p[2] == 8;
}

// A pipe that, once written to, makes every read of the stream end as the
// input would.
struct Stop {
  Stop() {
    if (pipe2(ends, O_CLOEXEC) != 0) ends[0] = ends[1] = -1;
  }
  ~Stop() {
    for (const int end : ends) {
      if (end >= 0) close(end);
    }
  }
  int ends[2];
};

// Reads fd, unless `stop` is written to first: htslib's reader thread may be
// waiting on a pipe whose writer goes on for ever when corvane stops early,
// and htslib waits for that thread before it closes the stream.
ssize_t read_fd(int fd, const Stop& stop, void* p, std::size_t n) {
  for (;;) {
    if (stop.ends[0] >= 0) {
      pollfd ready[2] = {{fd, POLLIN, 0}, {stop.ends[0], POLLIN, 0}};
      if (poll(ready, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return -1;
      }
      if (ready[1].revents != 0) return 0;
    }
    const ssize_t got = ::read(fd, p, n);
    if (got >= 0 || errno != EINTR) return got;
  }
}

struct State {
  explicit State(int fd) : fd(fd), bytes(kBuffer) {}

  // Finds the blocks that [whole, end) completes.
  void frame();
  void stop(std::string why) {
    const std::lock_guard<std::mutex> lock(fault_mutex);
    fault = std::move(why);
    at_end = true;
  }

  enum class Mode {
    start,    // nothing told yet
    blocks,   // whole BGZF blocks so far
    through,  // anything else: every byte goes on as it comes
  };

  int fd;
  Mode mode = Mode::start;
  std::vector<unsigned char> bytes;
  // [begin, whole): whole blocks to hand over; [whole, end): the start of
  // the next block. Through, all of [begin, end) goes.
  std::size_t begin = 0, whole = 0, end = 0;
  bool handed = false;     // some bytes have gone to htslib
  bool at_end = false;     // nothing more is read from the descriptor
  std::mutex fault_mutex;  // htslib's reader thread sets the fault
  std::string fault;
  Stop halt;  // written to when corvane stops early
};

void State::frame() {
  while (mode != Mode::through) {
    const unsigned char* p = bytes.data() + whole;
    const std::size_t n = std::min(end - whole, kHeader);
    if (!begins_block(p, n)) {
      // Not BGZF from the start, or a plain gzip member after the blocks:
      // htslib reads them without a thread ahead, and so loses nothing.
      if (mode == Mode::start || begins_gzip(p, n)) {
        mode = Mode::through;
        return;
      }
      end = whole;
      stop("a BGZF block is damaged: its header is not valid");
      return;
    }
    if (n < kHeader) return;
    const std::size_t size = (std::size_t{p[16]} | std::size_t{p[17]} << 8) + 1;
    if (size < kHeader) {
      end = whole;
      stop("a BGZF block is damaged: its header is not valid");
      return;
    }
    mode = Mode::blocks;
    if (end - whole < size) return;
    whole += size;
  }
}

struct Stream {
  hFILE base;  // first, so that htslib takes a Stream for an hFILE
  State* state;
};

State& state_of(hFILE* file) {
  return *reinterpret_cast<Stream*>(file)->state;
}

ssize_t stream_read(hFILE* file, void* buffer, std::size_t n) {
  State& s = state_of(file);
  for (;;) {
    const std::size_t ready = (s.mode == State::Mode::through ? s.end : s.whole) - s.begin;
    if (ready > 0) {
      const std::size_t k = std::min(n, ready);
      std::memcpy(buffer, s.bytes.data() + s.begin, k);
      s.begin += k;
      s.handed = true;
      return static_cast<ssize_t>(k);
    }
    if (s.mode == State::Mode::through) return read_fd(s.fd, s.halt, buffer, n);
    if (s.at_end) return 0;
    if (s.begin > 0) {
      std::memmove(s.bytes.data(), s.bytes.data() + s.begin, s.end - s.begin);
      s.whole -= s.begin;
      s.end -= s.begin;
      s.begin = 0;
    }
    // At the start, no more than the caller takes at once: should the input
    // be no BGZF, all of it goes at once, and the descriptor can be read
    // directly from then on.
    std::size_t want = s.bytes.size() - s.end;
    if (s.mode == State::Mode::start) want = std::min(want, n > s.end ? n - s.end : 1);
    const ssize_t got = read_fd(s.fd, s.halt, s.bytes.data() + s.end, want);
    if (got < 0) {
      if (!s.handed) return -1;
      s.stop(std::strerror(errno));
      continue;
    }
    if (got == 0) {
      s.at_end = true;
      if (s.end == s.whole) continue;
      if (s.handed) {
        s.stop("the input ends inside a BGZF block: it is truncated");
      } else {
        // An input that is a single cut block goes as it is: with nothing
        // before it to lose, htslib tells what is wrong with it.
        s.mode = State::Mode::through;
      }
      continue;
    }
    s.end += static_cast<std::size_t>(got);
    s.frame();
  }
}

ssize_t stream_write(hFILE*, const void*, std::size_t) {
  errno = EBADF;
  return -1;
}

off_t stream_seek(hFILE*, off_t, int) {
  errno = ESPIPE;
  return -1;
}

int stream_flush(hFILE*) {
  return 0;
}

int stream_close(hFILE* file) {
  delete &state_of(file);
  return 0;
}

constexpr hFILE_backend kBackend = {stream_read, stream_write, stream_seek, stream_flush,
                                    stream_close};

}  // namespace

hFILE* open_whole_blocks(int fd) {
  auto state = std::make_unique<State>(fd);
  hFILE* file = hfile_init(sizeof(Stream), "r", 0);
  if (file == nullptr) return nullptr;
  reinterpret_cast<Stream*>(file)->state = state.release();
  file->backend = &kBackend;
  return file;
}

void stop_whole_blocks(hFILE* file) {
  if (file == nullptr || file->backend != &kBackend) return;
  const int end = reinterpret_cast<Stream*>(file)->state->halt.ends[1];
  const char byte = 0;
  if (end >= 0) (void)!write(end, &byte, 1);
}

std::string whole_blocks_fault(const hFILE* file) {
  if (file == nullptr || file->backend != &kBackend) return "";
  State& s = *reinterpret_cast<const Stream*>(file)->state;
  const std::lock_guard<std::mutex> lock(s.fault_mutex);
  return s.fault;
}

}  // namespace corvane
