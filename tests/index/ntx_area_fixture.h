// A work-area fixture for the DBFNTX driver tests: a runtime with a recording handler,
// a fresh working directory, tables written byte by byte, and walks of the current area.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "index/index_commands.h"
#include "runtime/runtime.h"
#include "table/dbcmd.h"
#include "table/names.h"
#include "table/workareas.h"
#include "tests/support/error_recorder.h"
#include "tests/support/temp_dir.h"
#include "tools/sample/dbf_builder.h"

namespace lum::testing {

class AreaTest : public ::testing::Test {
 protected:
  AreaTest() : errors_(rt_, 0, test::ErrorRecorder::OnBreak::Throw), dir_(true) {
    register_ntx_driver();
  }
  ~AreaTest() override {
    try {
      DBCLOSEALL();
    } catch (...) {
    }
  }

  // Writes `name` with character fields given as (name, length) and the records'
  // field texts.
  void make_table(const std::string& name, const std::vector<sample::FieldLayout>& fields,
                  const std::vector<std::vector<std::string>>& records,
                  const std::vector<bool>& deleted = {}) {
    sample::DbfLayout def;
    def.fields = fields;
    std::vector<sample::RecordRow> recs;
    for (std::size_t i = 0; i < records.size(); ++i) {
      recs.push_back({records[i], i < deleted.size() && deleted[i]});
    }
    sample::write_dbf(dir_ / name, def, recs);
  }

  // Opens the table in a new area and makes it current.
  void use(const std::string& name, const std::string& alias = {}) {
    ASSERT_TRUE(DBUSEAREA(true, {}, Value(name), alias.empty() ? Value() : Value(alias)));
  }

  static CodeBlock field_block(const std::string& name) {
    return [name] { return field_get(name); };
  }

  NtxArea* area() { return dynamic_cast<NtxArea*>(WorkAreas::get().current()); }

  // Record numbers from DBGOTOP to end of file.
  static std::vector<std::uint32_t> walk() {
    std::vector<std::uint32_t> out;
    DBGOTOP();
    for (int guard = 0; !DBEOF() && guard < 100000; ++guard) {
      out.push_back(RECNO());
      DBSKIP(1);
    }
    return out;
  }
  // Record numbers from go bottom back to the beginning, in forward order.
  static std::vector<std::uint32_t> walk_back() {
    std::vector<std::uint32_t> out;
    DBGOBOTTOM();
    for (int guard = 0; !DBBOF() && !DBEOF() && guard < 100000; ++guard) {
      out.insert(out.begin(), RECNO());
      DBSKIP(-1);
    }
    return out;
  }

  Runtime rt_;
  test::ErrorRecorder errors_;
  test::TempDir dir_;
};

}  // namespace lum::testing
