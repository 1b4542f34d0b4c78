#include "platform/clock.h"

#include <ctime>

namespace lum {

LocalDateTime local_now() {
  std::time_t t = std::time(nullptr);
  std::tm tm = {};
  ::localtime_r(&t, &tm);
  LocalDateTime d;
  d.year = tm.tm_year + 1900;
  d.month = tm.tm_mon + 1;
  d.day = tm.tm_mday;
  d.hour = tm.tm_hour;
  d.minute = tm.tm_min;
  d.second = tm.tm_sec;
  return d;
}

}  // namespace lum
