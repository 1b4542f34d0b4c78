// Index keys: how a value becomes the K key bytes stored in an NTX page, how a search
// value becomes a search key with its compare length, and how two keys compare. Byte
// order is key order; numeric keys are transformed so that it is numeric order too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/value.h"

namespace lum {

enum class KeyType : std::uint8_t { Character, Numeric, Date, Logical };

// The shape of an order's key: its type, size K and decimals.
struct KeyShape {
  KeyType type = KeyType::Character;
  int size = 0;
  int dec = 0;
};

enum class KeyClass : std::uint8_t { Ok, BadType, ZeroWidth };

// Classifies the key value computed on the blank record: a text gives its length (at
// most 256), a date 8, a logical 1, a number its width before the point plus 1 +
// decimals when it has decimals (at most 256). Other kinds: BadType; a text of length
// 0: ZeroWidth.
KeyClass classify_key(const Value& v, KeyShape& shape);

// The numeric key text: the number right-aligned in K bytes with `dec` decimals as STR
// writes it, leading blanks made "0"; a negative number's "-" becomes "0" and every
// digit d of the key becomes the byte 92 - d, so that byte order is numeric order
// (-5 in width 5 gives ",,,,'"). REQUIRES: out has K bytes.
void numeric_key(const Number& n, int key_size, int dec, char* out);

// The K key bytes of a value for an index of that size and decimals: text padded with
// blanks or cut; a number as numeric_key; a date as YYYYMMDD (8 blanks when empty),
// blank-padded or cut to K; a logical "T"/"F" zero-padded. Returns false, leaving `out`
// undefined, for any other kind. REQUIRES: out has K bytes.
bool make_key(const Value& v, int key_size, int dec, std::uint8_t* out);

// A search key: K bytes chosen by the search value's own kind, the number of leading
// bytes that must match (L), and whether the last matching key is wanted.
struct SearchKey {
  std::string bytes;
  int len = 0;
  bool last = false;
};

// Builds the search key of a seek: a text gives its first K bytes blank-padded with
// L = its length when shorter than K; a number its numeric key text; a date YYYYMMDD;
// a logical "T"/"F" with zero bytes; any other kind K zero bytes. L = K except for a
// short text.
SearchKey make_search_key(const Value& v, int key_size, int dec, bool last);

// Compares a (length la) with b (length lb) as unsigned bytes over the shorter length.
// When those bytes are equal: exact, the shorter sorts first; not exact, they are equal.
inline int compare_keys(const std::uint8_t* a, std::size_t la, const std::uint8_t* b,
                        std::size_t lb, bool exact) {
  std::size_t n = la < lb ? la : lb;
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  if (!exact || la == lb) return 0;
  return la < lb ? -1 : 1;
}

}  // namespace lum
