// The default error handler and what it uses: ERRORSYS installs DEFERROR, which turns a
// run-time failure into an alert, console lines, an error-log entry and exit code 1
// (or answers the few failures it settles by itself); ERRORMESSAGE, ALERT, ERRORLEVEL
// and NETERR.
#pragma once

#include <optional>
#include <string>

#include "runtime/error.h"
#include "runtime/value.h"

namespace lum {

// Installs DEFERROR as the process-wide handler.
void ERRORSYS();

// The default handler. Settles zero division (0), lock failures with retry allowed
// (retry) and open failures of a file in use / append lock failures with default allowed
// (NETERR of the table engine set, default); anything else is offered to the operator as Quit /
// Retry / Default. Retry answers true, Default false; Quit writes the report, the error log and
// ends the run with exit code 1. When nobody can answer (no terminal on standard input
// or output, or //NOALERT) the message and choices go to standard error and it quits.
Value DEFERROR(ErrorObject& e);

// An error raised while the run was ending (closing its tables at termination), once
// nothing can be retried or asked any more: reported as DEFERROR reports Quit (console
// lines, error log) with exit code 1, so that a run whose last writes failed never ends
// as a normal one.
void report_error_at_end(const ErrorObject& e);

// "Error BASE/1110  Argument error: SUBSTR": severity, subsystem/subcode, description,
// then the file name or else the operation.
std::string ERRORMESSAGE(const ErrorObject& e);

// The arguments of a failed operation as the error report shows them: each value's
// text (strings in double quotes, numbers without leading blanks, logicals .T./.F.),
// separated by ", ".
std::string arguments_text(const Array& args);

// ERRORLEVEL([n]): the exit code before the call; n sets it.
int ERRORLEVEL();
int ERRORLEVEL(int code);

// ALERT(xMessage, [aOptions], [cColor], [nDelay]): shows the message with its options
// and returns the number of the chosen option, 0 when the box closed without a choice;
// NIL with no arguments or under //NOALERT.
Value ALERT();
Value ALERT(const Value& message, const Value& options = {}, const Value& color = {},
            const Value& delay = {});

// The ALERT colours of a cColor argument: the box and the highlighted option.
struct AlertColors {
  std::string box;
  std::string highlight;
};
AlertColors alert_colors(const Value& color);

}  // namespace lum
