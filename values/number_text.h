// Number text: the one routine that turns a number into text of a display width and
// a count of decimals. STR, STRZERO, console output, pictures, numeric field stores
// and numeric index keys all go through it, so they agree to the byte.
#pragma once

#include <cstddef>
#include <string>

#include "runtime/value.h"

namespace lum {

// Length of the text for width W and d decimals: W when d is 0, else W + 1 + d;
// 0 when that is not positive.
constexpr std::size_t number_text_size(int width, int dec) {
  long s = dec > 0 ? static_cast<long>(width) + 1 + dec : width;
  return s > 0 ? static_cast<std::size_t>(s) : 0;
}

// Writes the text of `n` in width `width` with `dec` decimals into out[0 ..
// number_text_size(width, dec)), right-aligned, rounded half up (with the look-ahead
// that makes 8.995 round up), at most about 16 significant digits, "-" just left of
// the first significant digit, no sign on an all-zero text. A number that does not
// fit (or a NaN/infinity, or width < 1) fills the text with "*". Never fails.
// REQUIRES: out has room for number_text_size(width, dec) bytes; dec >= 0.
void number_text(const Number& n, int width, int dec, char* out);

// The same text appended to `out` (no allocation beyond out's growth).
void append_number_text(std::string& out, const Number& n, int width, int dec);

// The same text as a string.
std::string number_text(const Number& n, int width, int dec);

// The text in the number's own width and decimals ("         2.5" for 2.5 of width
// 10 with 1 decimal).
std::string number_text(const Number& n);

}  // namespace lum
