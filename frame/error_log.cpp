#include "frame/error_log.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "console/screen.h"
#include "frame/errorsys.h"
#include "frame/frame_state.h"
#include "frame/work_area_report.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/host.h"
#include "platform/text.h"
#include "runtime/runtime.h"
#include "values/dates.h"

namespace lum {

namespace {

constexpr int kLineWidth = 79;

std::string centred(std::string_view text, char fill) {
  size_t len = text.size() >= kLineWidth ? 0 : kLineWidth - text.size();
  size_t left = len / 2;
  return std::string(left, fill) + std::string(text) + std::string(len - left, fill);
}

std::string two(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

std::string logical(bool b) { return b ? ".T." : ".F."; }

// A string setting in double quotes, with bytes outside printable ASCII as CHR(n).
std::string setting_text(std::string_view s) {
  std::string out;
  bool open = false;
  for (unsigned char ch : s) {
    bool plain = ch >= 0x20 && ch < 0x7F && ch != '"';
    if (plain != open) {
      if (open) {
        out += "\"";
      } else if (!out.empty()) {
        out += "+";
      }
      if (plain) out += "\"";
      open = plain;
    }
    if (plain) {
      out.push_back(static_cast<char>(ch));
    } else {
      if (!out.empty() && out.back() != '+') out += "+";
      out += "CHR(" + std::to_string(ch) + ")";
    }
  }
  if (open) out += "\"";
  return out.empty() ? "\"\"" : out;
}

std::string setting_line(std::string_view name, const std::string& value) {
  std::string label = "SET " + std::string(name);
  if (label.size() < 19) label.append(19 - label.size(), '.');
  return label + ": " + value;
}

void add_settings(std::vector<std::string>& out, const Settings& s) {
  out.push_back(setting_line("EXACT", logical(s.exact)));
  out.push_back(setting_line("FIXED", logical(s.fixed)));
  out.push_back(setting_line("DECIMALS", std::to_string(s.decimals)));
  out.push_back(setting_line("DATEFORMAT", setting_text(s.date_format)));
  out.push_back(setting_line("EPOCH", std::to_string(s.epoch)));
  out.push_back(setting_line("CENTURY", logical(s.century)));
  out.push_back(setting_line("EXCLUSIVE", logical(s.exclusive)));
  out.push_back(setting_line("DELETED", logical(s.deleted)));
  out.push_back(setting_line("SOFTSEEK", logical(s.softseek)));
  out.push_back(setting_line("UNIQUE", logical(s.unique)));
  out.push_back(setting_line("EOL", setting_text(s.eol)));
  out.push_back(setting_line("DEFEXTENSIONS", logical(s.defextensions)));
  out.push_back(setting_line("HARDCOMMIT", logical(s.hardcommit)));
  out.push_back(setting_line("DEFAULT", setting_text(s.default_dir)));
  out.push_back(setting_line("PATH", setting_text(s.path)));
  out.push_back(setting_line("MFILEEXT", setting_text(s.mfileext)));
  out.push_back(setting_line("DEVICE", setting_text(s.device)));
  out.push_back(setting_line("CONSOLE", logical(s.console)));
  out.push_back(setting_line("COLOR", setting_text(s.color)));
  out.push_back(
      setting_line("ERRORLOG", setting_text(s.errorlog_file) + ", " + logical(s.errorlog_append)));
}

std::string compiler() {
#if defined(__clang__)
  return "Clang " __clang_version__;
#elif defined(__GNUC__)
  return "GNU C++ " __VERSION__;
#else
  return "C++";
#endif
}

// Copies `from` after the first `offset` bytes of `to`, ten bytes at a time.
bool copy_after(File& from, File& to, std::uint64_t offset) {
  char chunk[10];
  for (std::uint64_t at = 0;; at += sizeof chunk) {
    IoResult r = from.read_at(at, chunk, sizeof chunk);
    if (r.oscode != kOsOk) return false;
    if (r.bytes == 0) return true;
    IoResult w = to.write_at(offset + at, chunk, static_cast<std::size_t>(r.bytes));
    if (w.oscode != kOsOk || w.bytes != r.bytes) return false;
  }
}

// The time of the entry, and the machine and program the error happened on.
void add_system(std::vector<std::string>& out, const FrameState& fs) {
  LocalDateTime now = local_now();
  out.push_back("Date...............: " + dtoc_text(date_encode(now.year, now.month, now.day)));
  out.push_back("Time...............: " + two(now.hour) + ":" + two(now.minute) + ":" +
                two(now.second));
  out.push_back("");
  std::optional<std::uint64_t> free_space = free_disk_bytes();
  out.push_back("Application name...: " + fs.program_path);
  out.push_back("Workstation name...: " + host_name());
  out.push_back("Available memory...: " + std::to_string(available_memory_kb()) + " KB");
  out.push_back("Current disk.......: " + current_disk());
  out.push_back("Current directory..: " + current_directory());
  out.push_back("Free disk space....: " +
                (free_space ? std::to_string(*free_space) + " bytes" : std::string("unknown")));
  out.push_back("");
  out.push_back("Operating system...: " + os_description());
  out.push_back("Morvelan version...: " + fs.version);
  out.push_back("Morvelan built on..: " __DATE__ " " __TIME__);
  out.push_back("C/C++ compiler.....: " + compiler());
  out.push_back("Multi Threading....: NO");
  out.push_back("VM Optimization....: none");
}

void add_work_areas(std::vector<std::string>& out, const std::vector<AreaSummary>& areas) {
  out.push_back("");
  out.push_back(centred("Detailed Work Area Items", '-'));
  for (const AreaSummary& a : areas) {
    out.push_back("");
    out.push_back("Work Area No ......: " + std::to_string(a.number));
    out.push_back("Alias .............: " + a.alias);
    out.push_back("Current Recno .....: " + std::to_string(a.recno));
    out.push_back("Current Filter ....: " + a.filter);
    out.push_back("Relation Exp. .....: ");  // the engine sets no relations
    // The run's tables carry at most their one order.
    out.push_back("Index Order .......: " + std::string(a.order.empty() ? "0" : "1"));
    out.push_back("Active Key ........: " + a.order);
  }
}

// The error object, then the call levels it was raised under, innermost first.
void add_error_and_trace(std::vector<std::string>& out, const ErrorObject& e,
                         const std::vector<Frame>& frames) {
  out.push_back("");
  out.push_back(centred(" Internal Error Handling Information  ", '-'));
  out.push_back("");
  out.push_back("Subsystem Call ....: " + e.subsystem);
  out.push_back("System Code .......: " + std::to_string(e.subcode));
  out.push_back("Default Status ....: " + logical(e.can_default));
  out.push_back("Description .......: " + e.description);
  out.push_back("Operation .........: " + e.operation);
  out.push_back("Arguments .........: " + (e.args ? arguments_text(*e.args) : std::string()));
  out.push_back("Involved File .....: " + e.filename);
  out.push_back("Dos Error Code ....: " + std::to_string(e.oscode));

  out.push_back("");
  out.push_back(" Trace Through:");
  out.push_back(" " + e.procname + "(" + std::to_string(e.procline) +
                ") in Module: " + e.modulename);
  size_t level = frames.size();
  while (level > 0 && frames[level - 1].procname.empty()) --level;
  for (size_t j = level > 0 ? level - 1 : 0; j > 0 && !frames[j - 1].procname.empty(); --j) {
    const Frame& f = frames[j - 1];
    out.push_back(" " + f.procname + "(" + std::to_string(f.line) + ") in Module: " + f.module);
  }
}

void add_screen_dump(std::vector<std::string>& out, Runtime& rt) {
  out.push_back("");
  if (auto* s = rt.service_as<Screen>(ServiceSlot::Screen)) {
    out.push_back(centred(" Video Screen Dump ", '-'));
    out.push_back("");
    std::string edge = "+" + std::string(static_cast<size_t>(s->max_col() + 1), '-') + "+";
    out.push_back(edge);
    for (int r = 0; r <= s->max_row(); ++r) out.push_back("|" + s->row_text(r) + "|");
    out.push_back(edge);
  } else {
    out.push_back(" Video Screen Dump not available");
  }
}

}  // namespace

std::string error_log_entry(const ErrorObject& e) {
  Runtime& rt = Runtime::current();
  const Settings& set = rt.settings();
  std::vector<std::string> out;
  out.push_back(centred(" Morvelan Error Log ", '-'));
  out.push_back("");
  add_system(out, frame_state());
  std::vector<AreaSummary> areas = open_work_areas();
  if (int area = current_work_area(); area > 0) {
    out.push_back("Current Area ......: " + std::to_string(area));
  }

  out.push_back("");
  out.push_back(centred(" Environmental Information ", '-'));
  out.push_back("");
  add_settings(out, set);
  add_work_areas(out, areas);
  add_error_and_trace(out, e, rt.frames());
  add_screen_dump(out, rt);

  std::string text;
  for (const std::string& line : out) text += line + "\n";
  return text;
}

bool write_error_log(const ErrorObject& e) {
  const Settings& set = Runtime::current().settings();
  std::string name = set.errorlog_file.empty() ? "error.log" : set.errorlog_file;
  const bool append = set.errorlog_append;
  const std::string entry = error_log_entry(e);

  File log;
  std::string target = append ? "_error.log" : name;
  if (log.create(target, FileShare::Exclusive) != kOsOk) {
    if (append || name == "error.log") return false;
    name = target = "error.log";
    if (log.create(target, FileShare::Exclusive) != kOsOk) return false;
  }
  IoResult w = log.write_at(0, entry.data(), entry.size());
  if (w.oscode != kOsOk || w.bytes != entry.size()) {
    log.close();
    return false;
  }
  if (!append) return log.close() == kOsOk;

  // The newest entry first, then the old log; the old file goes only once it is copied.
  File old;
  bool have_old = old.open(name, FileAccess::ReadOnly, FileShare::Shared) == kOsOk;
  bool copied = !have_old || copy_after(old, log, entry.size());
  old.close();
  int closed = log.close();
  if (!copied || closed != kOsOk) return false;
  if (have_old && delete_file(name) != kOsOk) return false;
  return rename_file(target, name) == kOsOk;
}

bool is_error_log_file(const std::string& host_path) {
  const std::string name = ascii_lower(std::filesystem::path(host_path).filename().string());
  return name == "error.log" || name == "_error.log";
}

}  // namespace lum
