#include "translate_cigar.hpp"

namespace corvane {

int translate_cigar(Line& read_line, std::string_view sequence, char cigar_op,
                    std::int32_t read_pos, std::int32_t& cigar_done, std::int32_t& no_match,
                    std::int32_t& ref_gap, std::int32_t& ref_skip, std::int32_t& ref_pad) {
  switch (cigar_op) {
    case '=':
    case 'M':
    case 'X':
      read_line.push_back(sequence[read_pos]);
      break;
    case 'I':
      read_line.push_back(sequence[read_pos]);
      no_match = ref_gap = 1;
      break;
    case 'S':
      read_line.push_back(sequence[read_pos]);
      no_match = ref_skip = 1;
      break;
    case 'D':
      read_line.push_back('-');
      no_match = 1;
      break;
    case 'N':
      read_line.push_back('.');
      no_match = ref_skip = 1;
      break;
    case 'P':
      read_line.push_back('*');
      no_match = ref_pad = 1;
      break;
    default:
      throw 1;
  }
  ++cigar_done;
  return 0;
}

}  // namespace corvane
