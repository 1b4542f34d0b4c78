// lumgen: writes a sample dataset for one conversion run (text files, staging tables,
// target tables under lum/firma1) into a directory.
//
//   lumgen <dir> [--edge-cases] [--records N] [--lines FILE=N] [--seed S] [--without FILE ...]
//          [--with FILE ...] [--no-localiza] [--no-marca] [--wide-coditem]
//          [--legacy-suppliers] [--no-crlf] [--narrow-receivables]
//
// Without --edge-cases the data looks like a real export; with it, it is the test data
// that carries the edge cases.
#include <cstdio>
#include <exception>
#include <string>

#include "tools/sample/dataset.h"
#include "tools/sample/options.h"

int main(int argc, char** argv) {
  std::string dir;
  lum::sample::DatasetOptions options;
  if (!lum::sample::parse_options(argc, argv, dir, options)) {
    std::fprintf(stderr, "usage: lumgen <dir> [options]\n%s", lum::sample::kOptionsHelp);
    return 2;
  }
  try {
    lum::sample::Dataset(options).write(dir);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "lumgen: %s\n", e.what());
    return 1;
  }
  return 0;
}
