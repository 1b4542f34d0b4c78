// The run-time frame's own process state, kept in Runtime slot ServiceSlot::Frame: the
// start-up switches that change the handler, whether the default handler is running,
// and the program's path and version. (NETERR lives with the work areas,
// which clear it at every open.)
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/run_record.h"
#include "runtime/runtime.h"
#include "table/workareas.h"

namespace lum {

class FrameState : public Service {
 public:
  bool noalert = false;     // the //NOALERT switch
  bool in_handler = false;  // DEFERROR is running
  std::string program_path;
  std::string version;  // the program's version, for the error log
  // Lines for the operator after a normal run (add_operator_note).
  std::vector<std::string> notes;
  // The report of the error that ended the run, as the handler wrote it (its console
  // lines in order), the call levels it names (innermost first) and the open work areas
  // at that moment; empty while no error has ended the run.
  std::vector<std::string> error_report;
  std::vector<std::string> error_levels;
  std::vector<AreaSummary> areas_at_error;
  // What the program noted as it went.
  RunRecord run;
  // The errors settled with Default, by the handler itself (a table held by another
  // program) or by the operator, after which the run went on: for the account.
  struct SettledError {
    std::string message;  // ERRORMESSAGE, with the OS code and its meaning
    std::string skipped;  // what the default left undone ("cbCli.dbf was not opened")
    bool by_operator = false;
    std::string step;     // the run record's name of the step it struck in
  };
  std::vector<SettledError> settled;
  // Where the frame's messages go when nobody can answer at the terminal; standard
  // error unless a test captures them.
  std::function<void(std::string_view)> diagnostics;
};

// The frame state of the current runtime, created on first use.
FrameState& frame_state();

// Writes text to the frame's diagnostics (standard error by default).
void write_diagnostic(std::string_view text);

}  // namespace lum
