// Packed-field decoding: the exported records carry numbers, identity numbers, postal
// codes and dates as packed decimal bytes (two digits per byte, the last half-byte a
// sign). CONV_HEX turns such bytes into one hexadecimal digit per half-byte and drops
// the final half-byte, so that one packed number becomes exactly its decimal digits.
#pragma once

#include <string>
#include <string_view>

#include "runtime/value.h"

namespace lum {

// FT_BYT2HEX(c): for a character value, the two upper-case hexadecimal digits of the
// code of its first character followed by "h" ("" gives "00h"); NIL for any other kind.
// Never raises.
Value FT_BYT2HEX(const Value& c);

// CONV_HEX(text): for a character value of n bytes, the 2n - 1 characters of
// "0123456789ABCDEF" that name its half-bytes in order, the last one dropped ("" for
// ""). The sign half-byte is never read and no byte is validated. Any other kind takes
// the long road through LEN, SUBSTR, FT_BYT2HEX and LEFT and raises their errors.
Value CONV_HEX(const Value& text);

// The digits of CONV_HEX for raw bytes, appended to `out` (the fast path the
// conversions use per record).
void append_conv_hex(std::string& out, std::string_view bytes);
std::string conv_hex(std::string_view bytes);

}  // namespace lum
