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

std::string_view LineRecords::join(int count) {
  const auto& f = fields_.mandatory;
  head_.clear();
  for (int i = 0; i < count; ++i) {
    if (i != 0) head_.push_back('\t');
    head_.append(f[i]);
  }
  return head_;
}

}  // namespace corvane
