// A test's own directory: a fresh directory under the tests' temporary directory,
// removed with its content when the object goes.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace lum::test {

// Where tests make their directories: LUM_TEST_TMP when it is set (CTest sets it to one
// directory of the build tree, which a last test checks is left empty), else the
// system's temporary directory.
std::filesystem::path temp_root();

// The bytes of a file; empty when it cannot be read.
std::string read_file(const std::filesystem::path& p);

// Removes a directory with everything in it, also files a test made read-only (which
// Windows will not delete until they are writable again). Never throws.
void remove_tree(const std::filesystem::path& dir);

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

// The directory of a death test, the working directory for the life of the object.
// A death test's child that runs the test again from its start (the "threadsafe"
// style, and every death test on Windows) enters the directory its parent made, named
// in the environment, instead of making one: the child ends inside the statement under
// test, through a path that runs no destructor, and would leave its own behind.
class DeathTestDir {
 public:
  DeathTestDir();
  ~DeathTestDir();
  DeathTestDir(const DeathTestDir&) = delete;
  DeathTestDir& operator=(const DeathTestDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::optional<TempDir> own_;  // in the parent only
  std::filesystem::path path_;
  std::filesystem::path previous_;
};

}  // namespace lum::test
