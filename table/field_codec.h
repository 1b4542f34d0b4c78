// Conversions between a field's bytes in the record and a value: the field read and
// the field write of every type letter, with the cut, pad and number-text rules of
// the stores. Pure functions on the record bytes; the driver raises the errors.
#pragma once

#include <cstdint>

#include "runtime/value.h"
#include "table/dbf_format.h"

namespace lum {

// The value of a field that is not a memo reference. `src` points at the field's first
// byte in the record and holds f.len bytes.
Value decode_field(const dbf::Field& f, const std::uint8_t* src);
// The same into `out`, whose text storage is reused for text fields.
void decode_field(const dbf::Field& f, const std::uint8_t* src, Value& out);

enum class PutResult : std::uint8_t {
  Ok,
  TypeError,   // the value's kind does not fit the field
  WidthError,  // a number that does not fit; a text field of N/F is left full of '*'
};

// Stores a value into a field's bytes at `dest` (f.len bytes): text cut or padded with
// blanks, numbers as STR(value, length, decimals) would write them, dates as YYYYMMDD
// (or the binary day number), logicals as 'T'/'F'. On TypeError nothing is stored.
PutResult encode_field(const dbf::Field& f, const Value& v, std::uint8_t* dest);

}  // namespace lum
