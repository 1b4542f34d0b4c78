// The host clock: today's local date for the date of last update in table headers,
// and the local date and time for the error log.
#pragma once

namespace lum {

struct LocalDateTime {
  int year = 1900;  // four digits
  int month = 1;    // 1..12
  int day = 1;      // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// The local date and time now.
LocalDateTime local_now();

}  // namespace lum
