#include "text_reader.hpp"

#include "isolate_md.hpp"

namespace corvane {

bool LineRecords::take(std::string_view line, Record& record) {
  // Header lines are recognised only before the first record; a blank line
  // counts as one.
  if (header(line)) return false;
  fields_ = split_fields(line);
  if (fields_.count == 0) return false;
  record.size = line.size();
  if (fields_.count < Fields::kMandatory) {
    record.complete = false;
    record.head = head(fields_.count);
    return true;
  }
  record.complete = true;
  record.head = head(9);
  record.seq = fields_.mandatory[9];
  record.cigar = fields_.mandatory[5];
  record.md = isolate_md(fields_);
  return true;
}

std::string_view LineRecords::head(int count) {
  const auto& f = fields_.mandatory;
  // Usually the fields already stand in the line joined by single tabs.
  bool joined = true;
  for (int i = 1; i < count && joined; ++i) {
    const char* gap = f[i - 1].data() + f[i - 1].size();
    joined = gap + 1 == f[i].data() && *gap == '\t';
  }
  if (joined)
    return {f[0].data(),
            static_cast<std::size_t>(f[count - 1].data() + f[count - 1].size() - f[0].data())};
  head_.clear();
  for (int i = 0; i < count; ++i) {
    if (i != 0) head_.push_back('\t');
    head_.append(f[i]);
  }
  return head_;
}

}  // namespace corvane
