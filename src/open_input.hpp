// Standard input as records, whatever form it comes in.
#pragma once

#include <memory>

#include "io.hpp"
#include "record.hpp"

namespace corvane {

// The records of the input on descriptor `fd`: SAM text, BAM, CRAM, or SAM
// text compressed with gzip or BGZF, told apart by the first bytes. Only
// SAM text needs no htslib. `output` is flushed before a read of text that
// may wait. Throws ReadError.
std::unique_ptr<RecordSource> open_input(int fd, Output& output);

}  // namespace corvane
