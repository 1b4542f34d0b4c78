// The error log: its labels and sections in order, the screen dump, the file-name
// fallback, and the append mode that puts the newest entry first.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "console/output.h"
#include "frame/error_log.h"
#include "frame/frame_state.h"
#include "platform/host.h"
#include "runtime/runtime.h"
#include "table/dbcmd.h"
#include "tests/frame/frame_fixture.h"

namespace lum {
namespace {

using testing_support::read_file;
using ErrorLog = testing_support::FrameTest;

// The lines of a text.
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

// Index of the first line that starts with `prefix` at or after `from`; fails the test
// when there is none.
size_t find_line(const std::vector<std::string>& lines, std::string_view prefix, size_t from) {
  for (size_t i = from; i < lines.size(); ++i) {
    if (lines[i].starts_with(prefix)) return i;
  }
  ADD_FAILURE() << "no line starting with \"" << prefix << "\"";
  return lines.size();
}

ErrorObject sample_error() {
  ErrorObject e = argument_error(1110, "SUBSTR", {Value("abc"), Value(9)});
  e.filename = "cbCli.dbf";
  e.oscode = 2;
  e.can_default = true;
  e.procname = "CONV_HEX";
  e.procline = 31;
  e.modulename = "packed.cpp";
  return e;
}

TEST_F(ErrorLog, LabelsAndSectionsInOrder) {
  frame_state().program_path = "/opt/lumconv";
  frame_state().version = "1.0.0";
  DEVOUT("Qo Softwares 00-0000-0000", Value(), 2, 15);
  FrameGuard main("MAIN", "main_run.cpp", 20);
  FrameGuard conv("CVCLI", "cvcli.cpp", 55);
  FrameGuard hex("CONV_HEX", "packed.cpp", 31);
  std::vector<std::string> l = lines_of(error_log_entry(sample_error()));
  ASSERT_GT(l.size(), 40u);
  EXPECT_EQ(std::string(29, '-') + " Morvelan Error Log " + std::string(30, '-'), l[0]);
  EXPECT_EQ(79u, l[0].size());
  const std::string in_order[] = {
      "Date...............: ",
      "Time...............: ",
      "Application name...: /opt/lumconv",
      "Workstation name...: ",
      "Available memory...: ",
      "Current disk.......: " + current_disk(),
      "Current directory..: ",
      "Free disk space....: ",
      "Operating system...: ",
      "Morvelan version...: 1.0.0",
      "Morvelan built on..: ",
      "C/C++ compiler.....: ",
      "Multi Threading....: NO",
      "VM Optimization....: ",
      "-----",
      "SET EXACT..........: .F.",
      "SET DECIMALS.......: 2",
      "SET DATEFORMAT.....: \"mm/dd/yy\"",
      "SET EPOCH..........: 1900",
      "SET EXCLUSIVE......: .T.",
      "SET EOL............: CHR(13)+CHR(10)",
      "SET DEFEXTENSIONS..: .T.",
      "SET DEFAULT........: \"\"",
      "SET DEVICE.........: \"SCREEN\"",
      "SET ERRORLOG.......: \"error.log\", .F.",
      "-----",
      "-----",
      "Subsystem Call ....: BASE",
      "System Code .......: 1110",
      "Default Status ....: .T.",
      "Description .......: Argument error",
      "Operation .........: SUBSTR",
      "Arguments .........: \"abc\", 9",
      "Involved File .....: cbCli.dbf",
      "Dos Error Code ....: 2",
      " Trace Through:",
      " CONV_HEX(31) in Module: packed.cpp",
      " CVCLI(55) in Module: cvcli.cpp",
      " MAIN(20) in Module: main_run.cpp",
      "-----",
      "+" + std::string(80, '-') + "+",
  };
  size_t at = 0;
  for (const std::string& prefix : in_order) at = find_line(l, prefix, at) + 1;
  EXPECT_NE(std::string::npos, l[find_line(l, "-----", 14)].find(" Environmental Information "));
  for (const char* section : {" Internal Error Handling Information  ", " Video Screen Dump ",
                              "Detailed Work Area Items"}) {
    auto it = std::find_if(l.begin(), l.end(), [&](const std::string& line) {
      return line.find(section) != std::string::npos;
    });
    ASSERT_NE(l.end(), it) << section;
    EXPECT_EQ(79u, it->size()) << section;
  }
  size_t dump = find_line(l, "+---", 0);
  ASSERT_LT(dump + 26, l.size());
  EXPECT_EQ("|" + std::string(15, ' ') + "Qo Softwares 00-0000-0000" + std::string(40, ' ') + "|",
            l[dump + 3]);
  EXPECT_EQ(l[dump], l[dump + 26]);
}

TEST_F(ErrorLog, NoScreenNoDump) {
  Runtime bare;  // no console was ever used
  std::string entry = error_log_entry(sample_error());
  EXPECT_NE(std::string::npos, entry.find("\n Video Screen Dump not available\n"));
  EXPECT_EQ(std::string::npos, entry.find("Current Area"));
}

TEST_F(ErrorLog, CreatedAnewWithoutAppend) {
  testing_support::write_file("error.log", "old entry\n");
  ASSERT_TRUE(write_error_log(sample_error()));
  std::string log = read_file("error.log");
  EXPECT_TRUE(log.starts_with(std::string(29, '-') + " Morvelan Error Log "));
  EXPECT_EQ(std::string::npos, log.find("old entry"));
}

TEST_F(ErrorLog, AppendPutsTheNewestEntryFirst) {
  rt_.settings().errorlog_append = true;
  ErrorObject first = sample_error();
  first.operation = "ONE";
  ErrorObject second = sample_error();
  second.operation = "TWO";
  ASSERT_TRUE(write_error_log(first));  // no old log yet
  std::string one = read_file("error.log");
  ASSERT_TRUE(write_error_log(second));
  std::string both = read_file("error.log");
  EXPECT_EQ(one.size() * 2, both.size());
  size_t at_second = both.find("Operation .........: TWO");
  size_t at_first = both.find("Operation .........: ONE");
  ASSERT_NE(std::string::npos, at_second);
  ASSERT_NE(std::string::npos, at_first);
  EXPECT_LT(at_second, at_first);
  EXPECT_TRUE(both.ends_with(one.substr(one.find("Operation"))));
  EXPECT_FALSE(std::filesystem::exists("_error.log"));
}

TEST_F(ErrorLog, FallsBackToErrorLogWhenTheNamedFileCannotBeMade) {
  rt_.settings().errorlog_file = "missing-dir/run.log";
  ASSERT_TRUE(write_error_log(sample_error()));
  EXPECT_TRUE(std::filesystem::exists("error.log"));
  EXPECT_FALSE(std::filesystem::exists("missing-dir"));
}

TEST_F(ErrorLog, NoLogWhenNothingCanBeCreated) {
  std::filesystem::create_directory("error.log");  // a directory stands in the way
  EXPECT_FALSE(write_error_log(sample_error()));
  EXPECT_TRUE(std::filesystem::is_directory("error.log"));
}

TEST_F(ErrorLog, OpenWorkAreasAreListed) {
  testing_support::write_name_table("first.dbf");
  testing_support::write_name_table("second.dbf");
  ASSERT_TRUE(DBUSEAREA(true, Value(), Value("first.dbf")));
  ASSERT_TRUE(DBUSEAREA(true, Value(), Value("second.dbf"), Value("qorec")));
  std::string entry = error_log_entry(sample_error());
  EXPECT_NE(std::string::npos, entry.find("Current Area ......: 2\n"));
  size_t one = entry.find(
      "Work Area No ......: 1\nAlias .............: FIRST\n"
      "Current Recno .....: 1\n");
  size_t two = entry.find("Work Area No ......: 2\nAlias .............: QOREC\n");
  EXPECT_NE(std::string::npos, one);
  EXPECT_NE(std::string::npos, two);
  EXPECT_LT(one, two);
  DBCLOSEALL();
}

}  // namespace
}  // namespace lum
