#include "shift_cigar.hpp"

namespace corvane {

CharStream& shift_cigar(CharStream& cigar_stream, std::int32_t& cigar_len, char& cigar_op) {
  if (cigar_stream.fail()) return cigar_stream;
  // A failed count leaves the character read to do nothing, so cigar_op
  // changes only when both reads succeed.
  cigar_stream >> cigar_len >> cigar_op;
  if (cigar_stream.fail()) throw 1;
  return cigar_stream;
}

}  // namespace corvane
