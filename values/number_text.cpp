#include "values/number_text.h"

#include <cmath>
#include <cstring>

namespace lum {

namespace {

constexpr double kExactDigits = 1e13;

void fill_overflow(char* out, std::size_t size) { std::memset(out, '*', size); }

// Integer representations: exact digits, the sign just left of them.
void integer_text(std::int64_t value, int point, int dec, std::size_t size, char* out) {
  bool negative = value < 0;
  // The magnitude as unsigned, so the most negative 64-bit value has one too.
  std::uint64_t mag = negative ? ~static_cast<std::uint64_t>(value) + 1 : value;
  int pos = point - 1;
  do {
    if (pos < 0) return fill_overflow(out, size);
    out[pos--] = static_cast<char>('0' + mag % 10);
    mag /= 10;
  } while (mag != 0);
  if (negative) {
    if (pos < 0) return fill_overflow(out, size);
    out[pos--] = '-';
  }
  if (pos >= 0) std::memset(out, ' ', static_cast<std::size_t>(pos) + 1);
  if (dec > 0) {
    out[point] = '.';
    std::memset(out + point + 1, '0', static_cast<std::size_t>(dec));
  }
}

// The integer digits of `ipart`, right to left, ending at out[point - 1]; blanks fill
// the positions left of them. `pos` is left at the first digit. False when they do not
// fit.
bool whole_digits(double ipart, int point, char* out, int& pos) {
  // The 0.01 keeps I / 10 from landing just under a whole number and losing a digit.
  pos = point - 1;
  if (ipart < kExactDigits) {
    // Below 10^13 the step above yields exactly the decimal digits of I (the error
    // of I / 10 stays far below the 0.01 bias), so plain integer division does it
    // faster and gives the same text.
    auto whole = static_cast<std::uint64_t>(ipart);
    for (;;) {
      out[pos] = static_cast<char>('0' + whole % 10);
      whole /= 10;
      if (whole == 0) break;
      if (--pos < 0) return false;
    }
  } else {
    for (;;) {
      double g = std::modf(ipart / 10 + 0.01, &ipart);
      out[pos] = static_cast<char>('0' + static_cast<int>(g * 10));
      if (ipart < 1) break;
      if (--pos < 0) return false;
    }
  }
  if (pos > 0) std::memset(out, ' ', static_cast<std::size_t>(pos));
  return true;
}

// The decimal digits after the point at out[point], up to the end of the text or 16
// significant digits; `sig` is the first significant position (-1 while none is
// known). Returns the fraction not yet written.
double fraction_digits(double frac, int point, int s, char* out, int& sig) {
  for (int i = point + 1; i < s; ++i) {
    double digit = 0;
    frac = std::modf(frac * 10, &digit);
    out[i] = static_cast<char>('0' + static_cast<int>(digit));
    // A significant digit found after the point counts one position to the left,
    // so the 16-digit limit below spans the point the same way as for integers.
    if (sig < 0 && digit != 0) sig = i - 1;
    if (sig >= 0 && i - sig >= 16) break;
  }
  return frac;
}

// Rounds the written digits half up on the rest of the fraction, turning the positions
// beyond 16 significant digits into "0"; `sig` moves left when a carry makes a new
// first digit. False when the carry does not fit.
bool round_digits(double frac, int point, int dec, int s, char* out, int& sig) {
  double round_digit = 0;
  frac = std::modf(frac * 10, &round_digit);
  int r = static_cast<int>(round_digit);
  // Positions beyond 16 significant digits, which become "0".
  int zeros = sig < 0 ? 0 : s - sig - 16 - (dec > 0 ? 1 : 0);
  if (r == 4 && zeros < 0) {
    // 8.995 is stored as 8.99499999...: a 4 followed by nines up to the 16th
    // significant digit rounds up as if it were a 5.
    int k = -zeros;
    for (; k > 0; --k) {
      double e = 0;
      frac = std::modf(frac * 10, &e);
      if (e + 0.01 < 9 && (k != 1 || e < 2)) break;
    }
    if (k == 0) r = 5;
  }

  bool round_up = r >= 5;
  int i = s - 1;
  while (zeros > 0 && i >= 0) {
    if (dec > 0 && i == point) {
      --i;
      continue;
    }
    if (dec == 0 || i <= point + 1) round_up = out[i] >= '5';
    out[i--] = '0';
    --zeros;
  }
  if (!round_up) return true;
  for (;; --i) {
    if (i < 0) return false;
    if (dec > 0 && i == point) continue;
    char c = out[i];
    if (c == '9') {
      out[i] = '0';
      continue;
    }
    if (c >= '0' && c <= '8') {
      out[i] = static_cast<char>(c + 1);
    } else {
      out[i] = '1';  // a new leading digit in place of a space
    }
    // The carry may have made the first non-zero digit of the text (-0.5 shows
    // "-1"): it is the first significant position when it lies left of the old one.
    if (sig < 0 || i < sig) sig = i;
    return true;
  }
}

// Doubles: digits generated from the binary value with a small bias, at most about 16
// significant digits, rounded half up with a look-ahead over a run of nines.
void double_text(double value, int point, int dec, std::size_t size, char* out) {
  const int s = static_cast<int>(size);
  if (!std::isfinite(value) || point < 1) return fill_overflow(out, size);
  const bool negative = value < 0;
  double ipart = 0;
  double frac = std::modf(std::fabs(value), &ipart);

  int pos = 0;
  if (!whole_digits(ipart, point, out, pos)) return fill_overflow(out, size);
  int sig = -1;  // first significant position; -1 while none is known
  for (int i = pos; i < point; ++i) {
    if (out[i] != '0') {
      sig = i;
      break;
    }
  }
  if (dec > 0) frac = fraction_digits(frac, point, s, out, sig);
  if (!round_digits(frac, point, dec, s, out, sig)) return fill_overflow(out, size);

  if (negative && sig >= 0) {
    int at = (dec > 0 && sig >= point) ? point - 2 : sig - 1;
    if (at < 0) return fill_overflow(out, size);
    out[at] = '-';
  }
  if (dec > 0) out[point] = '.';
}

}  // namespace

void number_text(const Number& n, int width, int dec, char* out) {
  if (dec < 0) dec = 0;
  std::size_t size = number_text_size(width, dec);
  if (size == 0) return;
  int point = dec > 0 ? static_cast<int>(size) - dec - 1 : static_cast<int>(size);
  if (n.is_integer()) {
    integer_text(n.i, point, dec, size, out);
  } else {
    double_text(n.d, point, dec, size, out);
  }
}

void append_number_text(std::string& out, const Number& n, int width, int dec) {
  std::size_t size = number_text_size(width, dec < 0 ? 0 : dec);
  std::size_t at = out.size();
  out.resize(at + size);
  number_text(n, width, dec, out.data() + at);
}

std::string number_text(const Number& n, int width, int dec) {
  std::string s;
  append_number_text(s, n, width, dec);
  return s;
}

std::string number_text(const Number& n) { return number_text(n, n.width, n.dec); }

}  // namespace lum
