// FILE: exact and case-blind names, wildcards, directories that never match, the
// default directory and the search path.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "runtime/runtime.h"
#include "table/dbcmd.h"
#include "table/files.h"
#include "table/names.h"
#include "tests/support/temp_dir.h"
#include "tools/sample/dbf_builder.h"

namespace lum {
namespace {

void write_file(const std::filesystem::path& p, std::string_view text) {
  std::ofstream(p, std::ios::binary) << text;
}

TEST(File, NamesWildcardsAndDirectories) {
  Runtime rt;
  test::TempDir dir(true);
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
  test::TempDir dir(true);
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

TEST(SearchCandidates, DefaultDirectoryThenEachPathEntry) {
  Runtime rt;
  struct Case {
    const char* default_dir;
    const char* path;
    const char* name;
    std::vector<std::string> want;
  } cases[] = {
      {"", "", "t.dbf", {"t.dbf"}},
      {"d", "", "t.dbf", {"d\\t.dbf"}},
      {"d\\", " a ; ,b/,c:", "t.dbf", {"d\\t.dbf", "a\\t.dbf", "b/t.dbf", "c:t.dbf"}},
      {"d", "a;b", "x\\t.dbf", {"x\\t.dbf"}},
      {"d", "a;b", "c:t.dbf", {"c:t.dbf"}},
  };
  for (const Case& c : cases) {
    rt.settings().default_dir = c.default_dir;
    rt.settings().path = c.path;
    EXPECT_EQ(c.want, search_candidates(c.name)) << c.path;
  }
}

// FILE and the table open find a bare name in the same place.
TEST(SearchCandidates, FileAndTableOpenAgree) {
  Runtime rt;
  test::TempDir dir(true);
  std::filesystem::create_directories("first");
  std::filesystem::create_directories("second");
  sample::DbfLayout shape;
  shape.fields = {sample::FieldLayout{"NAME", 'C', 4, 0, 0}};
  sample::write_dbf("second/Only.dbf", shape, {sample::RecordRow{{"two"}, false}});
  rt.settings().path = " first , second ";  // blanks around the entries are dropped
  EXPECT_TRUE(FILE("ONLY.DBF"));
  ASSERT_TRUE(DBUSEAREA(true, {}, "only"));
  EXPECT_EQ("two ", field_get("NAME").str());
  DBCLOSEAREA();
  rt.settings().path = "nowhere";
  EXPECT_FALSE(FILE("ONLY.DBF"));
}

}  // namespace
}  // namespace lum
