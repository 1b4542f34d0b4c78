#include "index/ntx_key.h"

#include <algorithm>
#include <cstring>

#include "index/ntx_format.h"
#include "values/dates.h"
#include "values/number_text.h"

namespace lum {

namespace {

// YYYYMMDD of a day number; eight blanks for the empty date.
void date_key(std::int32_t day, char* out) {
  int y = 0, m = 0, d = 0;
  date_decode(day, y, m, d);
  if (day == 0 || (y == 0 && m == 0 && d == 0)) {
    std::memset(out, ' ', 8);
    return;
  }
  int parts[8] = {y / 1000 % 10, y / 100 % 10, y / 10 % 10, y % 10, m / 10, m % 10, d / 10, d % 10};
  for (int i = 0; i < 8; ++i) out[i] = static_cast<char>('0' + parts[i]);
}

void copy_padded(const char* src, std::size_t n, std::size_t key_size, char pad, char* out) {
  std::size_t take = std::min(n, key_size);
  std::memcpy(out, src, take);
  std::memset(out + take, pad, key_size - take);
}

}  // namespace

KeyClass classify_key(const Value& v, KeyShape& shape) {
  switch (v.kind()) {
    case Kind::String:
      if (v.str().empty()) return KeyClass::ZeroWidth;
      shape = {KeyType::Character,
               static_cast<int>(std::min<std::size_t>(v.str().size(), kNtxMaxKeySize)), 0};
      return KeyClass::Ok;
    case Kind::Date:
      shape = {KeyType::Date, 8, 0};
      return KeyClass::Ok;
    case Kind::Logical:
      shape = {KeyType::Logical, 1, 0};
      return KeyClass::Ok;
    case Kind::Number: {
      const Number& n = v.num();
      int size = n.width + (n.dec > 0 ? 1 + n.dec : 0);
      if (size <= 0) return KeyClass::ZeroWidth;
      shape = {KeyType::Numeric, std::min(size, kNtxMaxKeySize), n.dec};
      return KeyClass::Ok;
    }
    default:
      return KeyClass::BadType;
  }
}

void numeric_key(const Number& n, int key_size, int dec, char* out) {
  if (key_size <= 0) return;
  // The text is K bytes: K - 1 - dec places before the point when there are decimals.
  int width = dec > 0 ? key_size - 1 - dec : key_size;
  if (width < 1 || static_cast<int>(number_text_size(width, dec)) != key_size) {
    std::memset(out, '*', static_cast<std::size_t>(key_size));
  } else {
    number_text(n, width, dec, out);
  }
  int i = 0;
  while (i < key_size && out[i] == ' ') out[i++] = '0';
  if (i < key_size && out[i] == '-') {
    out[i] = '0';
    for (int j = 0; j < key_size; ++j) {
      if (out[j] >= '0' && out[j] <= '9') out[j] = static_cast<char>(92 - out[j]);
    }
  }
}

bool make_key(const Value& v, int key_size, int dec, std::uint8_t* out) {
  char* o = reinterpret_cast<char*>(out);
  std::size_t k = static_cast<std::size_t>(key_size);
  switch (v.kind()) {
    case Kind::String:
      copy_padded(v.str().data(), v.str().size(), k, ' ', o);
      return true;
    case Kind::Number:
      numeric_key(v.num(), key_size, dec, o);
      return true;
    case Kind::Date: {
      char d[8];
      date_key(v.day(), d);
      copy_padded(d, 8, k, ' ', o);
      return true;
    }
    case Kind::Logical:
      o[0] = v.log() ? 'T' : 'F';
      std::memset(o + 1, 0, k - 1);
      return true;
    default:
      return false;
  }
}

SearchKey make_search_key(const Value& v, int key_size, int dec, bool last) {
  SearchKey s;
  s.last = last;
  s.len = key_size;
  s.bytes.assign(static_cast<std::size_t>(key_size), '\0');
  auto* out = reinterpret_cast<std::uint8_t*>(s.bytes.data());
  if (v.is_string()) {
    make_key(v, key_size, dec, out);
    if (v.str().size() < static_cast<std::size_t>(key_size)) {
      s.len = static_cast<int>(v.str().size());
    }
  } else if (v.is_number() || v.is_date() || v.is_logical()) {
    make_key(v, key_size, dec, out);
  }
  return s;
}

}  // namespace lum
