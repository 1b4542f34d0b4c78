// The lumgen and dbfdump programs, run as an operator runs them.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/process.h"
#include "tests/support/temp_dir.h"
#include "tools/sample/dataset.h"
#include "tools/sample/dbf_builder.h"

namespace lum::test {

using sample::Dataset;
using sample::DatasetOptions;
using sample::DbfLayout;
using sample::FieldDef;
using sample::FieldLayout;
using sample::RecordRow;
using sample::TableDef;
using sample::Target;
using sample::TextSet;
using sample::write_dbf;
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int code = -1;
  std::string out, err;
};

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs a tool in the test's directory, standard input from nothing, its outputs captured.
Outcome run(const TempDir& dir, const std::string& program, const std::vector<std::string>& args) {
  ProcessOptions o;
  o.cwd = dir.path().string();
  ProcessOutcome p = run_process(program, args, o);
  EXPECT_TRUE(p.started) << p.out;
  return Outcome{p.exit_code, p.out, p.err};
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

TEST(Lumexpect, PrintsWhatTheRunMustShow) {
  TempDir dir;
  Outcome r =
      run(dir, LUM_LUMEXPECT,
          {(dir / "d").string(), "--edge-cases", "--records", "3", "--without", "receber.txt"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("  Fornecedor nao encontrado00042\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  Clientes            4\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  Receber       (not shown)\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("fails at the import of receber.txt (exit code 1)"), std::string::npos);
}

// Every file of a directory, by its path below it, with its bytes.
std::map<std::string, std::string> tree(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (e.is_regular_file()) files[fs::relative(e.path(), dir).generic_string()] = slurp(e.path());
  }
  return files;
}

// lumgen writes what the generator writes for the options its arguments describe: by
// default the realistic sample, without forneced.txt, the supplier table holding the
// old system's codes; with --edge-cases the test data, all six text files.
TEST(Lumgen, WritesTheDatasetItsArgumentsDescribe) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    void (*shape)(DatasetOptions&);  // applied to with_lines(records, seed)
    std::size_t records;
    std::uint64_t seed;
  };
  const Case cases[] = {
      {"test data with options",
       {"--edge-cases", "--records", "7", "--seed", "3", "--without", "receber.txt",
        "--wide-coditem", "--lines", "SALDO.txt=11", "--legacy-suppliers"},
       [](DatasetOptions& o) {
         o.write_text[static_cast<int>(TextSet::kReceivables)] = false;
         o.wide_coditem = true;
         o.legacy_suppliers = true;
         o.lines[static_cast<int>(TextSet::kBalances)] = 11;
       },
       7,
       3},
      {"realistic by default",
       {"--records", "9"},
       [](DatasetOptions& o) {
         o.edge_cases = false;
         o.legacy_suppliers = true;
         o.write_text[static_cast<int>(TextSet::kSuppliers)] = false;
       },
       9,
       1},
      {"realistic with forneced.txt",
       {"--records", "2", "--with", "forneced.txt"},
       [](DatasetOptions& o) {
         o.edge_cases = false;
         o.legacy_suppliers = true;
       },
       2,
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), (dir / "lumgen").string());
    Outcome r = run(dir, LUM_LUMGEN, args);
    ASSERT_EQ(r.code, 0) << r.err;
    DatasetOptions o = DatasetOptions::with_lines(c.records, c.seed);
    c.shape(o);
    Dataset(o).write(dir / "here");
    std::map<std::string, std::string> written = tree(dir / "lumgen"), want = tree(dir / "here");
    EXPECT_EQ(written.size(), want.size());
    for (const auto& [name, bytes] : want) {
      EXPECT_TRUE(written.count(name) == 1 && written[name] == bytes) << name;
    }
  }
}

TEST(Lumgen, RejectsWhatItDoesNotKnow) {
  TempDir dir;
  const std::vector<std::string> bad[] = {{},
                                          {"d", "--records", "x"},
                                          {"d", "--without", "nosuch.txt"},
                                          {"d", "--frobnicate"},
                                          {"d", "--lines", "prod.txt"}};
  for (const std::vector<std::string>& args : bad) {
    Outcome r = run(dir, LUM_LUMGEN, args);
    EXPECT_EQ(r.code, 2) << testing::PrintToString(args);
    EXPECT_NE(r.err.find("usage: lumgen"), std::string::npos) << testing::PrintToString(args);
  }
}

TEST(Dbfdump, PrintsStructureAndRecords) {
  TempDir dir;
  DatasetOptions o = DatasetOptions::with_lines(2);
  o.legacy_suppliers = true;
  Dataset ds(o);
  ds.write(dir.path());
  fs::path file = Dataset::target_dir(dir.path()) / "Forneced.Dbf";
  Outcome r = run(dir, LUM_DBFDUMP, {file.string()});
  ASSERT_EQ(r.code, 0) << r.err;
  std::vector<std::string> lines = lines_of(r.out);
  const TableDef& d = ds.target(Target::kSuppliers);
  const auto& recs = ds.initial_records(Target::kSuppliers);
  ASSERT_EQ(lines.size(), 9 + d.fields.size() + recs.size());
  EXPECT_EQ(lines[1], "  version 0x03: standard table, no memo");
  EXPECT_EQ(lines[2], "  last update 2014-06-30");
  EXPECT_EQ(lines[3], "  records 12 (header says 12)");
  EXPECT_EQ(lines[5], "  table flags 0x00, code page 0x02");
  EXPECT_EQ(lines[6], "fields 17");
  EXPECT_EQ(lines[8], "    1 CODIGO_FOR    C     5   0      1");
  EXPECT_EQ(lines[8 + 16],
            "   17 LIMCRED       N    12   2    " + std::to_string(d.fields[16].offset));
  EXPECT_EQ(lines[8 + 17], "records");
  // Record lines: number, deletion mark, the fields between bars.
  for (std::size_t k = 0; k < recs.size(); ++k) {
    char head[32];
    std::snprintf(head, sizeof head, "%7zu%c|", k + 1, recs[k][0] == '*' ? '*' : ' ');
    std::string want = head;
    for (const FieldDef& f : d.fields) {
      want +=
          recs[k].substr(static_cast<std::size_t>(f.offset), static_cast<std::size_t>(f.length)) +
          "|";
    }
    EXPECT_EQ(lines[8 + 18 + k], want);
  }
}

TEST(Dbfdump, ShowsPackedBytesEscapedAndSelectsRecords) {
  TempDir dir;
  DbfLayout shape;
  shape.fields = {FieldLayout{"CEP", 'C', 5, 0, 0}, FieldLayout{"NOME", 'C', 4, 0, 0}};
  write_dbf(dir / "t.dbf", shape,
            {RecordRow{{std::string("\x01\x23\x45\x67\x8F", 5), "A\\B"}, false},
             RecordRow{{std::string("\x0D\x0A\x00\x1A\xFF", 5), "ZZ"}, true},
             RecordRow{{"x", "y"}, false}});
  Outcome r =
      run(dir, LUM_DBFDUMP,
          {"--records", "--from", "2", "--count", "1", "--vertical", (dir / "t.dbf").string()});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "record 2 (deleted)\n  CEP        \\x0D\\x0A\\x00\\x1A\\xFF\n  NOME       ZZ  \n");
  r = run(dir, LUM_DBFDUMP, {"--records", "--count", "1", (dir / "t.dbf").string()});
  EXPECT_EQ(r.out, "      1 |\\x01#Eg\\x8F|A\\\\B |\n");
}

TEST(Dbfdump, ReportsADamagedTable) {
  TempDir dir;
  DbfLayout shape;
  shape.fields = {FieldLayout{"A", 'C', 3, 0, 0}};
  shape.version = 0x01;
  write_dbf(dir / "bad.dbf", shape);
  Outcome r = run(dir, LUM_DBFDUMP, {(dir / "bad.dbf").string()});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("bad.dbf"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());
  r = run(dir, LUM_DBFDUMP, {(dir / "missing.dbf").string()});
  EXPECT_EQ(r.code, 1);
  r = run(dir, LUM_DBFDUMP, {});
  EXPECT_EQ(r.code, 2);
}

}  // namespace
}  // namespace lum::test
