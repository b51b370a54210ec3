#include "hts_faults.hpp"

#include <htslib/bgzf.h>
#include <htslib/hfile.h>

#include <cstring>

#include "whole_blocks.hpp"

namespace corvane {
namespace {

// Indexes into bgzf_watched(). Decompressing ahead, htslib keeps neither a
// checksum fault nor a missing end-of-file block in the stream's state; it
// only says so.
constexpr std::size_t kCrcMismatch = 0;
constexpr std::size_t kNoEofBlock = 1;

}  // namespace

std::vector<std::string> bgzf_watched() {
  return {"CRC32 checksum mismatch", "EOF marker is absent"};
}

std::string bgzf_fault(const BGZF* z, const HtsMessages& messages) {
  if (z == nullptr || z->errcode == 0) return "";
  const std::string block = z->is_gzip ? "a gzip block" : "a BGZF block";
  // zlib checks a gzip member's CRC itself, and says so.
  if ((z->errcode & BGZF_ERR_CRC) || messages.saw(kCrcMismatch) ||
      (z->is_gzip && !messages.find("incorrect data check").empty())) {
    return block + " is damaged: its CRC does not match its data";
  }
  if (z->errcode & BGZF_ERR_IO) {
    const int error = z->fp != nullptr ? herrno(z->fp) : 0;
    if (error != 0) return std::strerror(error);
    return "the input ends inside " + block + ": it is truncated";
  }
  if (z->errcode & BGZF_ERR_ZLIB) return block + " is damaged: its data does not decompress";
  if (z->errcode & BGZF_ERR_HEADER) return block + " is damaged: its header is not valid";
  return "the compressed blocks cannot be read";
}

std::string bgzf_end_fault(const BGZF* z, const HtsMessages& messages) {
  std::string why = bgzf_fault(z, messages);
  if (why.empty()) why = whole_blocks_fault(z->fp);
  if (!why.empty()) return why;
  // Decompressing ahead, htslib marks every end as the end-of-file block.
  const bool marked = z->mt == nullptr ? z->last_block_eof : !messages.saw(kNoEofBlock);
  if (z->is_compressed && !z->is_gzip && !marked) {
    return "the input ends without BGZF's end-of-file block: it is probably truncated";
  }
  return "";
}

}  // namespace corvane
