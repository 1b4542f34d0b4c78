#include "tests/support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <string>
#include <system_error>

namespace lum::test {

TempDir::TempDir(bool enter) {
  static std::atomic<int> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (;;) {
    path_ = std::filesystem::temp_directory_path() /
            ("lumtest-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    if (std::filesystem::create_directory(path_)) break;
  }
  if (enter) {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
    entered_ = true;
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  if (entered_) std::filesystem::current_path(previous_, ec);
  std::filesystem::remove_all(path_, ec);
}

}  // namespace lum::test
