#include <cstdint>

#include "runtime/error.h"
#include "values/numeric.h"
#include "values/strings.h"

namespace lum {

namespace {

enum class Op { Eq, Exact, Ne, Lt, Le, Gt, Ge };

constexpr int kIncomparable = 2;

int sign_of(double x, double y) { return x < y ? -1 : (x > y ? 1 : 0); }

int compare_numbers(const Number& x, const Number& y) {
  if (x.is_integer() && y.is_integer()) return x.i < y.i ? -1 : (x.i > y.i ? 1 : 0);
  return sign_of(x.as_double(), y.as_double());
}

// -1, 0 or 1, or kIncomparable when the kinds do not compare.
int compare_values(const Value& a, const Value& b, bool exact) {
  const Kind ka = a.kind(), kb = b.kind();
  if (ka == Kind::String && kb == Kind::String) return string_compare(a.str(), b.str(), exact);
  if (ka == Kind::Number && kb == Kind::Number) return compare_numbers(a.num(), b.num());
  if (ka == Kind::Date && kb == Kind::Date) {
    return a.day() < b.day() ? -1 : (a.day() > b.day() ? 1 : 0);
  }
  if (ka == Kind::Date && kb == Kind::Number) return sign_of(a.day(), b.num().as_double());
  if (ka == Kind::Number && kb == Kind::Date) return sign_of(a.num().as_double(), b.day());
  if (ka == Kind::Logical && kb == Kind::Logical) return (a.log() ? 1 : 0) - (b.log() ? 1 : 0);
  // A one-byte string stands for its byte value against a number.
  if (ka == Kind::String && kb == Kind::Number && a.str().size() == 1) {
    return sign_of(static_cast<unsigned char>(a.str()[0]), b.num().as_double());
  }
  if (ka == Kind::Number && kb == Kind::String && b.str().size() == 1) {
    return sign_of(a.num().as_double(), static_cast<unsigned char>(b.str()[0]));
  }
  return kIncomparable;
}

bool decide(Op op, int c) {
  switch (op) {
    case Op::Eq:
    case Op::Exact:
      return c == 0;
    case Op::Ne:
      return c != 0;
    case Op::Lt:
      return c < 0;
    case Op::Le:
      return c <= 0;
    case Op::Gt:
      return c > 0;
    case Op::Ge:
      return c >= 0;
  }
  return false;
}

bool compare(Op op, const Value& a, const Value& b) {
  // For "=" and "!=" NIL is an ordinary operand that equals only NIL; for "==" two
  // NILs are equal too.
  if (a.is_nil() || b.is_nil()) {
    if (op == Op::Eq || op == Op::Ne || (op == Op::Exact && a.is_nil() && b.is_nil())) {
      bool equal = a.is_nil() && b.is_nil();
      return op == Op::Ne ? !equal : equal;
    }
  } else {
    int c = compare_values(a, b, op == Op::Exact);
    if (c != kIncomparable) return decide(op, c);
  }
  static constexpr struct {
    int subcode;
    const char* operation;
  } kErrors[] = {{kEqualArgument, "="},        {kExactEqualArgument, "=="},
                 {kNotEqualArgument, "<>"},    {kLessArgument, "<"},
                 {kLessEqualArgument, "<="},   {kGreaterArgument, ">"},
                 {kGreaterEqualArgument, ">="}};
  const auto& err = kErrors[static_cast<int>(op)];
  Value answer = raise_argument_error(err.subcode, err.operation, Array{a, b});
  return answer.is_logical() && answer.log();
}

}  // namespace

bool compare_eq(const Value& a, const Value& b) { return compare(Op::Eq, a, b); }
bool compare_exact(const Value& a, const Value& b) { return compare(Op::Exact, a, b); }
bool compare_ne(const Value& a, const Value& b) { return compare(Op::Ne, a, b); }
bool compare_lt(const Value& a, const Value& b) { return compare(Op::Lt, a, b); }
bool compare_le(const Value& a, const Value& b) { return compare(Op::Le, a, b); }
bool compare_gt(const Value& a, const Value& b) { return compare(Op::Gt, a, b); }
bool compare_ge(const Value& a, const Value& b) { return compare(Op::Ge, a, b); }

}  // namespace lum
