#include "table/table_totals.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/text.h"
#include "table/table_scan.h"

namespace lum {

namespace {

// An exact sum of scaled integers beyond 64 bits: hi * 10^18 + lo.
class Sum {
 public:
  static constexpr std::int64_t kBase = 1000000000000000000;
  void add(std::int64_t v) {  // |v| < 10^18
    lo_ += v;
    hi_ += lo_ / kBase;
    lo_ %= kBase;
  }
  std::string text(int dec) const {
    std::int64_t hi = hi_, lo = lo_;
    if (hi > 0 && lo < 0) {
      --hi;
      lo += kBase;
    } else if (hi < 0 && lo > 0) {
      ++hi;
      lo -= kBase;
    }
    const bool negative = hi < 0 || lo < 0;
    std::string digits = std::to_string(std::llabs(lo));
    if (hi != 0)
      digits = std::to_string(std::llabs(hi)) + std::string(18 - digits.size(), '0') + digits;
    if (dec > 0) {
      if (digits.size() <= static_cast<std::size_t>(dec)) {
        digits.insert(0, static_cast<std::size_t>(dec) + 1 - digits.size(), '0');
      }
      digits.insert(digits.size() - static_cast<std::size_t>(dec), ".");
    }
    return (negative ? "-" : "") + digits;
  }

 private:
  std::int64_t hi_ = 0, lo_ = 0;
};

// The stored text of a numeric field as an integer in units of 10^-dec; false when it is
// not a number (asterisks after a width error, other bytes, too many digits).
bool stored_number(std::string_view text, int dec, std::int64_t& out) {
  std::string_view s = trim_blanks(text);
  bool negative = false;
  if (!s.empty() && s.front() == '-') {
    negative = true;
    s.remove_prefix(1);
  }
  std::int64_t v = 0;
  int digits = 0, frac = -1;
  for (char c : s) {
    if (c == '.' && frac < 0) {
      frac = 0;
      continue;
    }
    if (c < '0' || c > '9') return false;
    if (frac >= 0 && frac == dec) continue;  // beyond the field's decimals
    if (++digits > 17) return false;
    v = v * 10 + (c - '0');
    if (frac >= 0) ++frac;
  }
  for (int k = frac < 0 ? 0 : frac; k < dec; ++k) v *= 10;
  out = negative ? -v : v;
  return true;
}

}  // namespace

std::string control_totals(std::string_view table) {
  TableScan t;
  if (!t.open(table)) return t.name() + " " + t.why();
  struct Total {
    const dbf::Field* field;
    Sum sum;
    std::uint64_t not_numbers = 0;
  };
  std::vector<Total> totals;
  for (const dbf::Field& f : t.fields()) {
    if (f.type == 'N' || f.type == 'F') totals.push_back({&f, {}, 0});
  }
  if (totals.empty()) return "no numeric fields";
  if (!t.each([&](std::uint32_t, std::string_view rec) {
        for (Total& x : totals) {
          std::int64_t v = 0;
          if (stored_number(TableScan::bytes(rec, *x.field), x.field->dec, v)) {
            x.sum.add(v);
          } else {
            ++x.not_numbers;
          }
        }
      })) {
    return "the table ends before its last record";
  }
  std::string s;
  for (const Total& x : totals) {
    if (!s.empty()) s += ", ";
    s += x.field->name + " " + x.sum.text(x.field->dec);
    if (x.not_numbers > 0) s += " (and " + plural(x.not_numbers, "value", "values") + " not a number)";
  }
  return s;
}

}  // namespace lum
