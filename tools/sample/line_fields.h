// Writing the fields of one text line: a field's place in the line, text cut at its
// width, digits, packed numbers and dates, and the few rules every data set's lines
// share (which line carries which case, the product codes).
// Used by the generator's own files only.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>

#include "tools/sample/dataset.h"
#include "tools/sample/packed.h"
#include "tools/sample/rng.h"

namespace lum::sample {

struct Slot {
  int off;  // from the start of the line (the text record, no deletion flag)
  int width;
};

// The place of a staging field (by its number in the layout) in the text line.
inline Slot slot(const TableDef& d, int field_index) {
  const FieldDef& f = d.fields[static_cast<std::size_t>(field_index)];
  return Slot{f.offset - 1, f.length};
}

// Appends words into one field of a line, cutting at its width.
class FieldText {
 public:
  FieldText(std::string& line, Slot s) : p_(line.data() + s.off), left_(s.width) {}
  FieldText& add(std::string_view t) {
    std::size_t n = std::min<std::size_t>(t.size(), static_cast<std::size_t>(left_));
    std::memcpy(p_, t.data(), n);
    p_ += n;
    left_ -= static_cast<int>(n);
    return *this;
  }
  FieldText& word(std::string_view t) {  // a blank before every word but the first
    if (started_) add(" ");
    started_ = true;
    return add(t);
  }
  FieldText& digits(std::uint64_t v, int n) {
    char buf[24];
    for (int k = n - 1; k >= 0; --k) {
      buf[k] = static_cast<char>('0' + v % 10);
      v /= 10;
    }
    return add(std::string_view(buf, static_cast<std::size_t>(n)));
  }

 private:
  char* p_;
  int left_;
  bool started_ = false;
};

// The text into the field, cut at its width or padded with blanks.
inline void put(std::string& line, Slot s, std::string_view text) {
  std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(s.width));
  std::memcpy(line.data() + s.off, text.data(), n);
  std::memset(line.data() + s.off + n, ' ', static_cast<std::size_t>(s.width) - n);
}

// n decimal digits of v with leading zeros (higher digits dropped) into buf.
inline std::string_view digit_text(char* buf, std::uint64_t v, int n) {
  for (int k = n - 1; k >= 0; --k) {
    buf[k] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
  return std::string_view(buf, static_cast<std::size_t>(n));
}

// The packed bytes of the n-digit number v into dst[0 .. bytes).
inline void put_packed(char* dst, std::size_t bytes, std::uint64_t v, int n, char sign) {
  char buf[24];
  std::string packed = pack_decimal(digit_text(buf, v, n), sign, bytes);
  std::memcpy(dst, packed.data(), bytes);
}

// A packed area built apart (`area`) spread over consecutive staging fields, each
// taking its width of bytes, as the old system split its spare bytes.
inline void put_area(std::string& line, const TableDef& d, std::initializer_list<int> fields,
                     const char* area) {
  std::size_t at = 0;
  for (int f : fields) {
    Slot s = slot(d, f);
    std::memcpy(line.data() + s.off, area + at, static_cast<std::size_t>(s.width));
    at += static_cast<std::size_t>(s.width);
  }
}

// A date as the eight digits DDMMYYYY.
inline std::uint64_t ddmmyyyy(int d, int m, int y) {
  return static_cast<std::uint64_t>(d) * 1000000 + static_cast<std::uint64_t>(m) * 10000 +
         static_cast<std::uint64_t>(y);
}
// Any day 1 to 28 of 2010 to 2016.
std::uint64_t random_date(Rng& r);
char random_sign(Rng& r);

// Days since 1 March of year 0 and back, for dates that follow each other.
std::int64_t day_number(int y, int m, int d);
std::uint64_t ddmmyyyy_of(std::int64_t n);
// A day in 2023 or 2024.
std::int64_t recent_day(Rng& r);
// Money in cents from a to b.
inline std::uint64_t cents(Rng& r, std::uint64_t a, std::uint64_t b) {
  return a + r.below64(b - a + 1);
}

// Which special case a line carries: lines 0, 1, ... carry cases 0, 1, ... and the
// cases come back every 101 lines, so a large set holds them throughout. -1: ordinary.
inline int special_case(std::size_t i, int cases) {
  std::size_t k = i % 101;
  return k < static_cast<std::size_t>(cases) ? static_cast<int>(k) : -1;
}

// A product code as the products file writes it for product number k (from 0). Codes
// 90001 to 99999 are never given, so balances can name codes that match no item.
inline std::uint64_t product_code(std::size_t k) { return k % 90000 + 1; }

}  // namespace lum::sample
