// The input's form from its first bytes, in a build without htslib: SAM
// text is read, anything else is refused with what to install.
#include <algorithm>
#include <cstring>
#include <string>

#include "detect_input.hpp"
#include "open_input.hpp"
#include "text_reader.hpp"

namespace corvane {
namespace {

// The first bytes, read to tell the form, then the rest of the descriptor.
class PrefixedSource : public ByteSource {
 public:
  explicit PrefixedSource(int fd) : fd_(fd) {}

  // Reads until the form is told; each read takes what the descriptor has.
  InputForm detect() {
    char buffer[kDetectBytes];
    for (;;) {
      const InputForm form = detect_input(prefix_, at_end_);
      if (form != InputForm::undecided) return form;
      const std::size_t got = fd_.read(buffer, sizeof buffer);
      at_end_ = got == 0;
      prefix_.append(buffer, got);
    }
  }

  std::size_t read(char* p, std::size_t n) override {
    if (used_ == prefix_.size()) return at_end_ ? 0 : fd_.read(p, n);
    const std::size_t k = std::min(n, prefix_.size() - used_);
    std::memcpy(p, prefix_.data() + used_, k);
    used_ += k;
    return k;
  }

 private:
  FdSource fd_;
  std::string prefix_;
  std::size_t used_ = 0;
  bool at_end_ = false;
};

}  // namespace

std::unique_ptr<RecordSource> open_input(int fd, Output& output) {
  auto source = std::make_unique<PrefixedSource>(fd);
  const InputForm form = source->detect();
  if (form != InputForm::text) {
    // Without a decompressor, gzip hides whether it holds BAM or text.
    const char* what = form == InputForm::bam    ? "BAM"
                       : form == InputForm::cram ? "CRAM"
                                                 : "BAM or compressed";
    throw ReadError{0, std::string(what) +
                           " input needs corvane built with htslib: install htslib (Debian: "
                           "libhts-dev) and build again, or pipe SAM text in: samtools view "
                           "-F 4 FILE | corvane"};
  }
  return std::make_unique<TextReader>(std::move(source), output);
}

}  // namespace corvane
