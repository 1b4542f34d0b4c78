#include "tools/sample/options.h"

#include <array>
#include <cstdlib>
#include <string_view>

namespace lum::sample {

const char* const kOptionsHelp =
    "  By default the data looks like a real export (valid taxpayer numbers, dates in\n"
    "  order, postal and area codes of the city), without forneced.txt, the supplier\n"
    "  table holding the old system's codes for the payables to find.\n"
    "  --edge-cases         the test data instead: the edge cases the conversions must\n"
    "                       get right among random lines, all six text files\n"
    "  --records N          lines in every text file (default 20)\n"
    "  --lines FILE=N       lines in one text file, e.g. --lines SALDO.txt=500\n"
    "  --seed S             seed of the generator (default 1)\n"
    "  --without FILE       do not write that text file (e.g. receber.txt); repeatable\n"
    "  --with FILE          write that text file after all (e.g. forneced.txt)\n"
    "  --no-localiza        item table without LOCALIZA\n"
    "  --no-marca           item table without MARCA\n"
    "  --wide-coditem       CODITEM 14 wide instead of 5\n"
    "  --legacy-suppliers   supplier table starts with legacy codes in OBS_FOR\n"
    "  --no-crlf            no client line with CR LF inside its packed bytes\n"
    "  --narrow-receivables receivables VALOR 8 wide, too narrow for the larger amounts\n";

namespace {

bool number(std::string_view text, unsigned long long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  std::string s(text);
  out = std::strtoull(s.c_str(), &end, 10);
  return end != nullptr && *end == '\0';
}

}  // namespace

bool parse_options(int argc, char** argv, std::string& dir, DatasetOptions& options) {
  options = DatasetOptions::with_lines(20);
  dir.clear();
  bool edge_cases = false, legacy = false;
  std::array<int, kTextSetCount> chosen{};  // +1 --with, -1 --without, 0 the default
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    auto value = [&](std::string_view& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string_view v;
    unsigned long long n = 0;
    if (a == "--records") {
      if (!value(v) || !number(v, n)) return false;
      options.lines.fill(static_cast<std::size_t>(n));
    } else if (a == "--lines") {
      if (!value(v)) return false;
      std::size_t eq = v.find('=');
      TextSet set;
      if (eq == std::string_view::npos || !Dataset::text_set_by_name(v.substr(0, eq), set) ||
          !number(v.substr(eq + 1), n)) {
        return false;
      }
      options.lines[static_cast<int>(set)] = static_cast<std::size_t>(n);
    } else if (a == "--seed") {
      if (!value(v) || !number(v, n)) return false;
      options.seed = n;
    } else if (a == "--without" || a == "--with") {
      TextSet set;
      if (!value(v) || !Dataset::text_set_by_name(v, set)) return false;
      chosen[static_cast<int>(set)] = a == "--with" ? 1 : -1;
    } else if (a == "--edge-cases") {
      edge_cases = true;
    } else if (a == "--no-localiza") {
      options.item_localiza = false;
    } else if (a == "--no-marca") {
      options.item_marca = false;
    } else if (a == "--wide-coditem") {
      options.wide_coditem = true;
    } else if (a == "--legacy-suppliers") {
      legacy = true;
    } else if (a == "--no-crlf") {
      options.crlf_split = false;
    } else if (a == "--narrow-receivables") {
      options.narrow_receivable_amounts = true;
    } else if (!a.empty() && a[0] != '-' && dir.empty()) {
      dir = std::string(a);
    } else {
      return false;
    }
  }
  // Realistic data finds its suppliers by their old codes: no supplier export, whose
  // conversion would leave OBS_FOR blank, and the codes in the supplier table.
  options.edge_cases = edge_cases;
  options.legacy_suppliers = legacy || !edge_cases;
  options.write_text[static_cast<int>(TextSet::kSuppliers)] = edge_cases;
  for (int k = 0; k < kTextSetCount; ++k) {
    if (chosen[k] != 0) options.write_text[k] = chosen[k] > 0;
  }
  return !dir.empty();
}

}  // namespace lum::sample
