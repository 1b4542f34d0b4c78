#include "values/strings.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "runtime/error.h"
#include "runtime/runtime.h"

namespace lum {

namespace {

bool is_white(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// A numeric argument as a whole number, truncated toward zero and kept in range.
std::int64_t whole(const Number& n) {
  if (n.is_integer()) return n.i;
  if (std::isnan(n.d)) return 0;
  if (n.d >= 9.0e18) return INT64_C(9000000000000000000);
  if (n.d <= -9.0e18) return INT64_C(-9000000000000000000);
  return static_cast<std::int64_t>(n.d);
}

// Longest string a value may hold: the 32-bit size.
constexpr std::uint64_t kMaxString = UINT32_MAX;

}  // namespace

Value ALLTRIM(const Value& c) { return ALLTRIM(c, Value()); }

Value ALLTRIM(const Value& c, const Value& all_white) {
  if (!c.is_string()) {
    return raise_argument_error(kAlltrimArgument, "ALLTRIM",
                                all_white.is_nil() ? Array{c} : Array{c, all_white});
  }
  const std::string& s = c.str();
  const bool all = all_white.is_logical() && all_white.log();
  std::size_t end = s.size();
  while (end > 0 && (all ? is_white(s[end - 1]) : s[end - 1] == ' ')) --end;
  std::size_t begin = 0;
  while (begin < end && is_white(s[begin])) ++begin;
  if (begin == 0 && end == s.size()) return c;
  return Value::string(std::string_view(s).substr(begin, end - begin));
}

namespace {

// SUBSTR's 0-based start: negative counts from the end (at least 0), 0 is as 1.
std::int64_t substr_start(std::int64_t start, std::int64_t len) {
  if (start < 0) return start + len < 0 ? 0 : start + len;
  return start > 0 ? start - 1 : 0;
}

}  // namespace

Value SUBSTR(const Value& c, const Value& start) {
  if (!c.is_string() || !start.is_number()) {
    return raise_argument_error(kSubstrArgument, "SUBSTR", Array{c, start});
  }
  const std::string& s = c.str();
  const auto len = static_cast<std::int64_t>(s.size());
  const std::int64_t from = substr_start(whole(start.num()), len);
  if (from >= len) return Value::string(std::string());
  return Value::string(std::string_view(s).substr(static_cast<std::size_t>(from)));
}

Value SUBSTR(const Value& c, const Value& start, const Value& count) {
  if (!c.is_string() || !start.is_number()) {
    return raise_argument_error(kSubstrArgument, "SUBSTR", Array{c, start, count});
  }
  const std::string& s = c.str();
  const auto len = static_cast<std::int64_t>(s.size());
  const std::int64_t from = substr_start(whole(start.num()), len);
  // A start beyond the end gives "" before the count is looked at.
  if (from >= len) return Value::string(std::string());
  if (!count.is_number())
    return raise_argument_error(kSubstrArgument, "SUBSTR", Array{c, start, count});
  std::int64_t n = whole(count.num());
  if (n > len - from) n = len - from;
  if (n <= 0) return Value::string(std::string());
  return Value::string(
      std::string_view(s).substr(static_cast<std::size_t>(from), static_cast<std::size_t>(n)));
}

Value LEFT(const Value& c, int n) {
  if (!c.is_string()) return raise_argument_error(kLeftArgument, "LEFT", Array{c, Value::int32(n)});
  const std::string& s = c.str();
  if (n <= 0) return Value::string(std::string());
  if (static_cast<std::size_t>(n) >= s.size()) return c;
  return Value::string(std::string_view(s).substr(0, static_cast<std::size_t>(n)));
}

Value RIGHT(const Value& c, int n) {
  if (!c.is_string() || n <= 0) return Value::string(std::string());
  const std::string& s = c.str();
  if (static_cast<std::size_t>(n) >= s.size()) return c;
  return Value::string(std::string_view(s).substr(s.size() - static_cast<std::size_t>(n)));
}

namespace {

Value at_impl(const Value& search, const Value& target, const Value* start, const Value* end) {
  if (!search.is_string() || !target.is_string()) {
    return raise_argument_error(kAtArgument, "AT", Array{search, target});
  }
  const std::string_view needle = search.str();
  const std::string_view hay = target.str();
  const auto len = static_cast<std::int64_t>(hay.size());
  std::int64_t s = 0;
  if (start != nullptr && start->is_number()) {
    s = whole(start->num());
    if (s < 0) {
      s += len;
      if (s < 0) s = 0;
    } else if (s > 0) {
      --s;
    }
  }
  std::int64_t e = len;
  if (end != nullptr && end->is_number()) {
    e = whole(end->num());
    if (e < 0) e += len + 1;
    if (e > len) e = len;
  }
  std::int64_t found = 0;
  if (s < e && !needle.empty() && static_cast<std::int64_t>(needle.size()) <= e - s) {
    std::string_view part =
        hay.substr(static_cast<std::size_t>(s), static_cast<std::size_t>(e - s));
    std::size_t at = part.find(needle);
    if (at != std::string_view::npos) found = s + static_cast<std::int64_t>(at) + 1;
  }
  return Value::integer(found);
}

}  // namespace

Value AT(const Value& search, const Value& target) {
  return at_impl(search, target, nullptr, nullptr);
}
Value AT(const Value& search, const Value& target, const Value& start) {
  return at_impl(search, target, &start, nullptr);
}
Value AT(const Value& search, const Value& target, const Value& start, const Value& end) {
  return at_impl(search, target, &start, &end);
}

Value LEN(const Value& x) {
  if (x.is_string()) return Value::integer(static_cast<std::int64_t>(x.str().size()));
  if (x.is_array()) return Value::integer(static_cast<std::int64_t>(x.arr().size()));
  return raise_argument_error(kLenArgument, "LEN", Array{x});
}

Value SPACE(const Value& n) {
  if (!n.is_number()) return raise_argument_error(kSpaceArgument, "SPACE", Array{n});
  std::int64_t count = whole(n.num());
  if (count <= 0) return Value::string(std::string());
  if (static_cast<std::uint64_t>(count) > kMaxString) count = static_cast<std::int64_t>(kMaxString);
  return Value::string(std::string(static_cast<std::size_t>(count), ' '));
}

Value ASC(const Value& c) {
  if (!c.is_string()) return raise_argument_error(kAscArgument, "ASC", Array{c});
  const std::string& s = c.str();
  return Value::int32(s.empty() ? 0 : static_cast<unsigned char>(s[0]));
}

char kind_letter(const Value& x) {
  switch (x.kind()) {
    case Kind::Nil:
      return 'U';
    case Kind::Logical:
      return 'L';
    case Kind::String:
      return 'C';
    case Kind::Number:
      return 'N';
    case Kind::Date:
      return 'D';
    case Kind::Array:
      return 'A';
  }
  return 'U';
}

Value VALTYPE(const Value& x) { return Value::string(std::string(1, kind_letter(x))); }

Value concat(const Value& a, const Value& b) {
  const std::string& x = a.str();
  const std::string& y = b.str();
  if (static_cast<std::uint64_t>(x.size()) + y.size() > kMaxString) {
    ErrorObject e = make_error(kErrStringOverflow, "BASE", kConcatOverflow, "+", kCanSubstitute);
    e.args = Array{a, b};
    RaiseAnswer answer = raise(e);
    return answer.substituted() ? std::move(answer.value) : Value();
  }
  std::string r;
  r.reserve(x.size() + y.size());
  r.append(x).append(y);
  return Value::string(std::move(r));
}

Value concat(Value&& a, const Value& b) {
  const std::string& y = b.str();
  if (static_cast<std::uint64_t>(a.str().size()) + y.size() > kMaxString) return concat(a, b);
  a.mutable_str().append(y);
  return std::move(a);
}

Value index_char(const Value& c, const Value& n) {
  if (!c.is_string() || !n.is_number())
    return raise_argument_error(kSubscriptArgument, "[]", Array{c, n});
  const std::string& s = c.str();
  const auto len = static_cast<std::int64_t>(s.size());
  std::int64_t k = whole(n.num());
  if (len == 0 && k == -1) return Value();
  if (k == 0) {
    k = 1;
  } else if (k < 0) {
    k += len + 1;
    if (k < 1) k = 1;
  }
  if (k > len) return Value::string(std::string());
  return Value::string(std::string(1, s[static_cast<std::size_t>(k - 1)]));
}

int string_compare(std::string_view a, std::string_view b, bool exact) {
  if (!exact && Runtime::current().settings().exact) {
    while (a.size() > b.size() && a.back() == ' ') a.remove_suffix(1);
    while (b.size() > a.size() && b.back() == ' ') b.remove_suffix(1);
    exact = true;
  }
  const std::size_t m = a.size() < b.size() ? a.size() : b.size();
  if (m > 0) {
    int d = std::memcmp(a.data(), b.data(), m);  // compares as unsigned bytes
    if (d != 0) return d < 0 ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  if (exact) return a.size() < b.size() ? -1 : 1;
  // Not exact: only a longer right operand makes a difference.
  return b.size() > a.size() ? -1 : 0;
}

}  // namespace lum
