// Records from SAM text.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "io.hpp"
#include "record.hpp"
#include "split_fields.hpp"

namespace corvane {

// Turns lines of SAM text into records, as the record loop takes them.
class LineRecords {
 public:
  // Fills `record` from `line`; false when the line is no record: a header
  // line (recognised only before the first record) or a line without fields.
  // The line must stay in place, with LineReader::kPadding readable bytes
  // after it, while the record is used.
  bool take(std::string_view line, Record& record);

  // Whether a line that begins as `start` is a header line, for a reader
  // that knows the start of a record's line without the line; the first one
  // that is not ends the header.
  bool header(std::string_view start) {
    if (first_record_ && !start.empty() && start[0] == '@') return true;
    first_record_ = false;
    return false;
  }

 private:
  // The first `count` fields joined by tabs: usually they already stand so
  // in the line.
  std::string_view head(int count) {
    const auto& f = fields_.mandatory;
    for (int i = 1; i < count; ++i) {
      const char* gap = f[i - 1].data() + f[i - 1].size();
      if (gap + 1 != f[i].data() || *gap != '\t') return join(count);
    }
    return {f[0].data(),
            static_cast<std::size_t>(f[count - 1].data() + f[count - 1].size() - f[0].data())};
  }
  // The same, joined in a copy.
  std::string_view join(int count);

  Fields fields_;
  std::string head_;
  bool first_record_ = true;
};

// The records of a stream of SAM text, read line by line.
class TextReader final : public RecordSource {
 public:
  // `output` is flushed before every read that may wait for input.
  TextReader(ByteSource& in, Output& output) : lines_(in, output) {}
  // The same, the reader owning its source.
  TextReader(std::unique_ptr<ByteSource> in, Output& output)
      : owned_(std::move(in)), lines_(*owned_, output) {}

  TextReader* text_reader() override { return this; }

  bool next(Record& record) override {
    std::string_view line;
    while (lines_.next(line)) {
      if (records_.take(line, record)) return true;
    }
    return false;
  }

 private:
  std::unique_ptr<ByteSource> owned_;  // before the reader, which reads it
  LineReader lines_;
  LineRecords records_;
};

}  // namespace corvane
