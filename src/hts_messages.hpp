// htslib's own messages, kept from standard error.
//
// htslib writes its warnings and errors to stdio's standard error, where
// they would stand between corvane's lines and break the one-line report
// that a failed read gets. While a HtsMessages lives, they go to it instead:
// the last few lines stay at hand to tell why a read failed, and whether a
// line with one of the watched texts came at all.
#pragma once

#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

class HtsMessages {
 public:
  // `watched`: texts whose lines are remembered however many come after.
  explicit HtsMessages(std::vector<std::string> watched = {});
  ~HtsMessages();
  HtsMessages(const HtsMessages&) = delete;
  HtsMessages& operator=(const HtsMessages&) = delete;

  // The first kept line that contains `text`, or an empty string.
  std::string find(std::string_view text) const;
  // Whether any line so far contained watched text `i`.
  bool saw(std::size_t i) const;

 private:
  static ssize_t write(void* self, const char* data, std::size_t size);
  void take(std::string_view data);

  static constexpr std::size_t kLines = 16;
  static constexpr std::size_t kLineBytes = 1024;

  mutable std::mutex mutex_;  // htslib's worker threads write too
  std::deque<std::string> lines_;
  std::vector<std::string> watched_;
  std::vector<bool> seen_;
  std::string partial_;
  std::FILE* previous_ = nullptr;
  std::FILE* capture_ = nullptr;
};

}  // namespace corvane
