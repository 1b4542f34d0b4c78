#include "tests/support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace lum::test {
namespace {

// Names the parent's directory to the child processes of its death tests.
constexpr const char* kDeathTestDir = "LUM_DEATH_TEST_DIR";

void set_env(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());  // "" removes the variable
#else
  if (value.empty()) {
    unsetenv(name);
  } else {
    setenv(name, value.c_str(), 1);
  }
#endif
}

}  // namespace

std::filesystem::path temp_root() {
  const char* root = std::getenv("LUM_TEST_TMP");
  if (root != nullptr && *root != '\0') return root;
  return std::filesystem::temp_directory_path();
}

std::string read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void remove_tree(const std::filesystem::path& dir) {
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  if (!ec) return;
  for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code ignored;
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::remove_all(dir, ec);
}

TempDir::TempDir(bool enter) {
  static std::atomic<int> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  const std::filesystem::path root = temp_root();
  for (;;) {
    path_ = root / ("lumtest-" + std::to_string(stamp) + "-" + std::to_string(counter++));
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
  remove_tree(path_);
}

DeathTestDir::DeathTestDir() {
  const char* parents = std::getenv(kDeathTestDir);
  if (parents != nullptr && *parents != '\0') {
    path_ = parents;
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
    return;
  }
  own_.emplace(true);
  path_ = own_->path();
  set_env(kDeathTestDir, path_.string());
}

DeathTestDir::~DeathTestDir() {
  std::error_code ec;
  if (own_) {
    set_env(kDeathTestDir, "");
  } else {
    std::filesystem::current_path(previous_, ec);
  }
}

}  // namespace lum::test
