#include "tools/sample/line_fields.h"

namespace lum::sample {

std::uint64_t random_date(Rng& r) {
  // One draw per statement: the order of a call's arguments is the compiler's choice.
  const int y = 2010 + static_cast<int>(r.below(7));
  const int m = 1 + static_cast<int>(r.below(12));
  const int d = 1 + static_cast<int>(r.below(28));
  return ddmmyyyy(d, m, y);
}

char random_sign(Rng& r) { return r.one_in(4) ? 'F' : 'C'; }

std::int64_t day_number(int y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = y / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy;
}

std::uint64_t ddmmyyyy_of(std::int64_t n) {
  const std::int64_t era = n / 146097;
  const std::int64_t doe = n - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int y = static_cast<int>(yoe + era * 400 + (m <= 2));
  return ddmmyyyy(d, m, y);
}

std::int64_t recent_day(Rng& r) { return day_number(2023, 1, 1) + r.below(730); }

}  // namespace lum::sample
