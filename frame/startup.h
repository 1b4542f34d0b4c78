// Start-up and termination of the process: the switches, the console, the settings, the
// default error handler, the start function, and the orderly end through __QUIT that
// closes every table, restores the console and gives the exit code. Stop signals end the
// run the same way at its next safe point.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "console/backend.h"
#include "frame/check.h"

namespace lum {

using StartFunction = std::function<void()>;

// The functions of one module, in order; the first function of the first module is the
// start function unless one is named "_APPMAIN".
struct Module {
  std::string name;
  std::vector<std::pair<std::string, StartFunction>> functions;
};

struct Program {
  std::string name;     // as the usage and messages name it
  std::string version;  // what --version prints after the name
  std::string usage;    // what --help prints
  std::vector<Module> modules;
  // Test seams: the terminal back end (default: open_terminal()), where --help,
  // --version and the frame's diagnostics go (default: standard output and error), and
  // the environment variable's value (default: the process's LUMCONV).
  std::function<std::unique_ptr<Terminal>()> open_terminal;
  OutputSink out;
  OutputSink err;
  std::optional<std::string> environment;
  // The report of a dry run (--check), from what the run did to the scratch copies,
  // which the program's own names still reach while it is made; check_verdict() alone
  // when empty.
  std::function<std::string(const CheckOutcome&)> check_report;
  // The files a real run may change, as the program names them, asked just before the
  // start function runs: the real run saves them first so that it can be undone (none:
  // the run takes no snapshot). The dry run says how much room that snapshot needs.
  std::function<std::vector<std::string>()> files_to_save;
  // The destination system's tables, as the program names them: the index files beside
  // those the run rewrites are the destination's own, which the account and the dry run
  // name to be rebuilt there (none: no index file is named).
  std::function<std::vector<std::string>()> destination_tables;
};

// Exit codes besides ERRORLEVEL's 0 and 1.
inline constexpr int kExitUsage = 2;  // the command line was not understood

// Runs the program: switches, start-up, the start function, termination. Returns the
// exit code (ERRORLEVEL; 1 after an interrupt; 2 when the command line or LUMCONV held
// something not understood, in which case nothing was opened). --help and --version
// print and return 0 without opening anything. --check runs the dry run and prints its
// report: 0 when the real run would end normally, 1 when with an error (or when the
// dry run could not be made or was interrupted).
int run_program(const Program& program, int argc, const char* const* argv);

// cmd::QUIT(): ends the run (does not return); returns at once when a quit is under way.
namespace cmd {
void QUIT();
}  // namespace cmd

// The console line of a run that a stop signal ended.
inline constexpr const char* kInterruptedLine =
    "Run interrupted; every open table was closed and its header written.";

}  // namespace lum
