// Why htslib could not read a stream, in words for the user.
#pragma once

#include <string>
#include <vector>

#include "hts_messages.hpp"

struct BGZF;

namespace corvane {

// The htslib messages that tell more of a BGZF stream than its state does,
// for a HtsMessages that the two functions below are given.
std::vector<std::string> bgzf_watched();

// What went wrong in the BGZF or gzip blocks of `z`, or "" when nothing did.
std::string bgzf_fault(const BGZF* z, const HtsMessages& messages);

// At the end of the stream of `z`: "" when it ended where it may, or why
// not. A fault that decompression ahead met may show only now; and a BGZF
// stream ends with BGZF's end-of-file block, without which it is probably
// truncated.
std::string bgzf_end_fault(const BGZF* z, const HtsMessages& messages);

}  // namespace corvane
