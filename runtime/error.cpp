#include "runtime/error.h"

#include "platform/file.h"
#include "runtime/runtime.h"

namespace lum {

std::string dos_error_text(int oscode) { return "(DOS Error " + std::to_string(oscode) + ")"; }

std::string dos_error_explained(int oscode) {
  return "(DOS Error " + std::to_string(oscode) + ": " + std::string(os_code_meaning(oscode)) + ")";
}

std::string_view generic_description(int gencode) {
  switch (gencode) {
    case 0: return "Unknown error";
    case 1: return "Argument error";
    case 2: return "Bound error";
    case 3: return "String overflow";
    case 4: return "Numeric overflow";
    case 5: return "Zero divisor";
    case 6: return "Numeric error";
    case 7: return "Syntax error";
    case 8: return "Operation too complex";
    case 11: return "Memory low";
    case 12: return "Undefined function";
    case 13: return "No exported method";
    case 14: return "Variable does not exist";
    case 15: return "Alias does not exist";
    case 16: return "No exported variable";
    case 17: return "Illegal characters in alias";
    case 18: return "Alias already in use";
    case 20: return "Create error";
    case 21: return "Open error";
    case 22: return "Close error";
    case 23: return "Read error";
    case 24: return "Write error";
    case 25: return "Print error";
    case 30: return "Operation not supported";
    case 31: return "Limit exceeded";
    case 32: return "Corruption detected";
    case 33: return "Data type error";
    case 34: return "Data width error";
    case 35: return "Workarea not in use";
    case 36: return "Workarea not indexed";
    case 37: return "Exclusive required";
    case 38: return "Lock required";
    case 39: return "Write not allowed";
    case 40: return "Append lock failed";
    case 41: return "Lock Failure";
    default: return "Unknown error";
  }
}

ErrorObject make_error(int gencode, std::string subsystem, int subcode, std::string operation,
                       int flags) {
  ErrorObject e;
  e.gencode = gencode;
  e.subsystem = std::move(subsystem);
  e.subcode = subcode;
  e.description = std::string(generic_description(gencode));
  e.operation = std::move(operation);
  e.set_flags(flags);
  return e;
}

ErrorObject argument_error(int subcode, std::string operation, Array args) {
  ErrorObject e = make_error(kErrArgument, "BASE", subcode, std::move(operation), kCanSubstitute);
  e.args = std::move(args);
  return e;
}

RaiseAnswer raise(ErrorObject& error) { return Runtime::current().raise(error); }

Value raise_argument_error(int subcode, std::string operation, Array args) {
  ErrorObject e = argument_error(subcode, std::move(operation), std::move(args));
  RaiseAnswer a = raise(e);
  if (a.substituted()) return std::move(a.value);
  return Value();
}

}  // namespace lum
