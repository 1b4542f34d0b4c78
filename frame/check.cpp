#include "frame/check.h"

#include <filesystem>

#include "frame/account.h"
#include "frame/error_log.h"
#include "runtime/error.h"

namespace lum {

namespace {

// A line of the error's report with the plain meaning beside its operating-system code:
// "(DOS Error 5)" becomes "(DOS Error 5: access denied)".
std::string with_os_meaning(const std::string& line) {
  const std::size_t at = line.find("(DOS Error ");
  if (at == std::string::npos) return line;
  const std::size_t end = line.find(')', at);
  if (end == std::string::npos) return line;
  int code = 0;
  for (std::size_t i = at + 11; i < end; ++i) {
    if (line[i] < '0' || line[i] > '9') return line;
    code = code * 10 + (line[i] - '0');
  }
  return line.substr(0, at) + dos_error_explained(code) + line.substr(end + 1);
}

}  // namespace

std::string check_verdict(const CheckOutcome& c) {
  if (c.interrupted) {
    return "The dry run was interrupted: it cannot tell how the real run would end.\n"
           "None of your files was changed.\n";
  }
  std::string out;
  for (const std::string& note : c.notes) out += note + "\n";
  std::string changed;
  bool log = false;
  for (const ScratchFile& f : c.files) {
    if (!f.changed) continue;
    if (is_error_log_file(f.path)) {
      log = true;
      continue;
    }
    // Through the file's own name, which reaches its copy while the copies are on: the
    // copy's host path may lie where no name reaches (on Windows with //DRIVE:, the
    // temporary directory outside the drive's root).
    const std::string note = f.gone ? "deleted" : changed_file_note(f.path, true);
    if (note.empty()) continue;  // a temporary file of the run
    changed += "  " + operator_file_name(f.path) + " (" + note + ")\n";
  }
  if (c.ended_normally) {
    out += "The real run would end normally (exit code 0).";
    out += changed.empty() ? " It would change no file.\n" : " It would empty and rewrite:\n";
  } else {
    out += "The real run would end with this error (exit code 1):\n";
    for (const std::string& line : c.error_report) {
      out += line.empty() ? "\n" : "  " + with_os_meaning(line) + "\n";
    }
    out += changed.empty() ? "By then it would have changed no table.\n"
                           : "By then it would have emptied or rewritten:\n";
  }
  out += changed;
  if (!changed.empty()) out += "Every other table would stay as it is.\n";
  if (log) out += "It would write the error's report to error.log.\n";
  out += "None of your files was changed by this dry run.\n";
  return out;
}

}  // namespace lum
