// lumexpect: writes a sample dataset as lumgen does and prints, from the independent
// oracle, what the run must show and count on it: each target rewritten or untouched
// with its record count, the counters, the console lines and the exit code.
//
//   lumexpect <dir> [lumgen options]
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

#include "platform/terminal.h"
#include "tests/support/expected.h"
#include "tools/sample/dataset.h"
#include "tools/sample/options.h"

namespace {

using lum::sample::Dataset;
using lum::sample::Target;
using lum::test::Counter;
using lum::test::Expected;

void print_expectations(const Dataset& ds) {
  Expected ex(ds);
  static const char* const kTargets[] = {"clientes", "item", "FORNECED", "lurbmov", "LUPGMOV"};
  std::printf("targets\n");
  for (int t = 0; t < lum::sample::kTargetCount; ++t) {
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
  lum::prepare_standard_streams();
  std::string dir;
  lum::sample::DatasetOptions options;
  if (!lum::sample::parse_options(argc, argv, dir, options)) {
    std::fprintf(stderr, "usage: lumexpect <dir> [options]\n%s", lum::sample::kOptionsHelp);
    return 2;
  }
  try {
    Dataset ds(options);
    ds.write(dir);
    print_expectations(ds);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "lumexpect: %s\n", e.what());
    return 1;
  }
  return 0;
}
