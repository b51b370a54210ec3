// Records from BAM and CRAM, decoded by htslib.
//
// The reader hands the record loop what `samtools view -F 4` would print,
// record by record: unmapped records (FLAG 4) are left out, and every other
// record comes out exactly as the record loop would take its SAM text. The
// fields are taken straight from the binary record; the rare record whose
// text would not split into the same fields (white space inside QNAME, a
// reference name or a tag value, and the like) is written as SAM text by
// htslib and read as such.
#pragma once

#include <memory>

#include "record.hpp"

struct hFILE;

namespace corvane {

// Opens the BAM or CRAM stream `file`, which it takes over, and reads its
// header; `threads` worker threads decompress ahead of the reader (0: none).
// Throws ReadError.
std::unique_ptr<RecordSource> open_binary(hFILE* file, int threads);

}  // namespace corvane
