#include "translate_md.hpp"

namespace corvane {

CharStream& translate_md(CharStream& md_stream, std::string_view sequence, Line& ref_line,
                         std::int32_t read_pos, std::int32_t& md_done, std::int32_t md_len,
                         char& md_char, std::int32_t md_is_char, std::int32_t ref_gap,
                         std::int32_t& no_match, std::int32_t ref_skip, std::int32_t ref_pad) {
  if (ref_gap) {
    ref_line.push_back('-');
  } else if (ref_skip) {
    ref_line.push_back('N');
  } else if (ref_pad) {
    ref_line.push_back('*');
  } else if (md_is_char) {
    if (md_char == '^') {
      // The deleted base follows the marker; the match line keeps what the
      // CIGAR operation gave it.
      md_stream >> md_char;
      if (md_stream.fail()) throw 1;
      ref_line.push_back(md_char);
    } else {
      ref_line.push_back(md_char);
      no_match = 1;
    }
    ++md_done;
  } else if (md_done < md_len) {
    ref_line.push_back(sequence[read_pos]);
    ++md_done;
  }
  return md_stream;
}

}  // namespace corvane
