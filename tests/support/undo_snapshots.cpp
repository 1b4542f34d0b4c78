#include "tests/support/undo_snapshots.h"

#include <stdexcept>
#include <system_error>

#include "platform/host_files.h"
#include "tests/support/temp_dir.h"

namespace lum::test {

namespace fs = std::filesystem;

namespace {

// Gives `to` the modification time of `from`, to the host's own precision, through the
// program's own file layer: the toolchain's std::filesystem for Windows reads and sets
// times to the second only, while the program keeps (and an undo compares) 100 ns.
void copy_time(const fs::path& from, const fs::path& to) {
  FileState state;
  if (host_files().state(from.string(), state) != kOsOk ||
      host_files().set_mtime(to.string(), state.mtime_ns) != kOsOk) {
    throw std::runtime_error("cannot copy the time of " + from.string());
  }
}

}  // namespace

Snapshots snapshots_in(const fs::path& dir) {
  Snapshots s;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir / kUndoFolder, ec)) {
    if (e.is_directory()) ++(fs::exists(e.path() / "manifest.txt") ? s.whole : s.partial);
  }
  return s;
}

std::map<std::string, std::string> files_outside_snapshots(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    const fs::path rel = fs::relative(e.path(), dir);
    if (e.is_regular_file() && *rel.begin() != kUndoFolder) {
      files[rel.generic_string()] = read_file(e.path());
    }
  }
  return files;
}

void copy_tree(const fs::path& from, const fs::path& to) {
  fs::copy(from, to, fs::copy_options::recursive);
  for (const auto& e : fs::recursive_directory_iterator(from)) {
    if (e.is_regular_file()) copy_time(e.path(), to / fs::relative(e.path(), from));
  }
}

}  // namespace lum::test
