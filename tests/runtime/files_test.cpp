// FILE: exact and case-blind names, wildcards, directories that never match, the
// default directory and the search path.
#include <gtest/gtest.h>

#include <filesystem>

#include "runtime/frame/files.h"
#include "runtime/runtime.h"
#include "tests/runtime/frame_fixture.h"

namespace lum {
namespace {

using testing_support::TempDir;
using testing_support::write_file;

TEST(File, NamesWildcardsAndDirectories) {
  Runtime rt;
  TempDir dir;
  write_file("forneced.txt", "x");
  write_file("PAGAR.txt", "x");
  std::filesystem::create_directory("prod.txt");  // a directory with a file's name
  std::filesystem::create_directories("sub/deeper");
  write_file("sub/Clientes.TXT", "x");
  struct Case {
    const char* name;
    bool expected;
  } cases[] = {
      {"forneced.txt", true},
      {"FORNECED.TXT", true},
      {"Forneced.Txt", true},
      {"forneced.tx", false},
      {"receber.txt", false},
      {"prod.txt", false},
      {"PROD.TXT", false},
      {"p*.txt", true},
      {"pr*.txt", false},
      {"?AGAR.TXT", true},
      {"*.*", true},
      {"sub", false},
      {"sub\\clientes.txt", true},
      {"SUB/CLIENTES.TXT", true},
      {"sub\\*.txt", true},
      {"sub\\deeper", false},
      {"sub\\", false},
      {"forneced.txt\\", false},
      {"", false},
      {"sub\\*.dbf", false},
      {"nodir\\forneced.txt", false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, FILE(c.name)) << c.name;
  EXPECT_FALSE(FILE(Value(5)));
  EXPECT_TRUE(FILE(Value("pagar.TXT")));
}

TEST(File, DefaultDirectoryThenSearchPath) {
  Runtime rt;
  TempDir dir;
  std::filesystem::create_directories("a");
  std::filesystem::create_directories("b");
  write_file("b/only.txt", "x");
  write_file("here.txt", "x");
  std::filesystem::create_directory("a/here.txt");
  EXPECT_FALSE(FILE("only.txt"));
  rt.settings().path = "a;b";
  EXPECT_TRUE(FILE("only.txt"));
  EXPECT_TRUE(FILE("ONLY.*"));
  rt.settings().default_dir = "a";
  // In the default directory "here.txt" is a directory: without wildcards that ends the
  // search, with them the search goes on to the path.
  EXPECT_FALSE(FILE("here.txt"));
  rt.settings().path = dir.path().string();
  EXPECT_TRUE(FILE("here.t?t"));
}

}  // namespace
}  // namespace lum
