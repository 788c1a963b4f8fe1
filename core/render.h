// The text of single terms, for messages that name one.
#pragma once

#include <cstdint>
#include <string>

namespace pbf {

// One term as GetString writes it, without the blank before it: "+5x_{1}x_{2}", "-3x_{4}",
// "0x_{1}".
std::string TermString(int32_t coef, const int32_t* ids, int32_t degree);

}  // namespace pbf
