// Standard input for htslib, its BGZF blocks handed over whole.
//
// htslib 1.16 reads BGZF blocks ahead on a thread of its own while worker
// threads decompress them. When that reader meets the end of the input
// inside a block, or bytes that are no block, it throws away the blocks
// already decompressed but not yet read, and with them the records that
// came before the fault. This stream keeps such a tail back: htslib sees the
// input end after the last whole block, and the fault waits here to be
// reported once everything before it is out.
#pragma once

#include <string>

struct hFILE;

namespace corvane {

// An htslib stream over descriptor `fd`. An input that begins with a BGZF
// block ends, for htslib, after the last whole block; any other input goes
// through as it is. Null, with errno set, when it cannot be made.
hFILE* open_whole_blocks(int fd);

// Ends the input of `file` for htslib, whatever is left of it, so that a
// reader thread waiting on the descriptor lets go and the stream can close.
// Nothing when `file` is not a stream made by open_whole_blocks().
void stop_whole_blocks(hFILE* file);

// Why the input of `file` ended early for htslib: "" when it did not, or
// when `file` is not a stream made by open_whole_blocks().
std::string whole_blocks_fault(const hFILE* file);

}  // namespace corvane
