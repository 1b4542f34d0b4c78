// The run's plan is the one declaration of the conversions' files: it must hang
// together (every alias it refers to is a table the conversion opens), and the usage
// text, built from it, must name every file the run reads or rewrites.
#include "app/run_plan.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/program.h"
#include "platform/text.h"

namespace lum {
namespace {

bool opens(const ConversionPlan& c, const char* alias) {
  for (const TableOpen& t : c.tables) {
    if (std::string(t.alias) == alias) return true;
  }
  return false;
}

TEST(RunPlan, EveryAliasItNamesIsATableTheConversionOpens) {
  std::set<std::string> names;
  for (const ConversionPlan& c : run_plan()) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(names.insert(c.name).second) << "named twice";
    EXPECT_EQ(&c, &plan_of(c.run));
    EXPECT_TRUE(opens(c, c.target));
    for (const TextImport& t : c.texts) EXPECT_TRUE(opens(c, t.staging)) << t.text;
    for (const IndexBuild& ix : c.indexes) EXPECT_TRUE(opens(c, ix.table)) << ix.file;
    for (const TableOpen& t : c.tables) {
      EXPECT_EQ(ascii_upper(t.alias), t.alias);
      if (t.given_alias != nullptr) {
        EXPECT_EQ(t.alias, ascii_upper(t.given_alias));
      }
      EXPECT_EQ(t.first_use == FirstUse::kFieldWidth, t.field != nullptr) << t.name;
    }
  }
}

TEST(RunPlan, TheUsageNamesEveryFileOfThePlan) {
  const std::string usage = lumconv_program().usage;
  auto names = [&](std::string file) {
    file = file.substr(file.find_last_of('\\') + 1);
    file = file.substr(0, file.find('.'));
    return usage.find(file) != std::string::npos || usage.find(ascii_upper(file)) != std::string::npos;
  };
  for (const ConversionPlan& c : run_plan()) {
    for (const TextImport& t : c.texts) EXPECT_NE(std::string::npos, usage.find(t.text)) << t.text;
    for (const TableOpen& t : c.tables) EXPECT_TRUE(names(t.name)) << t.name;
    for (const IndexBuild& ix : c.indexes) EXPECT_TRUE(names(ix.file)) << ix.file;
  }
}

}  // namespace
}  // namespace lum
