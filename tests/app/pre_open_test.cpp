// The step before a conversion's first open: when a table does not open and the operator
// answers Default, the conversion is put where it would stand at that open (the tables
// before it open in their work areas, its own area selected and empty), the area's first
// use meets its own error, and the conversion ends without having emptied anything.
#include "app/script.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/conversions.h"
#include "import/sdf.h"
#include "index/index_commands.h"
#include "tests/table/table_fixture.h"
#include "tools/sample/dataset.h"

namespace lum::test {
namespace {

using sample::Dataset;
using sample::DatasetOptions;
using sample::FieldDef;
using sample::TableDef;
using sample::Target;
using sample::TextSet;

struct Seen {
  int gencode;
  int subcode;
  std::string file_or_operation;
  std::vector<std::string> open;  // the aliases open when it was raised, by area
  AreaNumber current;
};

class DefaultAfterAFailedOpen : public TableTest {
 protected:
  DefaultAfterAFailedOpen() : ds_(DatasetOptions::with_lines(5, 4)) {
    ds_.write(dir_.path());
    register_ntx_driver();
    register_sdf_driver();
    // The operator answers Default to everything.
    rt_.install_handler([this](ErrorObject& e) {
      Seen s{e.gencode, e.subcode, e.filename.empty() ? e.operation : e.filename, {}, 0};
      WorkAreas& wa = WorkAreas::get();
      for (AreaNumber n : wa.open_areas()) {
        s.open.resize(n, "");
        s.open[n - 1] = wa.at(n)->alias();
      }
      s.current = wa.current_number();
      seen_.push_back(s);
      return Value::logical(false);
    });
  }
  // Makes the staging table of `set` one with a memo field whose memo file is missing.
  void lose_memo(TextSet set) {
    DbfLayout layout;
    for (const FieldDef& f : ds_.staging(set).fields)
      layout.fields.push_back({f.name, f.type, f.length});
    layout.fields.push_back({"OBS", 'M', 10});
    layout.version = 0x83;
    sample::write_bytes(path(ds_.staging(set).file_name), sample::build_dbf(layout, {}));
  }
  std::string target_file(Target t) const {
    const std::vector<std::uint8_t> b =
        sample::read_bytes(Dataset::target_dir(dir_.path()) / ds_.target(t).file_name);
    return std::string(b.begin(), b.end());
  }

  Dataset ds_;
  std::vector<Seen> seen_;
};

TEST_F(DefaultAfterAFailedOpen, TheConversionEndsWithNothingEmptied) {
  lose_memo(TextSet::kSuppliers);
  const std::string before = target_file(Target::kSuppliers);
  CVFORN();
  ASSERT_EQ(2u, seen_.size());
  EXPECT_EQ(kErrOpen, seen_[0].gencode);
  EXPECT_EQ("cbFORN.dbt", seen_[0].file_or_operation);
  EXPECT_TRUE(seen_[0].open.empty()) << "the probe takes no work area";
  // As at the staging table's open: the target open in area 1, area 2 selected, empty.
  EXPECT_EQ(kErrNoTable, seen_[1].gencode);
  EXPECT_EQ("__DBZAP", seen_[1].file_or_operation);
  EXPECT_EQ(std::vector<std::string>{"FORNECED"}, seen_[1].open);
  EXPECT_EQ(2u, seen_[1].current);
  EXPECT_EQ(before, target_file(Target::kSuppliers));
  EXPECT_TRUE(WorkAreas::get().open_areas().empty());
  EXPECT_EQ(1u, WorkAreas::get().current_number());
}

TEST_F(DefaultAfterAFailedOpen, ALateTableOfTheConversionIsProvenBeforeTheFirstIsEmptied) {
  lose_memo(TextSet::kBalances);
  const std::string before = target_file(Target::kItems);
  CVPROD();
  ASSERT_EQ(2u, seen_.size());
  EXPECT_EQ("CBSALDO.dbt", seen_[0].file_or_operation);
  // The balance table takes area 2 once the product staging table has left it.
  EXPECT_EQ(std::vector<std::string>{"ITEM"}, seen_[1].open);
  EXPECT_EQ(2u, seen_[1].current);
  EXPECT_EQ("__DBZAP", seen_[1].file_or_operation);
  EXPECT_EQ(before, target_file(Target::kItems));
}

}  // namespace
}  // namespace lum::test
