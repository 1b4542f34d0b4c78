// The value every expression of the run computes with: NIL, logical, byte string,
// number (32-bit, 64-bit or double, with display width and decimals), date (day
// number) and array. It lives at the bottom of the tree because error objects carry
// the arguments of a failed operation; the functions on values live in values/.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace lum {

enum class Kind : std::uint8_t { Nil, Logical, String, Number, Date, Array };

enum class NumRepr : std::uint8_t { Int32, Int64, Double };

// A number with its display attributes. Integer representations keep `dec` at 0.
struct Number {
  NumRepr repr = NumRepr::Int32;
  std::int64_t i = 0;  // value of Int32 and Int64
  double d = 0.0;      // value of Double
  std::uint8_t width = 10;
  std::uint8_t dec = 0;

  bool is_integer() const { return repr != NumRepr::Double; }
  double as_double() const { return is_integer() ? static_cast<double>(i) : d; }
};

// A date as a Julian day number; 0 is the empty date.
struct Date {
  std::int32_t day = 0;
  friend bool operator==(Date, Date) = default;
};

class Value;
using Array = std::vector<Value>;

class Value {
 public:
  Value() = default;  // NIL
  // Literals written in the program: an integer constant (width 10, wider for ten or
  // more digits, 20 at or below -1,000,000,000) and a text constant.
  Value(int v) : Value(constant(v)) {}  // NOLINT(google-explicit-constructor)
  Value(const char* s) : v_(std::string(s)) {}  // NOLINT(google-explicit-constructor)
  Value(std::string s) : v_(std::move(s)) {}    // NOLINT(google-explicit-constructor)
  Value(std::string_view s) : v_(std::string(s)) {}  // NOLINT(google-explicit-constructor)
  // A C++ bool would silently become the number 0 or 1: logicals are Value::logical.
  Value(bool) = delete;

  static Value logical(bool b) { return Value(LogicalTag{}, b); }
  static Value string(std::string s) { return Value(std::move(s)); }
  static Value string(std::string_view s) { return Value(std::string(s)); }
  static Value string(const char* s) { return Value(std::string(s)); }
  // An integer constant written in the program, with the width rule of constants.
  static Value constant(std::int64_t v);
  // A 32-bit integer of the given width (default: that of a computed result).
  static Value int32(std::int32_t v, int width = 10);
  static Value int64(std::int64_t v, int width);
  // An integer result: 32-bit when it fits, else 64-bit; width 10, or 20 for large values.
  static Value integer(std::int64_t v);
  static Value dbl(double v, int width, int dec);
  static Value number(const Number& n) { return Value(n); }
  static Value date(std::int32_t day) { return Value(Date{day}); }
  static Value array(Array items);

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool is_nil() const { return kind() == Kind::Nil; }
  bool is_logical() const { return kind() == Kind::Logical; }
  bool is_string() const { return kind() == Kind::String; }
  bool is_number() const { return kind() == Kind::Number; }
  bool is_date() const { return kind() == Kind::Date; }
  bool is_array() const { return kind() == Kind::Array; }

  // REQUIRES: the value is of the accessor's kind.
  bool log() const { return std::get<bool>(v_); }
  const std::string& str() const { return std::get<std::string>(v_); }
  const Number& num() const { return std::get<Number>(v_); }
  std::int32_t day() const { return std::get<Date>(v_).day; }
  const Array& arr() const { return *std::get<std::shared_ptr<Array>>(v_); }
  Array& arr() { return *std::get<std::shared_ptr<Array>>(v_); }

  // The text itself, to be changed in place. REQUIRES: is_string().
  std::string& mutable_str() { return std::get<std::string>(v_); }
  // Makes the value the text of these bytes; a text it holds already lends its storage,
  // so that a value read again and again needs no new allocation.
  void set_string(std::string_view s) {
    if (auto* text = std::get_if<std::string>(&v_)) {
      text->assign(s.data(), s.size());
    } else {
      v_.emplace<std::string>(s);
    }
  }

 private:
  struct LogicalTag {};
  Value(LogicalTag, bool b) : v_(b) {}
  explicit Value(const Number& n) : v_(n) {}
  explicit Value(Date d) : v_(d) {}
  explicit Value(std::shared_ptr<Array> a) : v_(std::move(a)) {}

  std::variant<std::monostate, bool, std::string, Number, Date, std::shared_ptr<Array>> v_;
};

}  // namespace lum
