// Worked cases of the functions the conversions use, written once and run against both
// the engine (tests/values, tests/console, tests/app) and the independent oracle
// (tests/tools/expected_test.cpp), so that the two cannot drift apart case by case.
#pragma once

#include <cstdint>
#include <string_view>

namespace lum::test {

using namespace std::string_view_literals;

// CONV_HEX: every half-byte of the argument as an upper-case digit, but the last.
struct ConvHexCase {
  const char* name;
  std::string_view bytes;
  const char* want;
};
inline constexpr ConvHexCase kConvHexCases[] = {
    // The worked examples of the decoder.
    {"12 34 5C", "\x12\x34\x5C"sv, "12345"},
    {"00 12 34 56 7F", "\x00\x12\x34\x56\x7F"sv, "001234567"},
    {"two numbers keep the inner sign", "\x01\x2C\x00\x3D"sv, "012C003"},
    {"one byte gives its high half-byte", "\x7C"sv, "7"},
    {"empty", ""sv, ""},
    {"blanks are not validated", "  "sv, "202"},
    {"postal code", "\x01\x23\x45\x67\x8F"sv, "012345678"},
    // Bytes the import delivers unchanged.
    {"zero bytes", "\x00\x00"sv, "000"},
    {"255", "\xFF\xFF"sv, "FFF"},
    {"upper-case letters", "\xAB\xCD"sv, "ABC"},
    {"end-of-file mark inside", "\x1A\x2C"sv, "1A2"},
    {"lone CR", "\x0D\x1C"sv, "0D1"},
    {"lone LF", "\x0A\x1C"sv, "0A1"},
    {"LF then CR", "\x0A\x0D"sv, "0A0"},
    {"letters", "AB"sv, "414"},
};

// "=" on texts with exact comparison off: true when a begins with b.
struct PrefixEqualsCase {
  const char* a;
  const char* b;
  bool want;
};
inline constexpr PrefixEqualsCase kPrefixEqualsCases[] = {
    {"0000000000000", "00000000000", true},
    {"", "0", false},
    {"ABC", "", true},
    {"AB ", "AB", true},
    {"AB", "AB ", false},
    {"0000000000012", "00000000000", true},
    {"0000000001", "00000000000", false},
};

// VAL: the number at the start of the text, as mantissa / 10^scale; the engine also
// gives the value its display width and decimals and keeps whole numbers as integers.
struct ValCase {
  const char* text;
  std::int64_t mantissa;
  int scale;
  bool is_integer;
  int width;
  int dec;
};
inline constexpr ValCase kValCases[] = {
    {"123.45", 12345, 2, false, 3, 2},
    {"00123", 123, 0, true, 5, 0},
    {"  42", 42, 0, true, 4, 0},
    {"000000001234.56", 123456, 2, false, 10, 2},
    {"12A4", 12, 0, true, 4, 0},
    {"", 0, 0, true, 0, 0},
    {"ABC", 0, 0, true, 3, 0},
    {"-.5", -5, 1, false, 2, 1},
    {"1.2.3", 12, 1, false, 1, 3},
    {"\t\r\n 7", 7, 0, true, 5, 0},
    {"+8", 8, 0, true, 2, 0},
    {"0001234567C12", 1234567, 0, true, 10, 0},  // 13 integer positions: a computed width
};

// STR(v, width) and STRZERO(v, width) of v = mantissa / 10^scale: rounded half away
// from zero, asterisks when the text does not fit.
struct StrCase {
  std::int64_t mantissa;
  int scale;
  int width;
  const char* str;
  const char* strzero;
};
inline constexpr StrCase kStrCases[] = {
    {123, 0, 5, "  123", "00123"}, {123456, 0, 5, "*****", "*****"},
    {-1, 0, 2, "-1", "-1"},        {-10, 0, 2, "**", "**"},
    {96, 1, 3, " 10", "010"},      {5, 1, 3, "  1", "001"},
    {4, 1, 3, "  0", "000"},       {-4, 1, 3, "  0", "000"},
    {7, 0, 6, "     7", "000007"}, {-5, 0, 4, "  -5", "-005"},
    {0, 0, 6, "     0", "000000"}, {1234567, 0, 6, "******", "******"},
    {996, 1, 2, "**", "**"},
};

// CTOD under "dd/mm/yyyy" with the century on; year 0 is the empty date.
struct CtodCase {
  const char* text;
  int y, m, d;
};
inline constexpr CtodCase kCtodCases[] = {
    {"25/12/2014", 2014, 12, 25},
    {"05/13/2014", 0, 0, 0},
    {"00/00/0000", 0, 0, 0},
    {"31/04/2014", 0, 0, 0},
    {"29/02/2012", 2012, 2, 29},
    {"29/02/2013", 0, 0, 0},
    {"1/2/3", 1903, 2, 1},
    {"  /  /    ", 0, 0, 0},
    {"25122014", 0, 0, 0},  // all of it is the day
    {"25/12/14", 1914, 12, 25},
    {"25/12/0014", 1914, 12, 25},  // four digits, still a two-digit year
    {"25/12/2014 10:30", 2014, 12, 25},
    {"/25/12/2014", 2014, 12, 25},
    {"25//12//2014", 2014, 12, 25},
    {"2 5/1 2/2014", 2014, 12, 25},  // a space does not separate fields
    {"25.12.2014", 2014, 12, 25},
    {"", 0, 0, 0},
    {"99999999999999999999/12/2014", 0, 0, 0},
    {"02/02/0202", 202, 2, 2},  // blanks decoded as packed digits
    {"20/20/2020", 0, 0, 0},
};

// The running counter's text under "@E 999,999".
struct CounterCase {
  int value;
  const char* want;
};
inline constexpr CounterCase kCounterCases[] = {
    {1, "      1"},     {999, "    999"},    {1000, "  1.000"},
    {12345, " 12.345"}, {999999, "999.999"}, {1000000, "*******"},
};

}  // namespace lum::test
