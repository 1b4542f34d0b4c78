// The number functions and operators of the run: STR, STRZERO, VAL, INT, the
// arithmetic operators with their width and decimals rules, and the comparison
// operators for every kind. Wrong argument kinds raise argument errors (subsystem
// "BASE") whose substitute value, when the handler gives one, is the result.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/value.h"

namespace lum {

// STR(n [, nWidth [, nDec [, lTrim]]]). Argument error 1099 ("STR") when n is not a
// number, or (with two or three arguments) a width/decimals argument is not a
// number, or a fourth argument is not a logical; with four arguments a non-numeric
// width/decimals counts as absent. Width and decimals arguments are cut to 65535.
Value STR(const Value& n);
Value STR(const Value& n, const Value& width);
Value STR(const Value& n, const Value& width, const Value& dec);
Value STR(const Value& n, const Value& width, const Value& dec, const Value& trim);

// STRZERO(n [, nWidth [, nDec]]): STR's text with leading spaces made "0" and the
// sign, if any, moved to the front. Argument error 9999 ("STRZERO").
Value STRZERO(const Value& n);
Value STRZERO(const Value& n, const Value& width);
Value STRZERO(const Value& n, const Value& width, const Value& dec);

// VAL(c): reads a number from the start of the text, with width and decimals taken
// from the text ("00123" is 123 of width 5). Argument error 1098 ("VAL").
Value VAL(const Value& c);
// VAL of a text, without the Value wrapping; never fails (fast path for fields).
Number val_number(std::string_view text);

// INT(n): integers unchanged; a double truncated toward zero (after a one-ulp nudge
// up, so 2.9999999999999996 gives 3), keeping the width, 0 decimals.
// Argument error 1090 ("INT").
Value INT(const Value& n);

// A double with the width of a computed result (10, or 20 above 9,999,999,999 or
// below -999,999,999) and the given decimals.
Value computed_double(double v, int dec);

// Binary "+": numbers (integers exact, 64-bit then double on overflow; doubles with
// the larger decimals), strings (concatenation, string overflow 1209), date + number
// and number + date (a date). Other kinds: argument error 1081 ("+").
Value add(const Value& a, const Value& b);
// Binary "-": numbers as "+"; date - number (a date); date - date (day count).
// Other kinds: argument error 1082 ("-").
Value subtract(const Value& a, const Value& b);
// "/": always a double with the decimals setting as decimals. Zero divisor: generic
// code 5, subcode 1340, operation "/"; wrong kinds: argument error 1084 ("/").
Value divide(const Value& a, const Value& b);
// "%": integer remainder (sign of the dividend) on integers, else the floating
// remainder. Zero divisor: generic 5, subcode 1341, "%"; wrong kinds: 1085 ("%").
Value modulo(const Value& a, const Value& b);
// "++" in place (the counters' A := A + 1): 32-bit stays 32-bit (width 10, 20 only
// below -999,999,999), 64-bit grows by one, a double grows by 1.0 keeping its
// decimals, a date moves one day. Other kinds: argument error 1086 ("++"), whose
// substitute, if any, becomes the new value.
void increment(Value& v);
// Adds a small constant (POS + 1, POS - 1): integers stay integers (64-bit, then
// double on overflow), doubles keep width and decimals, dates move by days. Other
// kinds: argument error 1081 ("+") with the constant as second argument.
Value add_constant(const Value& v, int k);

// Comparisons. Numbers by value (64-bit when both are integers, else doubles),
// strings by string_compare (strings.h), dates by day number (also against numbers),
// logicals by truth (true is greater), a one-byte string against a number by its
// byte value. For "=" and "!=" a NIL operand is no error: NIL equals only NIL.
// Incomparable kinds raise argument errors: "=" 1071, "==" 1070, "!=" 1072 (operation
// "<>"), "<" 1073, "<=" 1074, ">" 1075, ">=" 1076; a logical substitute is the
// answer, anything else counts as false.
bool compare_eq(const Value& a, const Value& b);     // =   (prefix rule on strings)
bool compare_exact(const Value& a, const Value& b);  // ==
bool compare_ne(const Value& a, const Value& b);     // !=, <>, #
bool compare_lt(const Value& a, const Value& b);
bool compare_le(const Value& a, const Value& b);
bool compare_gt(const Value& a, const Value& b);
bool compare_ge(const Value& a, const Value& b);

}  // namespace lum
