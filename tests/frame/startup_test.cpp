// Start-up and termination through run_program: help and version that open nothing,
// command lines that are refused, the start function, __QUIT, an error that ends the
// run, stop signals, and the internal errors that end the process at once.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "console/output.h"
#include "frame/errorsys.h"
#include "frame/frame_state.h"
#include "frame/startup.h"
#include "platform/file.h"
#include "platform/terminal.h"
#include "runtime/runtime.h"
#include "table/dbcmd.h"
#include "table/names.h"
#include "tests/frame/frame_fixture.h"

namespace lum {
namespace {

using testing_support::TempDir;

// A program whose start function is `start`, with everything it prints captured.
struct TestProgram {
  Program program;
  std::string out, err, screen;
  int calls = 0;

  explicit TestProgram(StartFunction start = {}) {
    program.name = "lumconv";
    program.version = "9.8.7";
    program.usage = "usage text\n";
    program.environment = "";
    program.out = [this](std::string_view s) { out += s; };
    program.err = [this](std::string_view s) { err += s; };
    program.open_terminal = [this] {
      return std::make_unique<MemoryTerminal>([this](std::string_view s) { screen += s; });
    };
    program.modules.push_back(Module{"test", {{"MAIN", [this, start] {
                                                 ++calls;
                                                 if (start) start();
                                               }}}});
  }
  int run(std::vector<std::string> args) {
    args.insert(args.begin(), "lumconv");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    return run_program(program, static_cast<int>(argv.size()), argv.data());
  }
};

bool directory_is_empty(const std::filesystem::path& p) {
  return std::filesystem::directory_iterator(p) == std::filesystem::directory_iterator();
}

TEST(Startup, HelpAndVersionOpenNothing) {
  TempDir dir;
  for (const char* arg : {"--help", "-h", "//HELP", "//help"}) {
    TestProgram t;
    EXPECT_EQ(0, t.run({arg})) << arg;
    EXPECT_EQ("usage text\n", t.out);
    EXPECT_EQ(0, t.calls);
    EXPECT_EQ("", t.screen);
  }
  TestProgram env;
  env.program.environment = "//HELP";
  EXPECT_EQ(0, env.run({}));
  EXPECT_EQ(0, env.calls);
  TestProgram v;
  EXPECT_EQ(0, v.run({"--version"}));
  EXPECT_EQ("lumconv 9.8.7\n", v.out);
  EXPECT_EQ(0, v.calls);
  // Help wins over everything else on the line, even a switch that is not understood.
  TestProgram both;
  EXPECT_EQ(0, both.run({"//NOPE", "--help"}));
  EXPECT_EQ(0, both.calls);
  EXPECT_TRUE(directory_is_empty(dir.path()));
}

TEST(Startup, CommandLinesNotUnderstoodChangeNothing) {
  TempDir dir;
  struct Case {
    const char* env;
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {"", {"//NOPE"}, "unknown switch \"//NOPE\""},
      {"", {"clientes.txt"}, "takes no arguments"},
      {"", {"--hlep"}, "takes no arguments"},
      {"//DRIVE:/no/such/dir", {}, "is not a directory"},
      {"-h", {}, "LUMCONV"},
  };
  for (const Case& c : cases) {
    TestProgram t;
    t.program.environment = c.env;
    EXPECT_EQ(kExitUsage, t.run(c.args));
    EXPECT_NE(std::string::npos, t.err.find(c.says)) << t.err;
    EXPECT_NE(std::string::npos, t.err.find("lumconv --help")) << t.err;
    EXPECT_EQ(0, t.calls);
    EXPECT_EQ("", t.screen);
  }
  EXPECT_TRUE(directory_is_empty(dir.path()));
}

TEST(Startup, SwitchesReachTheFrameAndThePlatform) {
  TempDir dir;
  std::filesystem::create_directory("envroot");
  std::filesystem::create_directory("cmdroot");
  bool noalert = false;
  std::string root;
  TestProgram t([&] {
    noalert = frame_state().noalert;
    root = drive_root();
    EXPECT_TRUE(Runtime::current().find_memvar("GETLIST")->is_array());
  });
  t.program.environment = "//NOALERT //DRIVE:envroot";
  EXPECT_EQ(0, t.run({"//DRIVE:cmdroot"}));
  EXPECT_EQ(1, t.calls);
  EXPECT_TRUE(noalert);
  EXPECT_EQ("cmdroot", root);
  set_drive_root("/");
}

TEST(Startup, NormalRunShowsTheScreenAndEndsWithZero) {
  TempDir dir;
  bool after_quit = false;
  TestProgram t([&] {
    DEVOUT("hello", Value(), 1, 2);
    cmd::QUIT();
    after_quit = true;
  });
  EXPECT_EQ(0, t.run({}));
  EXPECT_FALSE(after_quit);
  EXPECT_EQ("\n  hello\n", t.screen);
  EXPECT_TRUE(directory_is_empty(dir.path()));
}

TEST(Startup, ReturningFromTheStartFunctionAlsoTerminates) {
  TempDir dir;
  TestProgram t([] { ERRORLEVEL(3); });
  EXPECT_EQ(3, t.run({}));
}

TEST(Startup, ApplicationMainIsPreferred) {
  TempDir dir;
  TestProgram t;
  int app_main = 0;
  t.program.modules.push_back(Module{"other", {{"_APPMAIN", [&] { ++app_main; }}}});
  EXPECT_EQ(0, t.run({}));
  EXPECT_EQ(1, app_main);
  EXPECT_EQ(0, t.calls);
}

TEST(Startup, AnErrorNobodyAnswersEndsWithOneAndALog) {
  TempDir dir;
  TestProgram t([] {
    FrameGuard f("MAIN", "main_run.cpp", 3);
    ErrorObject e = make_error(kErrOpen, "DBFNTX", 1001, "", kCanRetry | kCanDefault);
    e.filename = "cbFORN.dbf";
    e.oscode = 2;
    raise(e);
    ADD_FAILURE() << "the run went on";
  });
  EXPECT_EQ(1, t.run({}));
  EXPECT_NE(std::string::npos,
            t.err.find("Error DBFNTX/1001  Open error: cbFORN.dbf\n(DOS Error 2)\n"));
  // Without a terminal, each line of the report as it is written, then the final screen.
  const std::string report =
      "Error DBFNTX/1001  Open error: cbFORN.dbf (DOS Error 2)\n\n"
      "Error at ...: MAIN(3) in Module: main_run.cpp\n";
  EXPECT_EQ(report + "\n" + "\n" + report, t.screen);
  EXPECT_TRUE(std::filesystem::exists("error.log"));
}

TEST(Startup, StopSignalEndsTheRunAtTheNextSafePoint) {
  TempDir dir;
  for (int request : host_stop_requests()) {
    bool went_on = false;
    TestProgram t([&] {
      DEVOUT("counting", Value(), 0, 0);
      deliver_stop_request(request);  // the handler only marks the request
      Runtime::current().poll_interrupt();
      went_on = true;
    });
    EXPECT_EQ(1, t.run({}));
    EXPECT_FALSE(went_on);
    EXPECT_EQ(std::string(kInterruptedLine) + "\ncounting\n" + kInterruptedLine + "\n", t.screen);
    EXPECT_FALSE(Runtime::interrupt_pending());
  }
}

// The record appended just before the signal is written, and the header counts it.
void expect_one_record(const std::string& dbf) {
  ASSERT_GE(dbf.size(), 71u);
  EXPECT_EQ(1u, testing_support::header_record_count(dbf));
  EXPECT_EQ(" abc  ", dbf.substr(65, 6));
}

TEST(Startup, StopSignalClosesOpenTablesWithTheirPendingRecord) {
  TempDir dir;
  testing_support::write_name_table("t.dbf");
  TestProgram t([] {
    ASSERT_TRUE(DBUSEAREA(true, Value(), Value("t.dbf")));
    ASSERT_TRUE(DBAPPEND());
    ASSERT_TRUE(field_put("NAME", Value("abc")));
    deliver_stop_request(host_stop_requests().front());
    Runtime::current().poll_interrupt();
  });
  EXPECT_EQ(1, t.run({}));
  expect_one_record(testing_support::read_file("t.dbf"));
}

TEST(StartupDeathTest, InternalErrorWritesPendingRecordsFirst) {
  // Forked without re-running the test where the host forks, so that the child works in
  // this directory. Windows starts the test program again for the child, which runs this
  // test from its start: DeathTestDir takes it to the parent's directory.
  GTEST_FLAG_SET(death_test_style, "fast");
  test::DeathTestDir dir;
  testing_support::write_name_table("t.dbf");
  EXPECT_EXIT(
      {
        TestProgram t([] {
          DBUSEAREA(true, Value(), Value("t.dbf"));
          DBAPPEND();
          field_put("NAME", Value("abc"));
          Runtime::current().internal_error(9001);
        });
        t.run({});
      },
      testing::ExitedWithCode(1), "Unrecoverable error 9001");
  expect_one_record(testing_support::read_file("t.dbf"));
}

TEST(Startup, ExceptionsOutsideTheErrorSystemStillTerminateInOrder) {
  TempDir dir;
  TestProgram t([] { throw std::bad_alloc(); });
  EXPECT_EQ(1, t.run({}));
  EXPECT_NE(std::string::npos, t.screen.find("Unrecoverable error: std::bad_alloc"));
}

TEST(StartupDeathTest, InternalErrorsShowTheScreenAndEndWithOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  test::DeathTestDir dir;
  auto to_stderr = [] {
    return std::make_unique<MemoryTerminal>(
        [](std::string_view s) { std::fwrite(s.data(), 1, s.size(), stderr); });
  };
  EXPECT_EXIT(
      {
        TestProgram t;
        t.program.modules.clear();
        t.program.open_terminal = to_stderr;
        t.run({});
      },
      testing::ExitedWithCode(1), "Unrecoverable error 9013: No starting procedure");
  EXPECT_EXIT(
      {
        TestProgram t([] {
          DEVOUT("banner", Value(), 2, 15);
          Runtime::current().install_handler([](ErrorObject&) { return Value::logical(true); });
          ErrorObject e = make_error(kErrWrite, "DBFNTX", 1011, "", kCanDefault);
          raise(e);
        });
        t.program.open_terminal = to_stderr;
        t.run({});
      },
      testing::ExitedWithCode(1),
      "\n\n               banner\n\nUnrecoverable error 9001: Error recovery failure\n");
}

}  // namespace
}  // namespace lum
