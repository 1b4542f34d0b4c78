// The transfer loop: scope (single record, NEXT, WHILE, FOR, REST), whole-image and
// field-by-field copies, and what a failing step leaves behind, over the SDF reader and
// a destination kept in memory.
#include "import/transfer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "import/sdf_reader.h"
#include "runtime/runtime.h"

namespace lum {
namespace {

using namespace std::string_literals;

struct Row {
  std::string image;          // whole-image copies
  std::vector<Value> fields;  // field-by-field copies
  bool deleted = false;
};

class MemoryTarget final : public TransferTarget {
 public:
  explicit MemoryTarget(std::size_t field_count) : field_count_(field_count) {}
  bool append_blank() override {
    if (fail_append_at == rows.size() + 1) return false;
    rows.push_back(Row{"", std::vector<Value>(field_count_), false});
    return true;
  }
  bool replace_image(std::string_view image) override {
    rows.back().image = std::string(image);
    return true;
  }
  bool put_field(std::size_t index, const Value& value) override {
    if (fail_put_at == rows.size()) return false;
    rows.back().fields.at(index) = value;
    return true;
  }
  bool mark_deleted() override {
    rows.back().deleted = true;
    return true;
  }
  std::vector<Row> rows;
  std::size_t fail_append_at = 0;  // 1-based appended record that fails, 0 none
  std::size_t fail_put_at = 0;

 private:
  std::size_t field_count_;
};

const char kText[] = "01AAA\r\n02BBB\r\n03CCC\r\n04DDD\r\n05EEE\r\n";

SdfLayout layout() { return SdfLayout::from_structure({{"NUM", 'N', 2, 0}, {"NAME", 'C', 3, 0}}); }

// The NUM field of each appended row, for comparing scopes at a glance.
std::vector<int> nums(const MemoryTarget& t) {
  std::vector<int> out;
  for (const Row& r : t.rows) {
    out.push_back(r.fields[0].is_number() ? static_cast<int>(r.fields[0].num().as_double())
                                          : std::stoi(r.image.substr(1, 2)));
  }
  return out;
}

TEST(TransferTest, ScopeChoosesTheRecords) {
  Runtime rt;
  struct Case {
    const char* name;
    int start;  // record the source stands on before the transfer (0: fresh reader)
    TransferPlan plan;
    std::vector<int> want;
  };
  // A condition on the source's current record, looked up through the reader.
  SdfReader* current = nullptr;
  auto num_is_not = [&](int n) {
    return [&current, n] { return current->field(0).num().as_double() != n; };
  };
  auto num_below = [&](int n) {
    return [&current, n] { return current->field(0).num().as_double() < n; };
  };
  const std::vector<std::pair<std::size_t, std::size_t>> all = {{0, 0}, {1, 1}};
  std::vector<Case> cases = {
      {"everything", 0, {{}, {}, {}, {}, false, false, all}, {1, 2, 3, 4, 5}},
      {"FOR skips", 0, {num_is_not(2), {}, {}, {}, false, false, all}, {1, 3, 4, 5}},
      {"WHILE from the current record", 2, {{}, num_below(4), {}, {}, false, false, all}, {2, 3}},
      {"WHILE false at once", 0, {{}, num_below(0), {}, {}, false, false, all}, {}},
      {"NEXT from the current record", 2, {{}, {}, 2, {}, false, false, all}, {2, 3}},
      {"NEXT beyond the end", 4, {{}, {}, 10, {}, false, false, all}, {4, 5}},
      {"NEXT 0", 2, {{}, {}, 0, {}, false, false, all}, {}},
      {"NEXT negative", 2, {{}, {}, -3, {}, false, false, all}, {}},
      {"single record", 0, {{}, {}, {}, 3, false, false, all}, {3}},
      {"single record beyond the end", 0, {{}, {}, {}, 9, false, false, all}, {}},
      {"REST from the current record", 3, {{}, {}, {}, {}, true, false, all}, {3, 4, 5}},
      {"no REST starts at the top", 3, {{}, {}, {}, {}, false, false, all}, {1, 2, 3, 4, 5}},
      {"FOR within NEXT counts every record",
       1,
       {num_is_not(2), {}, 3, {}, false, false, all},
       {1, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemorySource memory(kText);
    SdfReader reader(layout(), "", memory, "t.txt");
    current = &reader;
    if (c.start > 0) {
      ASSERT_TRUE(reader.go_to(static_cast<std::uint32_t>(c.start)));
    }
    MemoryTarget target(2);
    EXPECT_TRUE(run_transfer(reader, target, c.plan));
    EXPECT_EQ(c.want, nums(target));
  }
}

TEST(TransferTest, WholeImageCopiesTheRecordBytes) {
  Runtime rt;
  MemorySource memory(
      "12\0\x1A"
      "A\r\nxy\r\n"s);
  SdfReader reader(layout(), "", memory, "t.txt");
  MemoryTarget target(2);
  TransferPlan plan;
  plan.whole_image = true;
  ASSERT_TRUE(run_transfer(reader, target, plan));
  ASSERT_EQ(2u, target.rows.size());
  EXPECT_EQ(
      " 12\0\x1A"
      "A"s,
      target.rows[0].image);
  EXPECT_EQ(" xy   ", target.rows[1].image);
  EXPECT_FALSE(target.rows[0].deleted);
}

TEST(TransferTest, FieldPairsChooseWhereValuesGo) {
  Runtime rt;
  MemorySource memory(kText);
  SdfReader reader(layout(), "", memory, "t.txt");
  MemoryTarget target(3);
  TransferPlan plan;
  plan.pairs = {{1, 2}, {0, 0}};  // NAME into the third field, NUM into the first
  ASSERT_TRUE(run_transfer(reader, target, plan));
  ASSERT_EQ(5u, target.rows.size());
  EXPECT_EQ("CCC", target.rows[2].fields[2].str());
  EXPECT_EQ(3, target.rows[2].fields[0].num().as_double());
  EXPECT_TRUE(target.rows[2].fields[1].is_nil());
}

TEST(TransferTest, FailingStepMarksItsRecordDeletedAndStops) {
  Runtime rt;
  {
    MemorySource memory(kText);
    SdfReader reader(layout(), "", memory, "t.txt");
    MemoryTarget target(2);
    target.fail_put_at = 3;
    TransferPlan plan;
    plan.pairs = {{0, 0}, {1, 1}};
    EXPECT_FALSE(run_transfer(reader, target, plan));
    ASSERT_EQ(3u, target.rows.size());
    EXPECT_FALSE(target.rows[1].deleted);
    EXPECT_TRUE(target.rows[2].deleted);
  }
  {
    // A failed append leaves no record to mark: the ones before it stay live.
    MemorySource memory(kText);
    SdfReader reader(layout(), "", memory, "t.txt");
    MemoryTarget target(2);
    target.fail_append_at = 2;
    TransferPlan plan;
    plan.whole_image = true;
    EXPECT_FALSE(run_transfer(reader, target, plan));
    ASSERT_EQ(1u, target.rows.size());
    EXPECT_FALSE(target.rows[0].deleted);
  }
}

TEST(TransferTest, InterruptEndsTheRunAtARecordBoundary) {
  Runtime rt;
  MemorySource memory(kText);
  SdfReader reader(layout(), "", memory, "t.txt");
  MemoryTarget target(2);
  TransferPlan plan;
  int seen = 0;
  plan.for_condition = [&] {
    if (++seen == 2) Runtime::request_interrupt();
    return true;
  };
  plan.whole_image = true;
  EXPECT_THROW(run_transfer(reader, target, plan), Unwind);
  EXPECT_EQ(2u, target.rows.size());  // the record being copied is finished first
  EXPECT_EQ(1, rt.errorlevel());
}

}  // namespace
}  // namespace lum
