// The error log: one entry per error that ended the run, written to the file the
// settings name ("error.log" in the working directory). An entry holds the date and
// time, the program and host, every setting, the open work areas, the error object, the
// call levels and a dump of the screen. With the append setting on, the newest entry
// comes first and the older ones follow it.
#pragma once

#include <string>

#include "runtime/error.h"

namespace lum {

// The text of the entry for `e`.
std::string error_log_entry(const ErrorObject& e);

// Writes the entry. When the named file cannot be created, "error.log" is tried; when
// that fails too, no log is written (false). An old log is never lost: it is replaced
// only after the new file holds the new entry and the old one in full.
bool write_error_log(const ErrorObject& e);

// The error log's file name at start (the settings can name another).
inline constexpr const char* kErrorLogName = "error.log";

// True when the host file is the error log or the new entry's temporary file
// ("error.log", "_error.log", compared without case): files of the report, not of the
// run's work, which an account of changed tables leaves out.
bool is_error_log_file(const std::string& host_path);

}  // namespace lum
