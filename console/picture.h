// Number pictures: TRANSFORM of a number by a picture of function letters ("@E", "@Z",
// "@(" ...) and a template ("999,999.99"), and DEVOUTPICT, which writes that text at the
// device position. Numbers never raise an error here: what does not fit shows as "*".
#pragma once

#include <string>
#include <string_view>

#include "runtime/value.h"

namespace lum {

// The picture text of a number.
std::string transform_number(const Number& n, std::string_view picture);

// TRANSFORM(x, cPicture). Numbers follow their picture; strings, dates and logicals,
// whose pictures the run never uses, come back as their plain text (a string as it is,
// a date under the date format, a logical as "T"/"F"); other kinds give "".
std::string TRANSFORM(const Value& x, std::string_view picture);

// DEVOUTPICT(x, cPicture, [cColor], [nRow], [nCol]): DEVOUT(TRANSFORM(x, cPicture),
// cColor, nRow, nCol) for strings, numbers, dates and logicals; nothing for other kinds.
// The colour setting is the same afterwards.
void DEVOUTPICT(const Value& x, const Value& picture, const Value& color = {},
                const Value& row = {}, const Value& col = {});

// DEVOUTPICT(n, "@E 999,999"), the running counters' display: the same text and screen
// effect, built straight into a buffer for the counts 0 to 999,999 that a run shows.
void devout_count(const Number& n);

}  // namespace lum
