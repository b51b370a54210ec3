#include "hts_messages.hpp"

#include <utility>

namespace corvane {

HtsMessages::HtsMessages(std::vector<std::string> watched)
    : watched_(std::move(watched)), seen_(watched_.size()) {
#if defined(__GLIBC__)
  capture_ = fopencookie(this, "w", {nullptr, &HtsMessages::write, nullptr, nullptr});
  if (capture_ == nullptr) return;
  setvbuf(capture_, nullptr, _IONBF, 0);
  previous_ = stderr;
  stderr = capture_;
#endif
}

HtsMessages::~HtsMessages() {
#if defined(__GLIBC__)
  if (capture_ == nullptr) return;
  stderr = previous_;
  std::fclose(capture_);
#endif
}

ssize_t HtsMessages::write(void* self, const char* data, std::size_t size) {
  static_cast<HtsMessages*>(self)->take({data, size});
  return static_cast<ssize_t>(size);
}

void HtsMessages::take(std::string_view data) {
  const std::lock_guard<std::mutex> lock(mutex_);
  for (const char c : data) {
    if (c != '\n') {
      if (partial_.size() < kLineBytes) partial_.push_back(c);
      continue;
    }
    for (std::size_t i = 0; i < watched_.size(); ++i) {
      if (partial_.find(watched_[i]) != std::string::npos) seen_[i] = true;
    }
    // Only the last lines are kept, however many htslib writes.
    if (lines_.size() == kLines) lines_.pop_front();
    lines_.push_back(std::move(partial_));
    partial_.clear();
  }
}

std::string HtsMessages::find(std::string_view text) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  for (const std::string& line : lines_) {
    if (line.find(text) != std::string::npos) return line;
  }
  return partial_.find(text) != std::string::npos ? partial_ : std::string();
}

bool HtsMessages::saw(std::size_t i) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return seen_[i];
}

}  // namespace corvane
