// Dates as Julian day numbers (2000-01-01 is 2451545, 0 the empty date), the date
// format, epoch and century settings, and the functions that read and write them:
// CTOD, DTOC, SET and __SETCENTURY.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/value.h"

namespace lum {

// The day number of (y, m, d) in the proleptic Gregorian calendar, or 0 when the
// triple is not a valid date of the years 0 to 9999.
std::int32_t date_encode(int y, int m, int d);
// The year, month and day of a day number; all 0 for the empty date (and any day
// number before year 0).
void date_decode(std::int32_t day, int& y, int& m, int& d);

// The day number that a text reads as under the current date format and epoch; 0 when
// it is no valid date. Never fails.
std::int32_t ctod_day(std::string_view text);
// CTOD(c). Argument error 1119 ("CTOD") for a non-string.
Value CTOD(const Value& c);

// The text of a day number under the current date format (blanks for the empty date);
// as long as the format (at most 10 characters).
std::string dtoc_text(std::int32_t day);
// DTOC(d). Argument error 1118 ("DTOC") for a non-date.
Value DTOC(const Value& d);

// SET(n) returns setting n: 1 exact (logical), 2 fixed (logical), 3 decimals
// (number), 4 date format (string), 5 epoch (number); NIL for other numbers.
// SET(n, x) returns the previous value and then stores x when its kind fits (NIL for
// the format gives ""). A new date format recomputes the century flag. A negative
// decimals or epoch raises argument error 2020 ("SET") and leaves the setting.
Value SET(int n);
Value SET(int n, const Value& x);

// cmd::SETCENTURY([x]) returns the century setting on entry; a logical, or a string
// beginning with "ON" / "OFF" (any case), sets it, rewriting the year of the date
// format to two or four letters. Anything else changes nothing. Never fails.
namespace cmd {
Value SETCENTURY();
Value SETCENTURY(const Value& x);
}  // namespace cmd

}  // namespace lum
