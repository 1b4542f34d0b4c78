// MAIN: the banner, the date settings, and the trigger-file tests in their order, each
// made at the moment it comes, with recording conversions in place of the real ones.
#include "app/main_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "console/output.h"
#include "console/screen.h"
#include "frame/run_record.h"
#include "runtime/runtime.h"
#include "table/dbcmd.h"
#include "tests/frame/frame_fixture.h"

namespace lum {
namespace {

using testing_support::write_file;

std::vector<std::string>* g_calls = nullptr;
std::function<void(const char*)> g_during;

void record(const char* name) {
  g_calls->push_back(name);
  if (g_during) g_during(name);
}

// The program's plan with a recording function in place of each conversion.
const std::vector<ConversionPlan> kRecording = [] {
  static constexpr Conversion kRecorders[] = {
      [] { record("CVFORN"); }, [] { record("CVPAGAR"); },   [] { record("CVPROD"); },
      [] { record("CVCLI"); },  [] { record("CVRECEBER"); },
  };
  std::vector<ConversionPlan> plan(run_plan().begin(), run_plan().end());
  for (std::size_t i = 0; i < plan.size(); ++i) plan[i].run = kRecorders[i];
  return plan;
}();

class MainRun : public testing_support::FrameTest {
 protected:
  MainRun() { g_calls = &calls_; }
  ~MainRun() override {
    g_calls = nullptr;
    g_during = nullptr;
  }
  // Runs MAIN to its quit.
  Unwind::Reason run() {
    try {
      run_main(kRecording);
    } catch (const Unwind& u) {
      return u.reason();
    }
    ADD_FAILURE() << "MAIN returned without quitting";
    return Unwind::Reason::Quit;
  }
  std::vector<std::string> calls_;
};

TEST_F(MainRun, NoTriggerFilesShowsTheBannerAndQuits) {
  write_file("receber.txt", "x");  // the receivables follow clientes.txt, not this
  write_file("SALDO.txt", "x");
  screen().put_text(0, 0, "left over from before", 0x07);
  EXPECT_EQ(Unwind::Reason::Quit, run());
  EXPECT_TRUE(calls_.empty());
  EXPECT_EQ("", row(0));
  EXPECT_EQ("", row(1));
  EXPECT_EQ(std::string(15, ' ') + "Qo Softwares 00-0000-0000", row(2));
  EXPECT_EQ(std::string(15, ' ') + "Convertendo dados do Cobol para \\lum\\firma1", row(3));
  for (int r = 4; r <= 24; ++r) EXPECT_EQ("", row(r));
  EXPECT_TRUE(rt_.settings().century);
  EXPECT_EQ("dd/mm/yyyy", rt_.settings().date_format);
  EXPECT_EQ(0, rt_.errorlevel());
}

TEST_F(MainRun, ConversionsRunInTheirOrderWhateverTheCaseOfTheFiles) {
  for (const char* f : {"clientes.txt", "PROD.TXT", "pagar.txt", "forneced.txt"}) {
    write_file(f, "x");
  }
  g_during = [this](const char*) {
    // Every conversion runs under MAIN, with the date settings already made.
    EXPECT_EQ("dd/mm/yyyy", rt_.settings().date_format);
    ASSERT_GE(rt_.frames().size(), 2u);
    EXPECT_EQ("MAIN", rt_.frames().back().procname);
    // The run's record knows which of the plan's conversions is running.
    EXPECT_EQ(kRecording[run_record().running()].name, calls_.back());
  };
  run();
  EXPECT_EQ((std::vector<std::string>{"CVFORN", "CVPAGAR", "CVPROD", "CVCLI", "CVRECEBER"}),
            calls_);
}

TEST_F(MainRun, EachFileIsTestedWhenItsTurnComes) {
  write_file("forneced.txt", "x");
  write_file("clientes.txt", "x");
  g_during = [](const char* name) {
    if (std::string(name) == "CVFORN") write_file("prod.txt", "x");  // appears later
    if (std::string(name) == "CVCLI") std::filesystem::remove("clientes.txt");
  };
  run();
  EXPECT_EQ((std::vector<std::string>{"CVFORN", "CVPROD", "CVCLI"}), calls_);
}

TEST_F(MainRun, AStopSignalIsTakenBetweenConversions) {
  write_file("forneced.txt", "x");
  write_file("PAGAR.txt", "x");
  g_during = [](const char*) { Runtime::request_interrupt(); };
  EXPECT_EQ(Unwind::Reason::Interrupt, run());
  EXPECT_EQ((std::vector<std::string>{"CVFORN"}), calls_);
  EXPECT_EQ(1, rt_.errorlevel());
}

TEST_F(MainRun, ClosingSequenceClosesEveryTableAndSelectsAreaOne) {
  testing_support::write_name_table("a.dbf");
  testing_support::write_name_table("b.dbf");
  ASSERT_TRUE(DBUSEAREA(true, Value(), Value("a.dbf")));
  ASSERT_TRUE(DBUSEAREA(true, Value(), Value("b.dbf")));
  DBSELECTAREA(Value(5));
  cmd::SETFORMAT(Value("FMT"));
  EXPECT_TRUE(screen_format_active());
  closing_sequence();
  EXPECT_EQ(1u, SELECT());
  EXPECT_EQ("", ALIAS());
  DBSELECTAREA(Value(2));
  EXPECT_EQ("", ALIAS());
  EXPECT_FALSE(screen_format_active());
}

}  // namespace
}  // namespace lum
