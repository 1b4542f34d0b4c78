// An independent reader: tables written by the engine are read back by the system's
// python3-dbfread package, as a black box, and must show the record counts, field
// values and dates that were written.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/clock.h"
#include "platform/process.h"

#include "table/names.h"
#include "tests/table/table_fixture.h"
#include "values/dates.h"

namespace lum::test {

using sample::write_dbf;
namespace {

constexpr const char* kPython = "/usr/bin/python3";

const char* kScript = R"(import sys, dbfread
t = dbfread.DBF(sys.argv[1], encoding='latin-1', char_decode_errors='strict')
print(len(t), len(t.deleted), t.header.numrecords)
print(t.date.isoformat() if t.date else 'nodate')
for r in t:
    v = r['VALOR']
    d = r['DATA']
    print('|'.join([r['CODIGO'], r['NOME'], '%.2f' % v if v is not None else 'None',
                    str(r['QTD']), d.isoformat() if d else 'None', str(r['ATIVO'])]))
)";

bool have_dbfread() {
  return std::filesystem::exists(kPython) &&
         run_process(kPython, {"-c", "import dbfread"}).exit_code == 0;
}

class IndependentReader : public TableTest {};

TEST_F(IndependentReader, ReadsWhatTheEngineWrote) {
#ifdef _WIN32
  GTEST_SKIP() << "the independent reader is Debian's python3-dbfread, run by the Linux builds";
#endif
  if (!have_dbfread()) GTEST_SKIP() << "python3-dbfread is not installed for " << kPython;
  write_dbf(path("out.dbf"), standard_layout(), standard_records(5));
  ASSERT_TRUE(DBUSEAREA(true, {}, "out"));
  ASSERT_TRUE(cmd::DBZAP());
  std::vector<std::string> expected;
  const int n = 300;
  for (int i = 1; i <= n; ++i) {
    ASSERT_TRUE(DBAPPEND());
    int y = 1990 + i % 40, m = 1 + i % 12, d = 1 + i % 28;
    std::string code = std::to_string(i);
    std::string name = "CLIENT " + std::to_string(i * 37) + " LTDA";
    double value = i * 12.3456 - 1000;
    field_put("CODIGO", code);
    field_put("NOME", name);
    field_put("VALOR", Value::dbl(value, 10, 3));
    field_put("QTD", Value::int32(i % 7 == 0 ? -i : i));
    if (i % 10 != 0) field_put("DATA", Value::date(date_encode(y, m, d)));
    field_put("ATIVO", Value::logical(i % 3 == 0));
    if (i == n) {
      DBDELETE();
      continue;
    }
    char buf[200];
    // The stored text has two decimals; no value here lies on a rounding tie.
    std::snprintf(buf, sizeof buf, "%s|%s|%.2f|%d|%s|%s", code.c_str(), name.c_str(),
                  std::round(value * 100) / 100, i % 7 == 0 ? -i : i,
                  i % 10 != 0 ? (std::to_string(y) + "-" + (m < 10 ? "0" : "") + std::to_string(m) +
                                 "-" + (d < 10 ? "0" : "") + std::to_string(d))
                                    .c_str()
                              : "None",
                  i % 3 == 0 ? "True" : "False");
    expected.push_back(buf);
  }
  DBCLOSEALL();

  std::ofstream(path("read.py")) << kScript;
  ProcessOutcome read = run_process(kPython, {path("read.py").string(), path("out.dbf").string()});
  ASSERT_EQ(0, read.exit_code) << read.out << read.err;
  std::istringstream in(read.out);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(std::to_string(n - 1) + " 1 " + std::to_string(n), line);
  std::getline(in, line);
  LocalDateTime now = local_now();
  char today[16];
  std::snprintf(today, sizeof today, "%04d-%02d-%02d", now.year, now.month, now.day);
  EXPECT_EQ(today, line);
  for (const std::string& want : expected) {
    ASSERT_TRUE(std::getline(in, line));
    // dbfread strips the blanks that pad character fields.
    EXPECT_EQ(want, line);
  }
  EXPECT_FALSE(std::getline(in, line)) << line;
}

}  // namespace
}  // namespace lum::test
