// The run-time frame's start-up switches: arguments that begin with "//" (//NOALERT,
// //DRIVE:<dir>, //HELP), read from the environment variable LUMCONV (several separated
// by blanks) and then from the command line, which wins; plus --help, -h, --version,
// --check (the dry run), --undo [--force] (putting back the files of the last run) and
// --no-undo (a real run without the snapshot that makes it undoable).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lum {

struct Switches {
  bool noalert = false;
  bool help = false;
  bool version = false;
  bool check = false;                  // --check: the whole run on scratch copies, then a report
  bool undo = false;                   // --undo: put back the files of the last run
  bool force = false;                  // --force (with --undo): also files changed since
  bool no_undo = false;                // --no-undo: a real run without a snapshot
  std::optional<std::string> drive;    // the directory a leading "\" names
  std::vector<std::string> arguments;  // everything else, in order
  std::string error;                   // what was not understood; empty when all was
};

// Reads the switches of `env` (the variable's value, may be empty) and then `args` (the
// command line without the program name). Only //-switches are taken from the
// environment; an unknown //-switch is an error that names it. Other command-line
// arguments are collected in `arguments`.
Switches read_switches(std::string_view env, std::span<const std::string> args);

}  // namespace lum
