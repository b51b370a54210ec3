// One record as the record loop sees it, whichever reader made it.
#pragma once

#include <cstddef>
#include <string_view>

namespace corvane {

struct Record {
  // QNAME to TLEN joined by single tabs; for a line of fewer than eleven
  // fields, all of its fields.
  std::string_view head;
  // At least kTextPadding readable bytes follow `seq` and `md` in memory.
  std::string_view seq, cigar, md;
  // Bytes of the record as text: its lines may hold that much before a long
  // block is laid out one line at a time.
  std::size_t size = 0;
  // False for a line of fewer than eleven fields, which has only `head`.
  bool complete = true;
};

class TextReader;

class RecordSource {
 public:
  virtual ~RecordSource() = default;
  // The text reader behind this source, if that is what it is: its records
  // can then be taken without a virtual call each.
  virtual TextReader* text_reader() { return nullptr; }
  // The next record, valid until the next call; false at the end of the
  // input. Throws ReadError.
  virtual bool next(Record& record) = 0;
};

}  // namespace corvane
