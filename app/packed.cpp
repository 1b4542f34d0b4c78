#include "app/packed.h"

#include <cstring>

#include "values/numeric.h"
#include "values/strings.h"

namespace lum {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The two hex digits of every byte value, side by side: one copy per byte decoded.
struct HexPairs {
  char pair[256][2];
};
constexpr HexPairs make_hex_pairs() {
  HexPairs t{};
  for (int b = 0; b < 256; ++b) {
    t.pair[b][0] = kHexDigits[b >> 4];
    t.pair[b][1] = kHexDigits[b & 0x0F];
  }
  return t;
}
constexpr HexPairs kHexPairs = make_hex_pairs();

}  // namespace

Value FT_BYT2HEX(const Value& c) {
  if (!c.is_string()) return Value();
  const unsigned n = c.str().empty() ? 0u : static_cast<unsigned char>(c.str()[0]);
  std::string out(3, 'h');
  out[0] = kHexDigits[n / 16];
  out[1] = kHexDigits[n % 16];
  return Value(std::move(out));
}

void append_conv_hex(std::string& out, std::string_view bytes) {
  if (bytes.empty()) return;
  const std::size_t start = out.size();
  out.resize(start + 2 * bytes.size() - 1);
  char* p = out.data() + start;
  const std::size_t whole = bytes.size() - 1;
  for (std::size_t i = 0; i < whole; ++i, p += 2) {
    std::memcpy(p, kHexPairs.pair[static_cast<unsigned char>(bytes[i])], 2);
  }
  // The low half-byte of the last byte (a number's sign) is the character dropped.
  *p = kHexDigits[static_cast<unsigned char>(bytes.back()) >> 4];
}

std::string conv_hex(std::string_view bytes) {
  std::string out;
  append_conv_hex(out, bytes);
  return out;
}

Value CONV_HEX(const Value& text) {
  if (text.is_string()) return Value(conv_hex(text.str()));
  // Not a character value: the loop exactly as written, so that every step raises the
  // error of the function it calls and a substitute value flows on as it would.
  Value result = Value::string("");
  for (Value i = Value::int32(1); compare_le(i, LEN(text)); increment(i)) {
    result = add(result, LEFT(FT_BYT2HEX(SUBSTR(text, i, Value::int32(1))), 2));
  }
  return SUBSTR(result, Value::int32(1), subtract(LEN(result), Value::int32(1)));
}

}  // namespace lum
