// Shared set-up of the table tests: a fresh directory that is also the working
// directory and the drive root, a runtime with a recording handler, and the standard
// test table's structure.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file.h"
#include "runtime/runtime.h"
#include "table/dbcmd.h"
#include "table/record_file.h"
#include "table/workareas.h"
#include "tests/support/error_recorder.h"
#include "tests/support/temp_dir.h"
#include "tools/sample/dbf_builder.h"

namespace lum::test {

using sample::DbfLayout;
using sample::RecordRow;

// CODIGO C5, NOME C20, VALOR N10.2, QTD N5, DATA D8, ATIVO L1: record length 50,
// header length 225.
inline DbfLayout standard_layout() {
  DbfLayout s;
  s.fields = {{"CODIGO", 'C', 5}, {"NOME", 'C', 20}, {"VALOR", 'N', 10, 2},
              {"QTD", 'N', 5, 0}, {"DATA", 'D', 8},  {"ATIVO", 'L', 1}};
  return s;
}

inline std::vector<RecordRow> standard_records(int n) {
  std::vector<RecordRow> out;
  for (int i = 1; i <= n; ++i) {
    char code[16];
    std::snprintf(code, sizeof code, "%05d", i);
    out.push_back({{code, "NAME " + std::to_string(i), "     " + std::to_string(i) + ".50",
                    "   " + std::to_string(i % 100), "2024010" + std::to_string(i % 9 + 1),
                    i % 2 ? "T" : "F"}});
  }
  return out;
}

// Sets the resident budget of the record files for one test.
class ResidentBudget {
 public:
  explicit ResidentBudget(std::size_t bytes) : saved_(RecordFile::resident_budget()) {
    RecordFile::set_resident_budget(bytes);
  }
  ~ResidentBudget() { RecordFile::set_resident_budget(saved_); }
  ResidentBudget(const ResidentBudget&) = delete;
  ResidentBudget& operator=(const ResidentBudget&) = delete;

 private:
  std::size_t saved_;
};

class TableTest : public ::testing::Test {
 protected:
  TableTest() : dir_(true), saved_root_(drive_root()), rec_(rt_, 0, ErrorRecorder::OnBreak::Throw) {
    set_drive_root(dir_.path().string());
  }
  ~TableTest() override {
    // Tables close while the recorder is still there to hear about it.
    try {
      rt_.release_services();
    } catch (...) {
    }
    set_drive_root(saved_root_);
  }

  std::filesystem::path path(const std::string& name) const { return dir_ / name; }

  TempDir dir_;
  std::string saved_root_;
  Runtime rt_;
  ErrorRecorder rec_;
};

}  // namespace lum::test
