// Error objects and raising. A failing operation fills an ErrorObject, calls raise()
// and acts on the answer where it stands: the retry (with_retry) sits next to the one
// call that can be retried. Only the installed handler (the run-time frame) decides
// what the operator sees. Engine code never prints and never exits.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "runtime/value.h"

namespace lum {

// Generic codes; each has a fixed description (generic_description).
enum GenCode : int {
  kErrUnknown = 0,
  kErrArgument = 1,
  kErrBound = 2,
  kErrStringOverflow = 3,
  kErrNumericOverflow = 4,
  kErrZeroDivisor = 5,
  kErrNumeric = 6,
  kErrSyntax = 7,
  kErrTooComplex = 8,
  kErrMemoryLow = 11,
  kErrUndefinedFunction = 12,
  kErrNoMethod = 13,
  kErrNoVariable = 14,
  kErrNoAlias = 15,
  kErrNoExportedVariable = 16,
  kErrAliasIllegal = 17,
  kErrAliasInUse = 18,
  kErrCreate = 20,
  kErrOpen = 21,
  kErrClose = 22,
  kErrRead = 23,
  kErrWrite = 24,
  kErrPrint = 25,
  kErrUnsupported = 30,
  kErrLimit = 31,
  kErrCorruption = 32,
  kErrDataType = 33,
  kErrDataWidth = 34,
  kErrNoTable = 35,
  kErrNotIndexed = 36,
  kErrExclusiveRequired = 37,
  kErrLockRequired = 38,
  kErrReadonly = 39,
  kErrAppendLock = 40,
  kErrLock = 41,
};

// The description text of a generic code; "Unknown error" for codes without one.
std::string_view generic_description(int gencode);

// An error that has no sub-code of its own (a key expression this program cannot
// compile, say).
inline constexpr int kNoSubcode = 0;

// Sub-codes of subsystem "BASE": the value functions and operators, whose argument
// errors carry the function's own code, and the look-ups of names and aliases. The
// table commands ("DBCMD") keep theirs in table/dbcmd.h, the table drivers in
// table/driver_subcodes.h.
enum BaseSubcode : int {
  kAliasNotFound = 1002,         // an alias that names no open table (SELECT, alias->)
  kVariableNotFound = 1003,      // a field name not found, or its read or write failed
  kSubscriptArgument = 1068,     // "[]" of a text: not a text and a number
  kExactEqualArgument = 1070,    // "==" of operands that cannot be compared
  kEqualArgument = 1071,         // "="
  kNotEqualArgument = 1072,      // "<>" (also "!=")
  kLessArgument = 1073,          // "<"
  kLessEqualArgument = 1074,     // "<="
  kGreaterArgument = 1075,       // ">"
  kGreaterEqualArgument = 1076,  // ">="
  kPlusArgument = 1081,          // "+" of kinds that do not add
  kMinusArgument = 1082,         // "-" of kinds that do not subtract
  kDivideArgument = 1084,        // "/" of non-numbers
  kModuloArgument = 1085,        // "%" of non-numbers
  kIncrementArgument = 1086,     // "++" of a kind that does not count
  kIntArgument = 1090,           // INT of a non-number
  kValArgument = 1098,           // VAL of a non-text
  kStrArgument = 1099,           // STR's arguments
  kSpaceArgument = 1105,         // SPACE of a non-number
  kAscArgument = 1107,           // ASC of a non-text
  kAtArgument = 1108,            // AT's first two arguments not texts
  kSubstrArgument = 1110,        // SUBSTR's arguments
  kLenArgument = 1111,           // LEN of a kind without a length
  kDtocArgument = 1118,          // DTOC of a non-date
  kCtodArgument = 1119,          // CTOD of a non-text
  kTypeArgument = 1121,          // TYPE of a non-text
  kLeftArgument = 1124,          // LEFT of a non-text
  kConcatOverflow = 1209,        // "+" of texts longer together than a text can be
  kDivideByZero = 1340,          // "/" by zero
  kModuloByZero = 1341,          // "%" by zero
  kSetArgument = 2020,           // SET of a negative decimals or epoch
  kAlltrimArgument = 2022,       // ALLTRIM's arguments
  kStrzeroArgument = 9999,       // STRZERO's arguments
};

// How an error's operating-system code is shown in the error report: "(DOS Error 32)".
std::string dos_error_text(int oscode);
// The same with the code's plain meaning, as the account to the operator and the dry
// run's report give it: "(DOS Error 32: in use by another program)".
std::string dos_error_explained(int oscode);

// Flag values of the flag word.
enum ErrorFlag : int { kCanRetry = 1, kCanSubstitute = 2, kCanDefault = 4 };

struct ErrorObject {
  int severity = 2;
  int gencode = 0;
  std::string subsystem;
  int subcode = 0;
  std::string description;
  std::string operation;
  std::string filename;
  int oscode = 0;
  bool can_retry = false;
  bool can_substitute = false;
  bool can_default = false;
  std::optional<Array> args;
  int tries = 0;
  std::string procname;
  int procline = 0;
  std::string modulename;

  int flags() const {
    return (can_retry ? kCanRetry : 0) | (can_substitute ? kCanSubstitute : 0) |
           (can_default ? kCanDefault : 0);
  }
  void set_flags(int f) {
    can_retry = (f & kCanRetry) != 0;
    can_substitute = (f & kCanSubstitute) != 0;
    can_default = (f & kCanDefault) != 0;
  }
};

// An error with its description filled from the generic code.
ErrorObject make_error(int gencode, std::string subsystem, int subcode, std::string operation = {},
                       int flags = 0);

// An argument error of a value function (generic 1, subsystem "BASE"), which allows
// a substitute value.
ErrorObject argument_error(int subcode, std::string operation, Array args);

// What the raiser is told to do.
struct RaiseAnswer {
  enum class Action { Retry, Default, Break, Substitute };
  Action action = Action::Break;
  Value value;  // the substitute value

  bool retry() const { return action == Action::Retry; }
  bool by_default() const { return action == Action::Default; }
  bool substituted() const { return action == Action::Substitute; }
};

// Raises through the current runtime's handler (Runtime::raise).
RaiseAnswer raise(ErrorObject& error);

// Raises an argument error and returns the handler's substitute value, or NIL when
// the handler supplied none.
Value raise_argument_error(int subcode, std::string operation, Array args);

// One operation that the handler may have repeated: runs `attempt` until it succeeds
// or the answer to its failure is anything but retry, and tells whether it finally
// succeeded. The caller then acts on a failure where it stands (default or break: the
// operation fails there).
//
// `attempt(int& oscode)` returns whether it succeeded; on failure it may set `oscode`
// (0 before every attempt), which goes into the error object before each raise.
// `error` is the error object, or a function that makes it, called at the first
// failure only (for operations that run per record or per field). Either way one
// object serves every attempt, so its TRIES counts the retries. `raiser` raises it:
// `raise` unless the caller has its own (a table driver's, which may keep the error
// quiet or record it).
//
//   ErrorObject e = make_error(kErrOpen, "SDF", kOpenError, "", kCanRetry | kCanDefault);
//   if (!with_retry(e, [&](int& oscode) { return (oscode = f.open(...)) == 0; }))
//     return false;
struct DefaultRaiser {
  RaiseAnswer operator()(ErrorObject& error) const { return raise(error); }
};

template <class Error, class Attempt, class Raiser = DefaultRaiser>
bool with_retry(Error&& error, Attempt&& attempt, Raiser&& raiser = {}) {
  int oscode = 0;
  if (attempt(oscode)) return true;
  auto retry_with = [&](ErrorObject& e) {
    for (;;) {
      e.oscode = oscode;
      if (!raiser(e).retry()) return false;
      oscode = 0;
      if (attempt(oscode)) return true;
    }
  };
  if constexpr (std::is_same_v<std::remove_cvref_t<Error>, ErrorObject>) {
    return retry_with(error);
  } else {
    ErrorObject made = error();
    return retry_with(made);
  }
}

}  // namespace lum
