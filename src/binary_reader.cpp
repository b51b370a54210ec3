#include "binary_reader.hpp"

#include <htslib/bgzf.h>
#include <htslib/cram.h>
#include <htslib/hfile.h>
#include <htslib/kstring.h>
#include <htslib/sam.h>
#include <htslib/thread_pool.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "hts_faults.hpp"
#include "hts_messages.hpp"
#include "io.hpp"
#include "lay_out.hpp"
#include "split_fields.hpp"
#include "text_reader.hpp"
#include "unpack_bases.hpp"
#include "whole_blocks.hpp"

namespace corvane {
namespace {

// A growing text with kTextPadding bytes to spare after whatever it holds,
// as the record loop needs after SEQ and MD.
class PaddedText {
 public:
  // Room for n bytes (and the padding), contents lost.
  char* room(std::size_t n) {
    if (bytes_.size() < n + kTextPadding) bytes_.resize(n + kTextPadding);
    return bytes_.data();
  }
  std::string_view set(std::string_view text) {
    char* p = room(text.size());
    if (!text.empty()) std::memcpy(p, text.data(), text.size());
    return {p, text.size()};
  }

 private:
  std::vector<char> bytes_;
};

// Writes texts and decimal numbers into room the caller has made.
class Writer {
 public:
  explicit Writer(char* at) : at_(at) {}
  Writer& text(std::string_view s) {
    std::memcpy(at_, s.data(), s.size());
    at_ += s.size();
    return *this;
  }
  Writer& put(char c) {
    *at_++ = c;
    return *this;
  }
  // Most are short, CIGAR counts, FLAG, MAPQ, a TLEN of 0, and go without
  // a call.
  [[gnu::always_inline]] Writer& number(std::int64_t v) {
    if (v >= 0 && v < 1000) {
      const auto u = static_cast<unsigned>(v);
      if (u >= 100) *at_++ = static_cast<char>('0' + u / 100);
      if (u >= 10) *at_++ = static_cast<char>('0' + u / 10 % 10);
      *at_++ = static_cast<char>('0' + u % 10);
      return *this;
    }
    at_ = std::to_chars(at_, at_ + kNumberBytes, v).ptr;
    return *this;
  }
  char* at() const { return at_; }

  static constexpr std::size_t kNumberBytes = 20;

 private:
  char* at_;
};

// Whether any of n quality values is 232 or more.
bool any_high(const std::uint8_t* q, std::size_t n) {
  constexpr std::uint8_t kHigh = 232;
#if defined(__SSE2__)
  __m128i tops = _mm_setzero_si128();
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    tops = _mm_max_epu8(tops, _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + i)));
  }
  for (; i < n; ++i) {
    if (q[i] >= kHigh) return true;
  }
  // A lane at kHigh or more stays itself under the maximum with kHigh.
  const __m128i high = _mm_set1_epi8(static_cast<char>(kHigh));
  return _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(tops, high), tops)) != 0;
#else
  for (std::size_t i = 0; i < n; ++i) {
    if (q[i] >= kHigh) return true;
  }
  return false;
#endif
}

std::uint32_t le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

// Walks the optional fields of a record. True when each one's text is a
// single field of SAM text (no white space in its tag, a character or a
// string value) and they all parse; `md` is then the value of the last MD
// tag of type Z, as the record loop would find it in the text.
bool scan_tags(const std::uint8_t* p, const std::uint8_t* end, std::string_view& md) {
  md = {};
  while (p != end) {
    if (end - p < 3) return false;
    const char key0 = static_cast<char>(p[0]), key1 = static_cast<char>(p[1]);
    const char type = static_cast<char>(p[2]);
    if (is_space(key0) || is_space(key1)) return false;
    p += 3;
    std::size_t size = 0;
    switch (type) {
      case 'A':
        if (p == end || is_space(static_cast<char>(*p))) return false;
        size = 1;
        break;
      case 'c':
      case 'C':
        size = 1;
        break;
      case 's':
      case 'S':
        size = 2;
        break;
      case 'i':
      case 'I':
      case 'f':
        size = 4;
        break;
      case 'd':
        size = 8;
        break;
      case 'Z':
      case 'H': {
        const void* nul = std::memchr(p, 0, static_cast<std::size_t>(end - p));
        if (nul == nullptr) return false;
        const std::size_t n = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - p);
        const char* value = reinterpret_cast<const char*>(p);
        if (has_space({value, n})) return false;
        if (type == 'Z' && key0 == 'M' && key1 == 'D') md = {value, n};
        size = n + 1;
        break;
      }
      case 'B': {
        if (end - p < 5) return false;
        std::size_t each = 0;
        switch (p[0]) {
          case 'c':
          case 'C':
            each = 1;
            break;
          case 's':
          case 'S':
            each = 2;
            break;
          case 'i':
          case 'I':
          case 'f':
            each = 4;
            break;
          default:
            return false;
        }
        size = 5 + std::size_t{le32(p + 1)} * each;
        break;
      }
      default:
        return false;
    }
    if (static_cast<std::size_t>(end - p) < size) return false;
    p += size;
  }
  return true;
}

struct CloseFile {
  void operator()(htsFile* file) const {
    // A run that ends early must not wait for the rest of the input.
    if (file->format.format != cram) stop_whole_blocks(file->fp.bgzf->fp);
    (void)hts_close(file);
  }
};
struct FreePool {
  void operator()(hts_tpool* pool) const { hts_tpool_destroy(pool); }
};
struct FreeHeader {
  void operator()(sam_hdr_t* header) const { sam_hdr_destroy(header); }
};
struct FreeRecord {
  void operator()(bam1_t* record) const { bam_destroy1(record); }
};

class BinaryReader final : public RecordSource {
 public:
  BinaryReader(hFILE* file, int threads);
  ~BinaryReader() override { ks_free(&text_); }
  BinaryReader(const BinaryReader&) = delete;
  BinaryReader& operator=(const BinaryReader&) = delete;

  bool next(Record& record) override;

 private:
  enum class Taken { record, header_line, as_text };

  // The record's fields straight from its binary form, unless its text
  // would split otherwise.
  Taken take(Record& record);
  // The next record of the text that htslib wrote, if any is left.
  bool next_line(Record& record);
  [[noreturn]] void fail(std::string reason);
  [[noreturn]] void fail_read(int status);
  void check_end();
  // Whether nothing is left of the input after a failed read.
  bool at_end();
  // Why the BGZF blocks ended early, for a read that failed at the end of
  // the input, or "".
  std::string cut_block_fault() const {
    return file_->format.format == cram ? "" : whole_blocks_fault(file_->fp.bgzf->fp);
  }
  // Why the stream's BGZF blocks could not be read, or "" when they could.
  std::string bgzf_fault() const {
    return file_->format.format == cram ? "" : corvane::bgzf_fault(file_->fp.bgzf, messages_);
  }
  std::string cram_reference_fault() const;
  const char* format() const { return file_->format.format == cram ? "CRAM" : "BAM"; }

  // First, so that it outlives htslib's threads and still keeps what they
  // write while the file closes.
  HtsMessages messages_;
  // Before the file, which must close before its threads go.
  std::unique_ptr<hts_tpool, FreePool> pool_;
  std::unique_ptr<htsFile, CloseFile> file_;
  std::unique_ptr<sam_hdr_t, FreeHeader> header_;
  std::unique_ptr<bam1_t, FreeRecord> record_;
  // The header's reference sequences, by their index in a record.
  struct Reference {
    std::string_view name;
    bool odd;  // the name would not stand as one field of text
  };
  std::vector<Reference> references_;
  bool known(std::int32_t tid) const {
    return tid >= -1 && static_cast<std::int64_t>(tid) < std::ssize(references_);
  }

  LineRecords lines_;
  kstring_t text_ = KS_INITIALIZE;  // the SAM text of a record read as text
  std::size_t text_at_ = 0;         // its first unread line

  std::vector<char> head_;
  PaddedText seq_, md_;
};

BinaryReader::BinaryReader(hFILE* file, int threads) : messages_(bgzf_watched()) {
  // htslib reads a CRAM's header as it opens it.
  char magic[4];
  const bool is_cram = hpeek(file, magic, 4) == 4 && std::memcmp(magic, "CRAM", 4) == 0;
  file_.reset(hts_hopen(file, "-", "r"));
  if (file_ == nullptr) {
    hclose_abruptly(file);
    fail(is_cram ? "the CRAM header is damaged or cut short"
                 : "the input cannot be opened as BAM or CRAM");
  }
  header_.reset(sam_hdr_read(file_.get()));
  if (header_ == nullptr) {
    std::string why = bgzf_fault();
    if (why.empty() && at_end()) why = cut_block_fault();
    if (why.empty()) {
      why = std::string("the ") + format() + " header is damaged or cut short";
    }
    fail(why);
  }
  for (std::int32_t tid = 0; tid < sam_hdr_nref(header_.get()); ++tid) {
    const char* name = sam_hdr_tid2name(header_.get(), tid);
    const std::string_view text = name != nullptr ? name : "";
    references_.push_back({text, text.empty() || has_space(text)});
  }
  // Threads only after the header: reading it, htslib 1.16 looks for the
  // end-of-file block, which on a pipe whose blocks are being decompressed
  // ahead can wait forever. None for CRAM: decoding containers ahead,
  // htslib 1.16 takes an input cut between two containers for a clean end,
  // and one cut inside a container loses the containers decoded before it.
  const bool bgzf_blocks = file_->format.compression == bgzf;
  if (threads > 0 && bgzf_blocks) {
    // A queue of 64 blocks keeps the threads busy in about 16 MB; the one
    // htslib sizes itself measured up to a tenth slower.
    pool_.reset(hts_tpool_init(threads));
    if (pool_ != nullptr) {
      htsThreadPool pool{pool_.get(), 64};
      hts_set_thread_pool(file_.get(), &pool);
    }
  }
  record_.reset(bam_init1());
  if (record_ == nullptr) fail("out of memory");
}

void BinaryReader::fail(std::string reason) {
  throw ReadError{0, std::move(reason)};
}

std::string BinaryReader::cram_reference_fault() const {
  constexpr std::string_view kMissing = "Failed to populate reference for id ";
  const std::string missing = messages_.find(kMissing);
  const bool mismatch = !messages_.find("MD5 checksum reference mismatch").empty();
  if (missing.empty() && !mismatch && messages_.find("Unable to fetch reference").empty()) {
    return "";
  }
  // The sequence by name and checksum, when htslib said which.
  std::string which;
  int tid = -1;
  if (!missing.empty()) {
    const char* digits = missing.c_str() + missing.find(kMissing) + kMissing.size();
    std::from_chars(digits, missing.c_str() + missing.size(), tid);
  }
  if (tid >= 0 && known(tid)) {
    const std::string name(references_[tid].name);
    which = " " + name;
    kstring_t md5 = KS_INITIALIZE;
    if (sam_hdr_find_tag_id(header_.get(), "SQ", "SN", name.c_str(), "M5", &md5) == 0) {
      which += std::string(" (M5 ") + md5.s + ")";
    }
    ks_free(&md5);
  }
  return std::string("the reference sequence") + which + " that this CRAM was compressed against " +
         (mismatch ? "does not match the one found" : "is not found") +
         ": set REF_PATH to find it, or decode with samtools view -T REF.fa FILE | corvane";
}

bool BinaryReader::at_end() {
  char c;
  if (file_->format.format == cram) return hread(cram_fd_get_fp(file_->fp.cram), &c, 1) == 0;
  return bgzf_read(file_->fp.bgzf, &c, 1) == 0;
}

void BinaryReader::fail_read(int status) {
  std::string why = bgzf_fault();
  if (why.empty() && file_->format.format == cram) {
    why = cram_reference_fault();
    if (why.empty()) {
      why = at_end() ? "the input ends inside a CRAM container: it is truncated"
                     : "a CRAM container is damaged";
    }
  }
  if (why.empty()) {
    // A record that the input ends inside was cut short, whatever its
    // fields claim; but htslib reads the whole of a record before it finds
    // its reference sequence missing from the header, or its CIGAR and SEQ
    // of different lengths.
    const bam1_core_t& c = record_->core;
    const bool unknown_reference = status == -3 && (!known(c.tid) || !known(c.mtid));
    const bool lengths_differ = !messages_.find("CIGAR and query sequence lengths differ").empty();
    if (!unknown_reference && !lengths_differ && at_end()) {
      why = cut_block_fault();
      if (why.empty()) why = "the input ends inside a BAM record: it is truncated";
    } else {
      why = "a BAM record is damaged";
    }
  }
  fail(why);
}

void BinaryReader::check_end() {
  if (file_->format.format == cram) {
    if (cram_eof(file_->fp.cram) == 2) {
      fail("the input ends without CRAM's end-of-file container: it is probably truncated");
    }
    return;
  }
  const std::string why = bgzf_end_fault(file_->fp.bgzf, messages_);
  if (!why.empty()) fail(why);
}

bool BinaryReader::next(Record& record) {
  for (;;) {
    if (text_at_ < text_.l) {
      if (next_line(record)) return true;
      continue;
    }
    const int status = sam_read1(file_.get(), header_.get(), record_.get());
    if (status < -1) fail_read(status);
    if (status == -1) {
      check_end();
      return false;
    }
    // What samtools view -F 4 leaves out.
    if (record_->core.flag & BAM_FUNMAP) continue;
    switch (take(record)) {
      case Taken::record:
        return true;
      case Taken::header_line:
        continue;
      case Taken::as_text:
        break;
    }
    text_.l = 0;
    if (sam_format1(header_.get(), record_.get(), &text_) < 0 || kputc('\n', &text_) < 0) {
      fail(std::string("a ") + format() + " record is damaged: htslib cannot write it as SAM text");
    }
    // Room after the last line, as the record loop needs after every line.
    if (ks_resize(&text_, text_.l + LineReader::kPadding) < 0) fail("out of memory");
    text_at_ = 0;
  }
}

bool BinaryReader::next_line(Record& record) {
  const char* start = text_.s + text_at_;
  const char* nl = static_cast<const char*>(std::memchr(start, '\n', text_.l - text_at_));
  const std::size_t length = static_cast<std::size_t>(nl - start);
  text_at_ += length + 1;
  return lines_.take({start, length}, record);
}

BinaryReader::Taken BinaryReader::take(Record& record) {
  const bam1_t* b = record_.get();
  const bam1_core_t& c = b->core;

  // Every field must come out of the binary record as the same one field of
  // text; anything that would not goes the way of the text.
  const int name_length = int{c.l_qname} - 1 - int{c.l_extranul};
  const char* name = bam_get_qname(b);
  if (name_length <= 0 || has_space({name, static_cast<std::size_t>(name_length)})) {
    return Taken::as_text;
  }
  if (!known(c.tid) || !known(c.mtid)) return Taken::as_text;
  if ((c.tid >= 0 && references_[c.tid].odd) ||
      (c.mtid >= 0 && c.mtid != c.tid && references_[c.mtid].odd)) {
    return Taken::as_text;
  }
  const std::uint8_t* qual = bam_get_qual(b);
  if (c.l_qseq > 0 && qual[0] != 0xff) {
    // A quality of 232 to 236 or 255 is written as a white-space byte. Real
    // ones stay far below, which tells at once.
    if (any_high(qual, static_cast<std::size_t>(c.l_qseq))) {
      for (std::int32_t i = 0; i < c.l_qseq; ++i) {
        if (static_cast<std::uint8_t>(qual[i] - 232) <= 4 || qual[i] == 255) return Taken::as_text;
      }
    }
  }
  std::string_view md;
  if (!scan_tags(bam_get_aux(b), b->data + b->l_data, md)) return Taken::as_text;

  const std::string_view qname(name, static_cast<std::size_t>(name_length));
  if (lines_.header(qname)) return Taken::header_line;

  // The head line, with the CIGAR text in it.
  const std::string_view rname = c.tid >= 0 ? references_[c.tid].name : "*";
  const std::string_view rnext = c.mtid < 0        ? "*"
                                 : c.mtid == c.tid ? "="
                                                   : references_[c.mtid].name;
  const std::size_t most = qname.size() + rname.size() + rnext.size() +
                           std::size_t{c.n_cigar} * (Writer::kNumberBytes + 1) +
                           8 * (Writer::kNumberBytes + 1);
  if (head_.size() < most) head_.resize(most);
  Writer head(head_.data());
  head.text(qname).put('\t').number(c.flag).put('\t').text(rname).put('\t');
  head.number(c.pos + 1).put('\t').number(c.qual).put('\t');
  const char* cigar_start = head.at();
  const std::uint32_t* ops = bam_get_cigar(b);
  for (std::uint32_t i = 0; i < c.n_cigar; ++i) {
    head.number(bam_cigar_oplen(ops[i])).put(bam_cigar_opchr(ops[i]));
  }
  if (c.n_cigar == 0) head.put('*');
  const std::string_view cigar(cigar_start, static_cast<std::size_t>(head.at() - cigar_start));
  head.put('\t').text(rnext).put('\t').number(c.mpos + 1).put('\t').number(c.isize);

  std::string_view seq = "*";
  if (c.l_qseq > 0) {
    const auto n = static_cast<std::size_t>(c.l_qseq);
    char* bases = seq_.room(n + kUnpackReach);
    unpack_bases(bam_get_seq(b), n, bases);
    seq = {bases, n};
  } else {
    seq = seq_.set(seq);
  }

  record.complete = true;
  record.head = {head_.data(), static_cast<std::size_t>(head.at() - head_.data())};
  record.seq = seq;
  record.cigar = cigar;
  record.md = md.empty() ? std::string_view() : md_.set(md);
  record.size = static_cast<std::size_t>(b->l_data) + seq.size() + record.head.size();
  return Taken::record;
}

}  // namespace

std::unique_ptr<RecordSource> open_binary(hFILE* file, int threads) {
  return std::make_unique<BinaryReader>(file, threads);
}

}  // namespace corvane
