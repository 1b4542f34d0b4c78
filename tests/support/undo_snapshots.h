// For the tests of undoing runs: the undo snapshots a run leaves in the folder
// "lumconv-undo" of its working directory, and copies of a directory that keep the
// modification times of its files (which an undo puts back, and checks).
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace lum::test {

inline constexpr const char* kUndoFolder = "lumconv-undo";

// The snapshots below `dir`: those whose manifest is in place, and partial ones (a
// folder without it, left by a run killed while it made its copies).
struct Snapshots {
  int whole = 0, partial = 0;
};
Snapshots snapshots_in(const std::filesystem::path& dir);

// Every regular file below `dir` with its bytes, by generic relative path; the undo
// snapshots aside.
std::map<std::string, std::string> files_outside_snapshots(const std::filesystem::path& dir);

// Copies `from` to `to` (which must not exist), with the modification times of the
// files.
void copy_tree(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace lum::test
