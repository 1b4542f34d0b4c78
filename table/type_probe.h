// TYPE: the kind letter of what a text names, found without letting any error reach
// the handler. A bare name is looked up as a program statement would: a field of the
// current area first, then a memory variable. The run-time has no general expression
// compiler, so texts other than names and literals answer "UE".
#pragma once

#include "runtime/value.h"

namespace lum {

// TYPE(cText [, nFlags]): "C", "N", "D", "L", "M" for a field (whatever record is
// current, also at end of file), the kind letter of a memory variable's value, "U" for
// a name that names nothing, "UE" for a field whose read fails or a text that is not a
// name, alias->name, literal or code block. A non-string cText raises argument error
// 1121 ("TYPE") and returns the handler's substitute. nFlags is accepted and unused:
// it steers a compiler that this run-time does not have.
Value TYPE(const Value& text);
Value TYPE(const Value& text, const Value& flags);

}  // namespace lum
