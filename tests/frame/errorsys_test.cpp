// The default error handler: the failures it settles alone, the Quit / Retry / Default
// alert answered by a scripted operator, the path where nobody can answer, the report
// on the console, ERRORMESSAGE, ALERT and ERRORLEVEL.
#include <gtest/gtest.h>

#include <filesystem>

#include "console/alert_box.h"
#include "console/output.h"
#include "frame/errorsys.h"
#include "frame/frame_state.h"
#include "runtime/runtime.h"
#include "table/dbcmd.h"
#include "tests/frame/frame_fixture.h"
#include "values/dates.h"

namespace lum {
namespace {

using testing_support::FrameTest;

TEST(ErrorMessage, Texts) {
  Runtime rt;
  struct Case {
    ErrorObject e;
    const char* expected;
  };
  ErrorObject open = make_error(kErrOpen, "DBFNTX", 1001, "DBUSEAREA", kCanRetry);
  open.filename = "cbCli.dbf";
  ErrorObject warning = make_error(kErrLock, "DBFNTX", 1038);
  warning.severity = 1;
  const Case cases[] = {
      {argument_error(1110, "SUBSTR", {}), "Error BASE/1110  Argument error: SUBSTR"},
      {open, "Error DBFNTX/1001  Open error: cbCli.dbf"},  // the file before the operation
      {warning, "Warning DBFNTX/1038  Lock Failure"},
      {make_error(kErrNoTable, "DBCMD", 2001), "Error DBCMD/2001  Workarea not in use"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, ERRORMESSAGE(c.e));
}

TEST(ErrorMessage, ArgumentsText) {
  Runtime rt;
  SET(kSetDateFormat, Value("dd/mm/yyyy"));
  Array args = {Value("abc"),
                Value::int32(12),
                Value::dbl(1.5, 10, 2),
                Value::logical(false),
                Value(),
                Value::date(date_encode(2024, 1, 31)),
                Value::array({Value(1)})};
  EXPECT_EQ("\"abc\", 12, 1.50, .F., NIL, 31/01/2024, {...}", arguments_text(args));
}

using DefError = FrameTest;

// Raises like the engine does: retry loops around the call, default gives up.
RaiseAnswer raise_like_engine(ErrorObject e, int* tries = nullptr) {
  for (;;) {
    RaiseAnswer a = raise(e);
    if (!a.retry()) {
      if (tries != nullptr) *tries = e.tries;
      return a;
    }
  }
}

TEST_F(DefError, SettlesSomeFailuresWithoutAskingAnybody) {
  ERRORSYS();
  ErrorObject zero = make_error(kErrZeroDivisor, "BASE", 1340, "/", kCanSubstitute);
  RaiseAnswer a = raise(zero);
  ASSERT_TRUE(a.substituted());
  EXPECT_EQ(0, a.value.num().i);

  ErrorObject lock = make_error(kErrLock, "DBFNTX", 1038, "", kCanRetry);
  EXPECT_TRUE(raise(lock).retry());

  EXPECT_FALSE(NETERR());
  ErrorObject in_use = make_error(kErrOpen, "DBFNTX", 1001, "", kCanRetry | kCanDefault);
  in_use.oscode = 32;
  EXPECT_TRUE(raise(in_use).by_default());
  EXPECT_TRUE(NETERR());
  NETERR(false);
  ErrorObject append_lock = make_error(kErrAppendLock, "DBFNTX", 1024, "", kCanDefault);
  EXPECT_TRUE(raise(append_lock).by_default());
  EXPECT_TRUE(NETERR());

  EXPECT_EQ(0, term_->reads_);
  EXPECT_EQ("", row(0));
  EXPECT_FALSE(std::filesystem::exists("error.log"));
  EXPECT_EQ(0, ERRORLEVEL());
}

TEST_F(DefError, OperatorAnswersRetryThenDefault) {
  ERRORSYS();
  // "Retry" is the second option, "Default" the third.
  term_->keys_ = {kKeyRight, 13, kKeyRight, 13, 'd'};
  ErrorObject e = make_error(kErrOpen, "DBFNTX", 1001, "", kCanRetry | kCanDefault);
  e.filename = "cbCli.dbf";
  int tries = 0;
  RaiseAnswer a = raise_like_engine(e, &tries);
  EXPECT_TRUE(a.by_default());
  EXPECT_EQ(2, tries);
  EXPECT_EQ(5, term_->reads_);
  EXPECT_EQ(0, ERRORLEVEL());
  EXPECT_FALSE(std::filesystem::exists("error.log"));
  EXPECT_EQ("", diagnostics_);
}

TEST_F(DefError, OnlyTheAllowedChoicesAreOffered) {
  ERRORSYS();
  std::string shown;
  term_->on_read = [&] { shown = screen_text(); };
  term_->keys_ = {'d', 'r', 13};  // neither Default nor Retry is there: only Quit ends it
  ErrorObject e = argument_error(1110, "SUBSTR", {Value("x"), Value(0)});
  EXPECT_THROW(raise(e), Unwind);
  EXPECT_EQ(3, term_->reads_);
  EXPECT_NE(std::string::npos, shown.find(" Quit "));
  EXPECT_EQ(std::string::npos, shown.find("Retry"));
  EXPECT_EQ(std::string::npos, shown.find("Default"));
}

TEST_F(DefError, QuitReportsOnTheConsoleWritesTheLogAndEndsWithOne) {
  ERRORSYS();
  term_->keys_ = {27, 27, 13};  // leaving the box without a choice asks again
  FrameGuard main("MAIN", "main_run.cpp", 7);
  FrameGuard conv("CVCLI", "cvcli.cpp", 0);
  rt_.set_line(42);
  ErrorObject e = make_error(kErrOpen, "DBFNTX", 1001, "", kCanRetry | kCanDefault);
  e.filename = "cbCli.dbf";
  e.oscode = 2;
  try {
    raise(e);
    FAIL() << "no quit";
  } catch (const Unwind& u) {
    EXPECT_EQ(Unwind::Reason::Quit, u.reason());
  }
  EXPECT_EQ(3, term_->reads_);
  EXPECT_EQ(1, ERRORLEVEL());
  EXPECT_TRUE(rt_.quitting());
  EXPECT_EQ("", row(0));
  EXPECT_EQ("Error DBFNTX/1001  Open error: cbCli.dbf (DOS Error 2)", row(1));
  EXPECT_EQ("", row(2));
  EXPECT_EQ("Error at ...: CVCLI(42) in Module: cvcli.cpp", row(3));
  EXPECT_EQ("Called from : MAIN(7) in Module: main_run.cpp", row(4));
  EXPECT_EQ("", row(5));
  EXPECT_EQ(std::make_pair(5, 0), cursor());
  std::string log = testing_support::read_file("error.log");
  EXPECT_NE(std::string::npos, log.find("Involved File .....: cbCli.dbf\n"));
  EXPECT_NE(std::string::npos, log.find("Dos Error Code ....: 2\n"));
}

TEST_F(DefError, DosErrorTextIsItsOwnLineOfTheAlert) {
  ERRORSYS();
  std::string shown;
  term_->on_read = [&] { shown = screen_text(); };
  term_->keys_ = {13};
  ErrorObject e = make_error(kErrCreate, "DBFNTX", 1004, "", kCanRetry);
  e.filename = "x.ntx";
  e.oscode = 5;
  EXPECT_THROW(raise(e), Unwind);
  EXPECT_NE(std::string::npos, shown.find("Error DBFNTX/1004  Create error: x.ntx |"));
  EXPECT_NE(std::string::npos, shown.find("(DOS Error 5)"));
}

TEST_F(DefError, NobodyToAnswerWritesTheQuestionToStandardErrorAndQuits) {
  struct Case {
    bool interactive;
    bool noalert;
    std::deque<int> keys;
  } cases[] = {
      {false, false, {}},  // standard input or output is no terminal
      {true, true, {13}},  // //NOALERT
      {true, false, {}},   // the operator's input ended while the box waited
  };
  for (const Case& c : cases) {
    Runtime rt;
    auto t = std::make_unique<testing_support::ScriptedTerminal>(c.keys);
    t->interactive_ = c.interactive;
    rt.set_service(ServiceSlot::Terminal, std::move(t));
    std::string diagnostics;
    frame_state().diagnostics = [&](std::string_view s) { diagnostics += s; };
    frame_state().noalert = c.noalert;
    ERRORSYS();
    ErrorObject e = make_error(kErrOpen, "DBFNTX", 1001, "", kCanRetry | kCanDefault);
    e.filename = "cbRec.dbf";
    EXPECT_THROW(raise(e), Unwind);
    EXPECT_EQ(1, rt.errorlevel());
    EXPECT_EQ(
        "Error DBFNTX/1001  Open error: cbRec.dbf\n"
        "Choices: Quit, Retry, Default. Nobody can answer here: Quit.\n",
        diagnostics);
    EXPECT_TRUE(std::filesystem::exists("error.log"));
    std::filesystem::remove("error.log");
  }
}

TEST_F(DefError, ArgumentsJoinTheMessage) {
  ERRORSYS();
  term_->interactive_ = false;
  ErrorObject e = argument_error(1110, "SUBSTR", {Value("abc"), Value("x")});
  EXPECT_THROW(raise(e), Unwind);
  EXPECT_EQ("Error BASE/1110  Argument error: SUBSTR Arguments: (\"abc\", \"x\")", row(1));
}

TEST_F(DefError, AnErrorInsideTheHandlerEndsTheRun) {
  ERRORSYS();
  term_->interactive_ = false;
  frame_state().in_handler = true;  // as if DEFERROR were further up the stack
  FrameGuard f("CVPROD", "cvprod.cpp", 12);
  ErrorObject e = make_error(kErrWrite, "DBFNTX", 1011);
  EXPECT_THROW(raise(e), Unwind);
  EXPECT_EQ(1, ERRORLEVEL());
  EXPECT_EQ(
      "Error system failure!\n"
      "Error system failure!\nPlease correct error handler:\n"
      "CVPROD(12) in module: cvprod.cpp\n"
      "Choices: Ok. Nobody can answer here: Ok.\n",
      diagnostics_);
  EXPECT_FALSE(std::filesystem::exists("error.log"));
}

TEST_F(DefError, StopSignalWhileTheBoxWaitsCountsAsQuit) {
  ERRORSYS();
  term_->on_read = [] { Runtime::request_interrupt(); };
  term_->keys_ = {27};
  ErrorObject e = make_error(kErrOpen, "DBFNTX", 1001, "", kCanRetry);
  EXPECT_THROW(raise(e), Unwind);
  EXPECT_EQ(1, term_->reads_);
  EXPECT_TRUE(Runtime::interrupt_pending());
  EXPECT_EQ(1, ERRORLEVEL());
  Runtime other;  // takes the pending interrupt, which other tests do not expect
  EXPECT_THROW(other.poll_interrupt(), Unwind);
}

using Alert = FrameTest;

TEST_F(Alert, MessageOptionsAndChoice) {
  std::string shown;
  term_->on_read = [&] { shown = screen_text(); };
  struct Case {
    Value message;
    Value options;
    std::deque<int> keys;
    std::vector<std::string> lines;
    int expected;
  } cases[] = {
      {Value("one;two"),
       Value::array({Value("Yes"), Value(""), Value(3), Value("No")}),
       {kKeyRight, 13},
       {"one", "two", " Yes ", " No "},
       2},
      {Value::array({Value("first"), Value(5), Value("second")}),
       Value(),
       {13},
       {"first", "second", " Ok "},
       1},
      {Value::int32(42), Value(), {27}, {"42", " Ok "}, 0},
      {Value::logical(true), Value(), {13}, {".T."}, 1},
      {Value(), Value(), {13}, {"NIL"}, 1},
  };
  for (const Case& c : cases) {
    term_->keys_ = c.keys;
    Value r = ALERT(c.message, c.options);
    ASSERT_TRUE(r.is_number());
    EXPECT_EQ(c.expected, r.num().i);
    for (const std::string& l : c.lines) EXPECT_NE(std::string::npos, shown.find(l)) << l;
  }
  EXPECT_TRUE(ALERT().is_nil());
  frame_state().noalert = true;
  EXPECT_TRUE(ALERT(Value("x")).is_nil());
}

TEST(AlertColors, FromTheColourArgument) {
  struct Case {
    Value color;
    const char* box;
    const char* highlight;
  } cases[] = {
      {Value(), "W+/R", "W+/B"},           {Value(""), "W+/R", "W+/B"},
      {Value("N/W,W/N"), "N/W", "W/N"},    {Value("W+/R"), "W+/R", "R/W"},
      {Value("GR+*/B"), "GR+*/B", "B/GR"}, {Value("W"), "W", "W+/B"},
  };
  for (const Case& c : cases) {
    AlertColors a = alert_colors(c.color);
    EXPECT_EQ(c.box, a.box);
    EXPECT_EQ(c.highlight, a.highlight);
  }
}

TEST(ErrorLevel, SetAndRead) {
  Runtime rt;
  EXPECT_EQ(0, ERRORLEVEL());
  EXPECT_EQ(0, ERRORLEVEL(3));
  EXPECT_EQ(3, ERRORLEVEL());
}

}  // namespace
}  // namespace lum
