#include "platform/clock.h"

#include <windows.h>

namespace lum {

LocalDateTime local_now() {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  LocalDateTime d;
  d.year = t.wYear;
  d.month = t.wMonth;
  d.day = t.wDay;
  d.hour = t.wHour;
  d.minute = t.wMinute;
  d.second = t.wSecond;
  return d;
}

}  // namespace lum
