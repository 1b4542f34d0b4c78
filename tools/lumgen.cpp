// lumgen: writes a sample dataset for one conversion run (text files, staging tables,
// target tables under lum/firma1) into a directory, and can print what the run must
// print and count on it.
//
//   lumgen <dir> [--records N] [--lines FILE=N] [--seed S] [--without FILE ...]
//          [--no-localiza] [--no-marca] [--wide-coditem] [--legacy-suppliers]
//          [--no-crlf] [--expect]
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "tests/support/dataset.h"
#include "tests/support/expected.h"

namespace {

using lum::test::Counter;
using lum::test::Dataset;
using lum::test::DatasetOptions;
using lum::test::Expected;
using lum::test::Target;
using lum::test::TextSet;

int usage() {
  std::fputs(
      "usage: lumgen <dir> [options]\n"
      "  --records N          lines in every text file (default 20)\n"
      "  --lines FILE=N       lines in one text file, e.g. --lines SALDO.txt=500\n"
      "  --seed S             seed of the generator (default 1)\n"
      "  --without FILE       do not write that text file (e.g. receber.txt); repeatable\n"
      "  --no-localiza        item table without LOCALIZA\n"
      "  --no-marca           item table without MARCA\n"
      "  --wide-coditem       CODITEM 14 wide instead of 5\n"
      "  --legacy-suppliers   supplier table starts with legacy codes in OBS_FOR\n"
      "  --no-crlf            no client line with CR LF inside its packed bytes\n"
      "  --expect             print the console lines, counters and record counts the\n"
      "                       run must produce on this dataset\n",
      stderr);
  return 2;
}

bool number(std::string_view text, unsigned long long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  std::string s(text);
  out = std::strtoull(s.c_str(), &end, 10);
  return end != nullptr && *end == '\0';
}

void print_expectations(const Dataset& ds) {
  Expected ex(ds);
  static const char* const kTargets[] = {"clientes", "item", "FORNECED", "lurbmov", "LUPGMOV"};
  std::printf("targets\n");
  for (int t = 0; t < lum::test::kTargetCount; ++t) {
    Target target = static_cast<Target>(t);
    std::printf("  %-9s %-10s %zu records\n", kTargets[t],
                ex.rewritten(target) ? "rewritten" : "untouched", ex.record_count(target));
  }
  static const char* const kCounters[] = {"Produtos", "Saldos",  "Fornecedores",
                                          "Clientes", "Receber", "Pagar"};
  std::printf("counters\n");
  for (int c = 0; c < lum::test::kCounterCount; ++c) {
    auto v = ex.counter(static_cast<Counter>(c));
    if (v) {
      std::printf("  %-13s %s\n", kCounters[c], Expected::counter_text(*v).c_str());
    } else {
      std::printf("  %-13s (not shown)\n", kCounters[c]);
    }
  }
  std::printf("console lines\n");
  ex.for_each_console_line([](std::string_view line) {
    std::printf("  %.*s\n", static_cast<int>(line.size()), line.data());
  });
  if (auto f = ex.failing_import()) {
    std::printf("the run fails at the import of %s (exit code %d)\n", Dataset::text_file_name(*f),
                ex.exit_code());
  } else {
    std::printf("exit code %d\n", ex.exit_code());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::string dir;
  DatasetOptions options = DatasetOptions::with_lines(20);
  bool expect = false;
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
      if (!value(v) || !number(v, n)) return usage();
      options.lines.fill(static_cast<std::size_t>(n));
    } else if (a == "--lines") {
      if (!value(v)) return usage();
      std::size_t eq = v.find('=');
      TextSet set;
      if (eq == std::string_view::npos || !Dataset::text_set_by_name(v.substr(0, eq), set) ||
          !number(v.substr(eq + 1), n)) {
        return usage();
      }
      options.lines[static_cast<int>(set)] = static_cast<std::size_t>(n);
    } else if (a == "--seed") {
      if (!value(v) || !number(v, n)) return usage();
      options.seed = n;
    } else if (a == "--without") {
      TextSet set;
      if (!value(v) || !Dataset::text_set_by_name(v, set)) return usage();
      options.write_text[static_cast<int>(set)] = false;
    } else if (a == "--no-localiza") {
      options.item_localiza = false;
    } else if (a == "--no-marca") {
      options.item_marca = false;
    } else if (a == "--wide-coditem") {
      options.wide_coditem = true;
    } else if (a == "--legacy-suppliers") {
      options.legacy_suppliers = true;
    } else if (a == "--no-crlf") {
      options.crlf_split = false;
    } else if (a == "--expect") {
      expect = true;
    } else if (!a.empty() && a[0] != '-' && dir.empty()) {
      dir = std::string(a);
    } else {
      return usage();
    }
  }
  if (dir.empty()) return usage();
  try {
    Dataset ds(options);
    ds.write(dir);
    if (expect) print_expectations(ds);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "lumgen: %s\n", e.what());
    return 1;
  }
  return 0;
}
