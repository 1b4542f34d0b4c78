// Packed-decimal encoding for test data: builds the bytes that the old system wrote
// for a signed or unsigned packed number, so that fixtures can hold real packed fields.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lum::sample {

// The packed bytes of a digit string with sign half-byte `sign` ('C' positive, 'D'
// negative, 'F' unsigned): high half-byte first, the sign in the low half-byte of the
// last byte, a leading 0 half-byte when the digit count is even.
// Throws std::invalid_argument for a non-digit or a sign other than C, D or F.
std::string pack_decimal(std::string_view digits, char sign = 'C');

// The same number in a field of exactly `bytes` bytes, filled on the left with zero
// digits. Throws std::invalid_argument when the digits do not fit.
std::string pack_decimal(std::string_view digits, char sign, std::size_t bytes);

}  // namespace lum::sample
