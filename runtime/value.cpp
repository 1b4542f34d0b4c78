#include "runtime/value.h"

namespace lum {

Value Value::int32(std::int32_t v, int width) {
  Number n;
  n.repr = NumRepr::Int32;
  n.i = v;
  n.width = static_cast<std::uint8_t>(width);
  return Value(n);
}

Value Value::int64(std::int64_t v, int width) {
  Number n;
  n.repr = NumRepr::Int64;
  n.i = v;
  n.width = static_cast<std::uint8_t>(width);
  return Value(n);
}

Value Value::integer(std::int64_t v) {
  if (v >= INT32_MIN && v <= INT32_MAX) {
    return int32(static_cast<std::int32_t>(v), (v < -999999999 || v > 999999999) ? 20 : 10);
  }
  return int64(v, (v < -999999999 || v > 9999999999LL) ? 20 : 10);
}

Value Value::constant(std::int64_t v) {
  if (v >= INT32_MIN && v <= INT32_MAX) {
    if (v <= -1000000000) return int32(static_cast<std::int32_t>(v), 20);
    if (v < 1000000000) return int32(static_cast<std::int32_t>(v), 10);  // nine digits or fewer
    int digits = 1;
    for (std::int64_t a = v < 0 ? -v : v; a >= 10; a /= 10) ++digits;
    return int32(static_cast<std::int32_t>(v), digits > 9 ? 10 + digits - 9 : 10);
  }
  int digits = 1;
  for (std::int64_t a = v < 0 ? -(v + 1) : v; a >= 10; a /= 10) ++digits;
  return int64(v, v < 0 ? 20 : 10 + digits - 9);
}

Value Value::dbl(double v, int width, int dec) {
  Number n;
  n.repr = NumRepr::Double;
  n.d = v;
  n.width = static_cast<std::uint8_t>(width);
  n.dec = static_cast<std::uint8_t>(dec);
  return Value(n);
}

Value Value::array(Array items) { return Value(std::make_shared<Array>(std::move(items))); }

}  // namespace lum
