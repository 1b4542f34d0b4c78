// Small helpers of byte text, the one home of each for the whole program: the letter
// case of names (files, aliases, fields, commands match without regard to the case of
// the ASCII letters A to Z; every other byte stands for itself, whatever the code page),
// blanks, and counted words for the operator ("1 record", "3 records").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lum {

constexpr char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
constexpr char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

inline std::string ascii_upper(std::string s) {
  for (char& c : s) c = ascii_upper(c);
  return s;
}
inline std::string ascii_lower(std::string s) {
  for (char& c : s) c = ascii_lower(c);
  return s;
}
inline std::string ascii_upper(std::string_view s) { return ascii_upper(std::string(s)); }
inline std::string ascii_lower(std::string_view s) { return ascii_lower(std::string(s)); }
inline std::string ascii_upper(const char* s) { return ascii_upper(std::string(s)); }
inline std::string ascii_lower(const char* s) { return ascii_lower(std::string(s)); }

// True when a and b are the same but for the case of ASCII letters.
constexpr bool equal_case_blind(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ascii_upper(a[i]) != ascii_upper(b[i])) return false;
  }
  return true;
}

// s without its leading and trailing blanks (spaces only).
constexpr std::string_view trim_blanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}
// s without its trailing blanks.
constexpr std::string_view trim_trailing_blanks(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// "1 record", "3 records": n with the word for one or for many.
inline std::string plural(std::uint64_t n, std::string_view one, std::string_view many) {
  return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

}  // namespace lum
