// A test's own directory: a fresh directory under the system's temporary directory,
// removed with its content when the object goes.
#pragma once

#include <filesystem>
#include <string_view>

namespace lum::test {

// The working directory is moved into it meanwhile when asked.
class TempDir {
 public:
  explicit TempDir(bool enter = false);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
  std::filesystem::path previous_;
  bool entered_ = false;
};

}  // namespace lum::test
