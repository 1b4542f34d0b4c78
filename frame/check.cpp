#include "frame/check.h"

#include <cstdio>
#include <filesystem>

#include "frame/account.h"
#include "frame/error_log.h"
#include "frame/undo.h"
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

// "12,345,678 bytes (11.8 MB)", "12,664 bytes (12.4 KB)", "512 bytes".
std::string bytes_text(std::uint64_t n) {
  std::string digits = std::to_string(n);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(at, ",");
  digits += n == 1 ? " byte" : " bytes";
  if (n < 1024) return digits;
  char size[32];
  if (n < 1024 * 1024) {
    std::snprintf(size, sizeof size, " (%.1f KB)", static_cast<double>(n) / 1024.0);
  } else {
    std::snprintf(size, sizeof size, " (%.1f MB)", static_cast<double>(n) / (1024.0 * 1024.0));
  }
  return digits + size;
}

// The room the real run's undo snapshot needs, against what the disk has.
std::string snapshot_text(std::uint64_t need, std::optional<std::uint64_t> free) {
  std::string s = "Before it changes anything, the real run saves the files it may change in " +
                  std::string(kUndoFolder) + ", so that \"lumconv --undo\" can put them back: " +
                  bytes_text(need) + ".";
  if (!free) return s + " How much room the disk has is not known.\n";
  if (*free > need) return s + " The disk has room for it.\n";
  return s + " The disk has only " + bytes_text(*free) +
         " free: the real run would stop before changing anything. Make room, or run it with "
         "--no-undo (and keep a copy of your own).\n";
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
  out += indexes_to_rebuild_text(indexes_to_rebuild(c.destination_tables), true);
  if (c.snapshot_bytes) out += snapshot_text(*c.snapshot_bytes, c.free_bytes);
  if (log) out += "It would write the error's report to error.log.\n";
  out += "None of your files was changed by this dry run.\n";
  return out;
}

}  // namespace lum
