#include "tests/support/undo_snapshots.h"

#include <system_error>

namespace lum::test {

namespace fs = std::filesystem;

Snapshots snapshots_in(const fs::path& dir) {
  Snapshots s;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir / kUndoFolder, ec)) {
    if (e.is_directory()) ++(fs::exists(e.path() / "manifest.txt") ? s.whole : s.partial);
  }
  return s;
}

void copy_tree(const fs::path& from, const fs::path& to) {
  fs::copy(from, to, fs::copy_options::recursive);
  for (const auto& e : fs::recursive_directory_iterator(from)) {
    if (e.is_regular_file()) {
      fs::last_write_time(to / fs::relative(e.path(), from), e.last_write_time());
    }
  }
}

}  // namespace lum::test
