// The process-wide settings table with its start values. The value functions, the
// table engine and the console read it through Runtime::current().settings().
#pragma once

#include <string>

namespace lum {

struct Settings {
  std::string date_format = "mm/dd/yy";  // setting 4
  bool century = false;
  int epoch = 1900;                      // setting 5
  bool exact = false;                    // setting 1
  bool fixed = false;                    // setting 2
  int decimals = 2;                      // setting 3
  bool exclusive = true;
  bool deleted = false;
  bool softseek = false;
  bool unique = false;
  std::string eol = "\r\n";
  bool defextensions = true;
  bool hardcommit = true;
  std::string default_dir;
  std::string path;
  std::string mfileext;
  std::string device = "SCREEN";
  bool console = true;
  std::string color = "W/N,N/W,N/N,N/N,N/W";
  std::string errorlog_file = "error.log";
  bool errorlog_append = false;
};

// Setting numbers used by SET(n [, x]).
enum SettingNumber : int {
  kSetExact = 1,
  kSetFixed = 2,
  kSetDecimals = 3,
  kSetDateFormat = 4,
  kSetEpoch = 5,
};

}  // namespace lum
