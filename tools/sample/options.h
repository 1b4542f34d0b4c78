// The command line of the sample generator: a directory and the options that shape the
// dataset. Shared by lumgen and by the test tools that make the same datasets.
#pragma once

#include <string>

#include "tools/sample/dataset.h"

namespace lum::sample {

// The options text printed by a usage message, one option per line.
extern const char* const kOptionsHelp;

// Reads argv[1..argc-1]: one directory and any options of kOptionsHelp. False when an
// argument is not understood or the directory is missing.
bool parse_options(int argc, char** argv, std::string& dir, DatasetOptions& options);

}  // namespace lum::sample
