#include "shift_md.hpp"

namespace corvane {

CharStream& shift_md(CharStream& md_stream, std::int32_t& md_is_char, std::int32_t& md_len,
                     char& md_char) {
  if (md_stream.fail()) return md_stream;
  md_stream >> md_len;
  if (!md_stream.fail()) {
    md_is_char = 0;
    if (md_len != 0 || md_stream.in_avail() == 0) return md_stream;
    // A zero between two characters only separates them: the character
    // after it is the token.
  } else {
    md_stream.clear();
  }
  md_stream >> md_char;
  if (md_stream.fail()) throw 'e';
  md_is_char = 1;
  return md_stream;
}

}  // namespace corvane
