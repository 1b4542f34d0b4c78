// The dry run, "--check": the whole run exactly as a real run goes, with the same
// inputs, but on scratch copies of every file it would change (the host file layer's
// scratch copies, in a new temporary directory removed at the end, also after an error
// or an interrupt); nobody is asked anything, so an error ends it as it would end an
// unattended run. Afterwards the program's report says what the run did to the copies,
// and the exit code says how the real run would end: 0 normally, 1 with an error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "frame/run_record.h"
#include "platform/file.h"
#include "table/workareas.h"

namespace lum {

// What the dry run saw, for the report.
struct CheckOutcome {
  bool ended_normally = false;  // the real run would end with exit code 0
  bool interrupted = false;     // a stop signal ended the dry run itself
  // The report of the error that ended the run, as the handler writes it; the call
  // levels it names, innermost first; the open work areas at that moment.
  std::vector<std::string> error_report;
  std::vector<std::string> error_levels;
  std::vector<AreaSummary> areas_at_error;
  // Every file the run opened to change it, with its copy (changed: the run changed it).
  std::vector<ScratchFile> files;
  // The program's notes for the operator ("nothing to convert").
  std::vector<std::string> notes;
  // What the program noted as it went.
  RunRecord run;
  // The bytes the real run's undo snapshot would take, and what the disk of the working
  // directory has free (none when unknown); no snapshot when the run saves nothing.
  std::optional<std::uint64_t> snapshot_bytes;
  std::optional<std::uint64_t> free_bytes;
  // The destination system's tables, as the program names them (Program).
  std::vector<std::string> destination_tables;
};

// The report's closing part, the same for every program: how the real run would end
// (with its error, as the run reports it), which files it would have emptied or
// rewritten by then, and that every other file would stay as it is.
std::string check_verdict(const CheckOutcome& c);

}  // namespace lum
