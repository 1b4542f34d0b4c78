#include "frame/errorsys.h"

#include <algorithm>
#include <vector>

#include "console/alert_box.h"
#include "console/output.h"
#include "console/screen.h"
#include "frame/error_log.h"
#include "frame/frame_state.h"
#include "frame/work_area_report.h"
#include "platform/file.h"
#include "runtime/runtime.h"
#include "table/dbcmd.h"
#include "values/dates.h"
#include "values/number_text.h"

namespace lum {

namespace {

std::string trim_left(std::string s) {
  size_t first = s.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : s.substr(first);
}

std::vector<std::string> split_lines(const std::string& text, char sep) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(sep, start);
    lines.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) break;
    start = at + 1;
  }
  return lines;
}

// Asks the operator through the alert box when one can answer. Returns the 1-based
// choice, kAlertNoChoice, or kAlertUnanswerable (after writing the question to the
// diagnostics, so that it is not lost).
int ask(const std::vector<std::string>& lines, const std::vector<std::string>& options,
        const AlertColors& colors, int delay) {
  Screen& s = screen();
  if (!frame_state().noalert && s.terminal().interactive()) {
    AlertBox box{lines, options, color_attribute(colors.box), color_attribute(colors.highlight),
                 delay};
    int choice = run_alert_box(s, box);
    if (choice != kAlertUnanswerable) return choice;
  }
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  text += "Choices:";
  for (size_t i = 0; i < options.size(); ++i) text += (i ? ", " : " ") + options[i];
  text += ". Nobody can answer here: " + options.front() + ".\n";
  // The lines of the run that came before the question come before it in the output.
  s.terminal().flush_lines();
  write_diagnostic(text);
  return kAlertUnanswerable;
}

// "NAME(line)" of a call level.
std::string call_text(const std::string& proc, int line) {
  return proc + "(" + std::to_string(line) + ")";
}

// Holds the "DEFERROR is running" mark for one call, also when the call unwinds.
class HandlerMark {
 public:
  explicit HandlerMark(FrameState& f) : f_(f) { f_.in_handler = true; }
  ~HandlerMark() { f_.in_handler = false; }
  HandlerMark(const HandlerMark&) = delete;
  HandlerMark& operator=(const HandlerMark&) = delete;

 private:
  FrameState& f_;
};

void report_error(const ErrorObject& e, std::string message, const std::string& dos);

std::string value_text(const Value& v) {
  switch (v.kind()) {
    case Kind::String:
      return v.str();
    case Kind::Number:
      return trim_left(number_text(v.num()));
    case Kind::Date:
      return dtoc_text(v.day());
    case Kind::Logical:
      return v.log() ? ".T." : ".F.";
    case Kind::Nil:
      return "NIL";
    default:
      return "";
  }
}

}  // namespace

void ERRORSYS() { Runtime::current().install_handler(DEFERROR); }

std::string ERRORMESSAGE(const ErrorObject& e) {
  std::string m = e.severity > 1 ? "Error" : "Warning";
  m += " " + e.subsystem + "/" + std::to_string(e.subcode);
  m += "  " + e.description;
  if (!e.filename.empty()) {
    m += ": " + e.filename;
  } else if (!e.operation.empty()) {
    m += ": " + e.operation;
  }
  return m;
}

std::string arguments_text(const Array& args) {
  std::string out;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i > 0) out += ", ";
    const Value& a = args[i];
    if (a.is_string()) {
      out += "\"" + a.str() + "\"";
    } else if (a.is_array()) {
      out += "{...}";
    } else {
      out += value_text(a);
    }
  }
  return out;
}

namespace {

// Notes an error that a default settles, for the account after the run.
void note_settled(const ErrorObject& e, bool by_operator) {
  FrameState& fs = frame_state();
  FrameState::SettledError s;
  s.message = ERRORMESSAGE(e);
  if (e.oscode != 0) s.message += " " + dos_error_explained(e.oscode);
  const std::string& what = !e.filename.empty() ? e.filename : e.operation;
  if (e.gencode == kErrOpen) {
    s.skipped = what + " was not opened";
  } else if (e.gencode == kErrCreate) {
    s.skipped = what + " was not created";
  } else if (!e.operation.empty()) {
    s.skipped = e.operation + " was not done";
  } else {
    s.skipped = "the operation was not done";
  }
  s.by_operator = by_operator;
  s.step = fs.run.name(fs.run.running());
  fs.settled.push_back(std::move(s));
}

}  // namespace

Value DEFERROR(ErrorObject& e) {
  Runtime& rt = Runtime::current();
  FrameState& fs = frame_state();
  if (fs.in_handler) {
    // An error inside the handler itself: no second report, just end the run.
    write_diagnostic("Error system failure!\n");
    ask({"Error system failure!", "Please correct error handler:",
         call_text(e.procname, e.procline) + " in module: " + e.modulename},
        {"Ok"}, alert_colors(Value()), -1);
    rt.set_errorlevel(1);
    rt.quit();
  }
  HandlerMark mark(fs);

  if (e.gencode == kErrZeroDivisor) return Value(0);
  if (e.gencode == kErrLock && e.can_retry) return Value::logical(true);
  if ((e.gencode == kErrOpen && e.oscode == kOsFileInUse && e.can_default) ||
      (e.gencode == kErrAppendLock && e.can_default)) {
    NETERR(true);
    note_settled(e, false);
    return Value::logical(false);
  }

  screen().refresh();
  std::string message = ERRORMESSAGE(e);
  std::string dos = e.oscode != 0 ? dos_error_text(e.oscode) : "";
  if (e.args) message += " Arguments: (" + arguments_text(*e.args) + ")";

  std::vector<std::string> options = {"Quit"};
  if (e.can_retry) options.push_back("Retry");
  if (e.can_default) options.push_back("Default");
  std::vector<std::string> lines = split_lines(message, ';');
  if (!dos.empty()) lines.push_back(dos);
  for (;;) {
    int choice = ask(lines, options, alert_colors(Value()), -1);
    if (choice == kAlertUnanswerable) break;
    if (choice == kAlertNoChoice) {
      if (Runtime::interrupt_pending()) break;  // a stop signal counts as Quit
      continue;                                 // until a choice is made
    }
    const std::string& chosen = options[static_cast<size_t>(choice - 1)];
    if (chosen == "Retry") return Value::logical(true);
    if (chosen == "Default") {
      note_settled(e, true);
      return Value::logical(false);
    }
    break;  // Quit
  }

  report_error(e, message, dos);
  rt.quit();
}

namespace {

// What Quit leaves: the message (with the DOS-error text), "Error at" and the callers on
// the console, the error log, exit code 1.
void report_error(const ErrorObject& e, std::string message, const std::string& dos) {
  Runtime& rt = Runtime::current();
  FrameState& fs = frame_state();
  if (!dos.empty()) message += " " + dos;
  std::vector<std::string>& report = fs.error_report;
  report = {message, "",
            "Error at ...: " + call_text(e.procname, e.procline) + " in Module: " + e.modulename};
  fs.error_levels = {e.procname};
  const std::vector<Frame>& frames = rt.frames();
  // The callers, from the level below the innermost named one outward.
  size_t level = frames.size();
  while (level > 0 && frames[level - 1].procname.empty()) --level;
  for (size_t j = level > 0 ? level - 1 : 0; j > 0; --j) {
    const Frame& f = frames[j - 1];
    if (f.procname.empty()) break;
    report.push_back("Called from : " + call_text(f.procname, f.line) + " in Module: " + f.module);
    fs.error_levels.push_back(f.procname);
  }
  fs.areas_at_error = open_work_areas();
  for (const std::string& line : report) QOUT(line);
  write_error_log(e);
  rt.set_errorlevel(1);
  QOUT();
}

}  // namespace

void report_error_at_end(const ErrorObject& e) {
  std::string message = ERRORMESSAGE(e);
  if (e.args) message += " Arguments: (" + arguments_text(*e.args) + ")";
  report_error(e, message, e.oscode != 0 ? dos_error_text(e.oscode) : "");
}

int ERRORLEVEL() { return Runtime::current().errorlevel(); }

int ERRORLEVEL(int code) {
  Runtime& rt = Runtime::current();
  int old = rt.errorlevel();
  rt.set_errorlevel(code);
  return old;
}

AlertColors alert_colors(const Value& color) {
  if (!color.is_string() || color.str().empty()) return {"W+/R", "W+/B"};
  const std::string& c = color.str();
  size_t comma = c.find(',');
  if (comma != std::string::npos) return {c.substr(0, comma), c.substr(comma + 1)};
  size_t slash = c.find('/');
  if (slash == std::string::npos) return {c, "W+/B"};
  auto plain = [](std::string s) {
    std::erase_if(s, [](char ch) { return ch == '+' || ch == '*'; });
    return s;
  };
  return {c, plain(c.substr(slash + 1)) + "/" + plain(c.substr(0, slash))};
}

Value ALERT() { return Value(); }

Value ALERT(const Value& message, const Value& options, const Value& color, const Value& delay) {
  if (frame_state().noalert) return Value();
  std::vector<std::string> lines;
  if (message.is_array()) {
    for (const Value& v : message.arr()) {
      if (v.is_string()) lines.push_back(v.str());
    }
  } else if (message.is_string()) {
    lines = split_lines(message.str(), ';');
  } else {
    lines.push_back(value_text(message));
  }
  std::vector<std::string> opts;
  if (options.is_array()) {
    for (const Value& v : options.arr()) {
      if (v.is_string() && !v.str().empty()) opts.push_back(v.str());
    }
  }
  if (opts.empty()) opts.push_back("Ok");
  int wait = -1;
  if (delay.is_number() && delay.num().as_double() >= 0) {
    // Whole seconds, kept where the milliseconds of the wait still fit an int.
    wait = static_cast<int>(std::min(delay.num().as_double(), 2000000.0));
  }
  int choice = ask(lines, opts, alert_colors(color), wait);
  return Value::int32(choice < 0 ? 0 : choice);
}

}  // namespace lum
