#include "tools/sample/packed.h"

#include <stdexcept>

namespace lum::sample {

std::string pack_decimal(std::string_view digits, char sign) {
  std::size_t bytes = digits.size() / 2 + 1;  // digits plus the sign half-byte, rounded up
  return pack_decimal(digits, sign, bytes);
}

std::string pack_decimal(std::string_view digits, char sign, std::size_t bytes) {
  int sign_nibble = 0;
  switch (sign) {
    case 'C':
      sign_nibble = 0xC;
      break;
    case 'D':
      sign_nibble = 0xD;
      break;
    case 'F':
      sign_nibble = 0xF;
      break;
    default:
      throw std::invalid_argument("packed sign must be C, D or F");
  }
  if (digits.size() + 1 > 2 * bytes) throw std::invalid_argument("digits do not fit the field");
  // Half-bytes: zero fill, the digits, the sign.
  std::string nibbles(2 * bytes - 1 - digits.size(), 0);
  for (char c : digits) {
    if (c < '0' || c > '9') throw std::invalid_argument("packed digits must be 0-9");
    nibbles.push_back(static_cast<char>(c - '0'));
  }
  nibbles.push_back(static_cast<char>(sign_nibble));
  std::string out(bytes, '\0');
  for (std::size_t i = 0; i < bytes; ++i) {
    out[i] = static_cast<char>((nibbles[2 * i] << 4) | nibbles[2 * i + 1]);
  }
  return out;
}

}  // namespace lum::sample
