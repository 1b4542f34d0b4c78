#include "frame/startup.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>
#include <system_error>

#include "console/output.h"
#include "console/screen.h"
#include "frame/account.h"
#include "frame/errorsys.h"
#include "frame/frame_state.h"
#include "frame/switches.h"
#include "frame/undo.h"
#include "frame/work_area_report.h"
#include "import/sdf.h"
#include "index/index_commands.h"
#include "platform/file.h"
#include "platform/host.h"
#include "platform/terminal.h"
#include "runtime/runtime.h"

namespace lum {

namespace {

void on_stop_signal(int) { Runtime::request_interrupt(); }

OutputSink stream_sink(std::FILE* stream) {
  return [stream](std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
  };
}

const StartFunction* find_start(const Program& p) {
  for (const Module& m : p.modules) {
    for (const auto& [name, fn] : m.functions) {
      if (name == "_APPMAIN") return &fn;
    }
  }
  for (const Module& m : p.modules) {
    if (!m.functions.empty()) return &m.functions.front().second;
  }
  return nullptr;
}

// The end of every run that got past start-up: tables closed with their records and
// headers written, the console restored, the exit code. `interrupted` becomes true
// when a stop signal is still pending.
int terminate(Runtime& rt, bool& interrupted) {
  rt.begin_quit();  // from here on a raised error answers "break" without the handler
  if (Runtime::interrupt_pending()) interrupted = true;
  close_all_tables();
  if (!interrupted && rt.errorlevel() == 0) {
    // Tables that could not be closed whole: the quit had begun, so no handler saw it.
    if (const ErrorObject* e = rt.error_while_quitting()) report_error_at_end(*e);
  }
  if (interrupted) {
    rt.set_errorlevel(1);
    QOUT(kInterruptedLine);
  }
  screen().finish();
  return rt.errorlevel();
}

// The scratch directory of a dry run: made in the directory for temporary files, with
// the scratch copies on while it lives; removed with every copy in it at the end.
class ScratchDirectory {
 public:
  ScratchDirectory() = default;
  ~ScratchDirectory() { remove(); }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  // Makes it and turns the copies on; why it could not, "" when it could.
  std::string make() {
    namespace fs = std::filesystem;
    dir_ = make_temp_directory("lumconv-check-");
    if (dir_.empty()) return "cannot make a directory for the scratch copies";
    std::error_code ec;
    const fs::path at = fs::weakly_canonical(dir_, ec);
    // The copies must not land among the files they stand in for.
    for (const fs::path& base :
         {fs::weakly_canonical(fs::current_path(ec), ec), fs::weakly_canonical(drive_root(), ec)}) {
      fs::path rel = at.lexically_relative(base);
      if (base != base.root_path() && !rel.empty() && *rel.begin() != "..") {
        std::string why = "the directory for temporary files (" + dir_ + ") lies in " +
                          base.string() + "; set TMPDIR to a directory elsewhere";
        remove();
        return why;
      }
    }
    begin_scratch(dir_);
    return {};
  }
  void remove() noexcept {
    if (dir_.empty()) return;
    end_scratch();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    dir_.clear();
  }

 private:
  std::string dir_;
};

}  // namespace

namespace {

// The switches, from LUMCONV and the command line. An exit code when the command line
// alone ends the process (help, the version, something not understood), which then
// opens nothing.
std::optional<int> read_command_line(const Program& p, int argc, const char* const* argv,
                                     const OutputSink& out, const OutputSink& err, Switches& sw) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  std::string env;
  if (p.environment) {
    env = *p.environment;
  } else if (const char* e = std::getenv("LUMCONV")) {
    env = e;
  }
  sw = read_switches(env, args);
  if (sw.error.empty() && !sw.arguments.empty()) {
    sw.error = "takes no arguments besides its switches (got \"" + sw.arguments.front() + "\")";
  }
  std::error_code ec;
  if (sw.error.empty() && sw.drive && !std::filesystem::is_directory(*sw.drive, ec)) {
    sw.error = "//DRIVE: \"" + *sw.drive + "\" is not a directory";
  }
  if (sw.help) {
    out(p.usage);
    return 0;
  }
  if (!sw.error.empty()) {
    err(p.name + ": " + sw.error + "\nTry \"" + p.name + " --help\".\n");
    return kExitUsage;
  }
  if (sw.version) {
    out(p.name + " " + p.version + "\n");
    return 0;
  }
  return std::nullopt;
}

// Start-up proper, after the frame state: the stop signals, the console, the internal
// error hook, the table drivers and the error handler.
void start_up(const Program& p, const Switches& sw, Runtime& rt, ScratchDirectory& scratch) {
  // The signals first: from the moment the terminal's modes change, every way out must
  // pass through termination, which restores them.
  install_stop_signals(on_stop_signal);
  if (p.open_terminal) {
    rt.set_service(ServiceSlot::Terminal, p.open_terminal());
  } else if (sw.check) {
    rt.set_service(ServiceSlot::Terminal,
                   std::make_unique<MemoryTerminal>([](std::string_view) {}));
  } else {
    rt.set_service(ServiceSlot::Terminal, open_terminal());
  }
  screen();
  rt.set_internal_error_hook([&scratch](int, std::string_view caption, std::string_view text) {
    flush_all_tables();
    Runtime& now = Runtime::current();
    if (now.service(ServiceSlot::Screen) != nullptr) {
      QOUT();
      QOUT(std::string(caption) + std::string(text));
      screen().finish();
    }
    scratch.remove();  // the process ends at once: no destructor will
  });
  // The table engine's drivers: DBF and DBFFPT are there from the start; DBFNTX (the
  // default) opens tables with NTX indexes, SDF reads the exported text files.
  register_ntx_driver();
  register_sdf_driver();
  rt.assign_memvar("GETLIST", Value::array({}));
  ERRORSYS();
}

// Runs the start function to its end or its quit, after `before` (the undo snapshot);
// true when a stop request ended it.
bool run_start_function(const Program& p, Runtime& rt, const std::function<void()>& before) {
  try {
    const StartFunction* start = find_start(p);
    if (start == nullptr) rt.internal_error(9013);
    if (before) before();
    (*start)();
  } catch (const Unwind& u) {
    return u.reason() == Unwind::Reason::Interrupt;
  } catch (const std::exception& ex) {
    // A failure outside the error objects (out of memory): report it and still close
    // every table in order.
    QOUT();
    QOUT(std::string("Unrecoverable error: ") + ex.what());
    rt.set_errorlevel(1);
  } catch (...) {
    QOUT();
    QOUT("Unrecoverable error");
    rt.set_errorlevel(1);
  }
  return false;
}

// The dry run's report, from what the run left in the copies, read through the
// program's own names while the copies are still on; a stop request while it is made
// ends it with the interrupted verdict. The exit code of the dry run.
int finish_check(const Program& p, const OutputSink& out, int code, bool interrupted,
                 std::optional<std::uint64_t> snapshot) {
  FrameState& fs = frame_state();
  CheckOutcome c;
  c.snapshot_bytes = snapshot;
  if (snapshot) c.free_bytes = free_disk_bytes();
  c.ended_normally = code == 0;
  c.interrupted = interrupted;
  c.error_report = fs.error_report;
  c.error_levels = fs.error_levels;
  c.areas_at_error = fs.areas_at_error;
  c.files = scratch_files();
  c.notes = fs.notes;
  c.run = fs.run;
  if (p.destination_tables) c.destination_tables = p.destination_tables();
  std::string report = p.check_report ? p.check_report(c) : check_verdict(c);
  if (Runtime::interrupt_pending()) {
    c.interrupted = true;
    report = check_verdict(c);
  }
  out(report);
  return c.interrupted || code != 0 ? 1 : 0;
}

}  // namespace

int run_program(const Program& p, int argc, const char* const* argv) {
  // The same bytes on every host ("\n" stays "\n" on Windows too), and no table can
  // take the place of a standard stream the run was started without.
  prepare_standard_streams();
  const OutputSink out = p.out ? p.out : stream_sink(stdout);
  const OutputSink err = p.err ? p.err : stream_sink(stderr);
  Switches sw;
  if (std::optional<int> code = read_command_line(p, argc, argv, out, err, sw)) return *code;
  if (sw.undo) {
    // Putting back the last run's files: no console, no tables, nothing else started.
    if (sw.drive) set_drive_root(*sw.drive);
    install_stop_signals(on_stop_signal);
    UndoRequest request;
    request.force = sw.force;
    const int code = undo_last_run(p.name, request, out, err);
    install_stop_signals(nullptr);
    Runtime::clear_interrupt();  // the undo has ended, whether or not a request stopped it
    return code;
  }

  // Settings at their start values, the frame state, the drive root, the dry run's
  // scratch copies.
  forget_changed_files();
  ScratchDirectory scratch;  // outlives the runtime, whose tables are its copies
  Runtime rt;
  FrameState& fs = frame_state();
  fs.program_path = argc > 0 ? argv[0] : p.name;
  fs.noalert = sw.noalert;
  fs.version = p.version;
  if (p.err) fs.diagnostics = p.err;
  if (sw.drive) set_drive_root(*sw.drive);
  if (sw.check) {
    if (std::string why = scratch.make(); !why.empty()) {
      err(p.name + ": --check: " + why + "\n");
      return 1;
    }
    // Nobody is asked: an error ends the dry run as it ends an unattended run, and the
    // report tells it.
    fs.noalert = true;
    fs.diagnostics = [](std::string_view) {};
  }
  start_up(p, sw, rt, scratch);

  // The real run first saves what it may change, so that it can be undone; the dry run
  // tells how much room that takes.
  RunSnapshot snapshot;
  std::optional<std::uint64_t> snapshot_size;
  std::function<void()> before;
  if (p.files_to_save && sw.check) {
    const std::vector<std::string> names = p.files_to_save();
    if (!names.empty()) snapshot_size = snapshot_bytes(names);
  } else if (p.files_to_save && !sw.no_undo) {
    before = [&] {
      const std::vector<std::string> names = p.files_to_save();
      if (names.empty() || snapshot.take(names)) return;
      // Not a file was changed; the error has been reported.
      rt.set_errorlevel(1);
      rt.quit();
    };
  }
  bool interrupted = run_start_function(p, rt, before);
  const int code = terminate(rt, interrupted);
  if (sw.check) {
    const int check_code = finish_check(p, out, code, interrupted, snapshot_size);
    scratch.remove();
    install_stop_signals(nullptr);
    return check_code;
  }
  snapshot.record_after();
  UndoNote undo;
  undo.folder = snapshot.folder();
  if (sw.drive) undo.command_switches = " //DRIVE:" + *sw.drive;
  const std::vector<std::string> destination =
      p.destination_tables ? p.destination_tables() : std::vector<std::string>{};
  const std::string account =
      run_account(p.name, code != 0 && !interrupted, interrupted, undo, destination);
  if (!account.empty()) err(account);
  install_stop_signals(nullptr);
  return code;
}

void cmd::QUIT() {
  Runtime& rt = Runtime::current();
  if (rt.quitting()) return;
  rt.quit();
}

}  // namespace lum
