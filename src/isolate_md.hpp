#pragma once

#include <string_view>

#include "split_fields.hpp"

namespace corvane {

// The value of the record's MD tag: the last optional field that begins with
// "MD:Z:", without those five characters; empty when there is none.
std::string_view isolate_md(const Fields& fields);

}  // namespace corvane
