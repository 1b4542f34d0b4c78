// The string functions of the run and the one string comparison routine behind
// every string operator. Positions count from 1; out-of-range starts and counts give
// "" or the whole string rather than errors. Bytes are never translated.
#pragma once

#include <string_view>

#include "runtime/value.h"

namespace lum {

// ALLTRIM(c [, lAllWhite]): trailing spaces (with lAllWhite true: spaces, tabs, LF,
// CR) and leading spaces, tabs, LF, CR removed. Argument error 2022 ("ALLTRIM").
Value ALLTRIM(const Value& c);
Value ALLTRIM(const Value& c, const Value& all_white);

// SUBSTR(c, nStart [, nCount]): negative starts count from the end, 0 is 1; a
// present count must be a number (also not NIL). Argument error 1110 ("SUBSTR").
Value SUBSTR(const Value& c, const Value& start);
Value SUBSTR(const Value& c, const Value& start, const Value& count);

// LEFT/RIGHT with a count written in the program: the first/last n bytes, the whole
// string when n >= its length. A non-string: LEFT raises 1124 ("LEFT") with the
// operand and the count as arguments; RIGHT gives "" without error.
Value LEFT(const Value& c, int n);
Value RIGHT(const Value& c, int n);

// AT(cSearch, cTarget [, nStart [, nEnd]]): 1-based position of the first match
// inside target bytes start..end, 0 when none (an empty search is never found). A
// 32-bit integer of width 10. Argument error 1108 ("AT") with the first two arguments.
Value AT(const Value& search, const Value& target);
Value AT(const Value& search, const Value& target, const Value& start);
Value AT(const Value& search, const Value& target, const Value& start, const Value& end);

// LEN(x): bytes of a string, elements of an array. Argument error 1111 ("LEN").
Value LEN(const Value& x);
// SPACE(n): n spaces, "" for n <= 0. Argument error 1105 ("SPACE").
Value SPACE(const Value& n);
// ASC(c): the first byte 0..255, 0 for "". Argument error 1107 ("ASC").
Value ASC(const Value& c);
// VALTYPE(x): the kind letter ("U", "L", "C", "N", "D", "A"). Never fails.
Value VALTYPE(const Value& x);
// The kind letter as a character (the same letters as VALTYPE).
char kind_letter(const Value& x);

// c1 + c2 on strings. A result beyond the 32-bit size raises generic 3 ("String
// overflow"), subcode 1209, operation "+". REQUIRES: both are strings (add() in
// numeric.h dispatches by kind and raises 1081 otherwise).
Value concat(const Value& a, const Value& b);
// The same, appending to a's own text (a chain of + builds one text).
Value concat(Value&& a, const Value& b);

// c[n]: a one-byte string; n = 0 is byte 1, negative n counts from the end (beyond
// -L: byte 1), beyond the length "", the empty string with n = -1 is NIL. A
// non-string or non-numeric index raises argument error 1068 ("[]").
Value index_char(const Value& c, const Value& n);

// The one string comparison: -1, 0 or 1 comparing a with b as unsigned bytes. Not
// exact: a longer left operand equal over the right's length compares equal (the
// "=" prefix rule), and with the exact-comparison setting on, trailing spaces of the
// longer operand are dropped first and the comparison is exact. Exact ("=="): length
// and bytes, the setting plays no part.
int string_compare(std::string_view a, std::string_view b, bool exact);

}  // namespace lum
