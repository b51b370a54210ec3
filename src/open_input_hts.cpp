// The input's form from its first bytes, and a reader for it, with htslib
// for everything but plain SAM text.
#include <errno.h>
#include <htslib/bgzf.h>
#include <htslib/hfile.h>
#include <htslib/hts.h>
#include <sched.h>

#include <algorithm>

#include "binary_reader.hpp"
#include "detect_input.hpp"
#include "hts_faults.hpp"
#include "hts_messages.hpp"
#include "open_input.hpp"
#include "text_reader.hpp"
#include "whole_blocks.hpp"

namespace corvane {
namespace {

// Worker threads for decompression: one more than the processors the
// process may run on, which measured a little faster than one each, as the
// threads also wait on one another.
int worker_threads() {
  cpu_set_t cpus;
  if (sched_getaffinity(0, sizeof cpus, &cpus) != 0) return 2;
  return std::max(1, CPU_COUNT(&cpus)) + 1;
}

int error_of(hFILE* file) {
  const int error = herrno(file);
  return error != 0 ? error : errno;
}

struct CloseStream {
  void operator()(hFILE* file) const { hclose_abruptly(file); }
};
using Stream = std::unique_ptr<hFILE, CloseStream>;

// Plain text: the bytes that htslib read ahead while the form was told, then
// the descriptor itself, read as the plain reader reads it, so that a line
// that comes down a pipe is laid out before the next one is waited for.
class PeekedSource : public ByteSource {
 public:
  PeekedSource(Stream file, int fd) : file_(std::move(file)), fd_(fd) {}

  std::size_t read(char* p, std::size_t n) override {
    const auto held = static_cast<std::size_t>(file_->end - file_->begin);
    if (held == 0) return fd_.read(p, n);
    const ssize_t got = hread(file_.get(), p, std::min(n, held));
    if (got < 0) throw ReadError{error_of(file_.get()), {}};
    return static_cast<std::size_t>(got);
  }

 private:
  Stream file_;
  FdSource fd_;
};

struct CloseBgzf {
  void operator()(BGZF* z) const {
    // A run that ends early must not wait for the rest of the input.
    stop_whole_blocks(z->fp);
    (void)bgzf_close(z);
  }
};

// Text compressed with gzip or BGZF, read as if through zcat.
class CompressedSource : public ByteSource {
 public:
  CompressedSource(Stream file, int threads) : messages_(bgzf_watched()) {
    z_.reset(bgzf_hopen(file.get(), "r"));
    if (z_ == nullptr) throw ReadError{0, "the compressed input cannot be opened"};
    file.release();  // the BGZF stream closes it
    if (threads > 0 && !z_->is_gzip) (void)bgzf_mt(z_.get(), threads, 256);
  }

  std::size_t read(char* p, std::size_t n) override {
    // No further than the block at hand, so that a fault in the next one
    // does not take with it the bytes before it.
    const auto left = static_cast<std::size_t>(z_->block_length - z_->block_offset);
    const ssize_t got = bgzf_read(z_.get(), p, left > 0 ? std::min(n, left) : 1);
    if (got < 0) {
      const std::string why = bgzf_fault(z_.get(), messages_);
      throw ReadError{0, why.empty() ? "the compressed input cannot be read" : why};
    }
    if (got == 0) {
      const std::string why = bgzf_end_fault(z_.get(), messages_);
      if (!why.empty()) throw ReadError{0, why};
    }
    return static_cast<std::size_t>(got);
  }

 private:
  HtsMessages messages_;  // outlives the stream's threads
  std::unique_ptr<BGZF, CloseBgzf> z_;
};

}  // namespace

std::unique_ptr<RecordSource> open_input(int fd, Output& output) {
  Stream file(open_whole_blocks(fd));
  if (file == nullptr) throw ReadError{errno, {}};
  // Byte by byte while the bytes so far could begin a signature: a read of
  // more than the first one waits only when they do.
  char start[kDetectBytes];
  InputForm form = InputForm::undecided;
  for (std::size_t want = 1; form == InputForm::undecided; ++want) {
    const ssize_t got = hpeek(file.get(), start, want);
    if (got < 0) throw ReadError{error_of(file.get()), {}};
    form =
        detect_input({start, static_cast<std::size_t>(got)}, static_cast<std::size_t>(got) < want);
  }
  if (form == InputForm::gzip) {
    htsFormat inside;
    if (hts_detect_format2(file.get(), nullptr, &inside) < 0) {
      throw ReadError{error_of(file.get()), {}};
    }
    if (inside.format != bam) {
      return std::make_unique<TextReader>(
          std::make_unique<CompressedSource>(std::move(file), worker_threads()), output);
    }
    form = InputForm::bam;
  }
  if (form == InputForm::text) {
    return std::make_unique<TextReader>(std::make_unique<PeekedSource>(std::move(file), fd),
                                        output);
  }
  return open_binary(file.release(), worker_threads());
}

}  // namespace corvane
