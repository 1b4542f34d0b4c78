// Raising errors: the handler's answers, TRIES, and the internal errors that end the
// process when the answer does not fit the error's flags.
#include <gtest/gtest.h>

#include "runtime/error.h"
#include "runtime/runtime.h"

namespace lum {
namespace {

TEST(Raise, AnswersFollowTheFlags) {
  Runtime rt;
  std::vector<Value> answers = {Value::logical(true), Value::logical(true), Value::logical(true),
                                Value::logical(false)};
  size_t next = 0;
  rt.install_handler([&](ErrorObject&) { return answers[next++]; });
  ErrorObject e = make_error(kErrOpen, "DBFNTX", 1001, "", kCanRetry | kCanDefault);
  int retries = 0;
  for (;;) {
    RaiseAnswer a = raise(e);
    if (a.retry()) {
      ++retries;
      continue;
    }
    EXPECT_TRUE(a.by_default());
    break;
  }
  EXPECT_EQ(3, retries);
  EXPECT_EQ(3, e.tries);
  EXPECT_EQ("Open error", e.description);
  EXPECT_EQ(kCanRetry | kCanDefault, e.flags());
}

TEST(Raise, SubstituteValueBecomesTheResult) {
  Runtime rt;
  rt.install_handler([](ErrorObject& e) {
    EXPECT_EQ(1110, e.subcode);
    EXPECT_EQ("BASE", e.subsystem);
    EXPECT_EQ("SUBSTR", e.operation);
    EXPECT_TRUE(e.args.has_value());
    return Value::string("X");
  });
  Value v = raise_argument_error(1110, "SUBSTR", {Value::int32(1)});
  ASSERT_TRUE(v.is_string());
  EXPECT_EQ("X", v.str());
}

TEST(Raise, ErrorCarriesTheInnermostNamedFrame) {
  Runtime rt;
  std::string seen;
  int line = 0;
  rt.install_handler([&](ErrorObject& e) {
    seen = e.procname + "/" + e.modulename;
    line = e.procline;
    return Value::logical(false);
  });
  FrameGuard outer("MAIN", "main_run.cpp", 10);
  FrameGuard inner("CVCLI");  // named after this file, starting at this line
  const int guard_line = __LINE__ - 1;
  ErrorObject e = make_error(kErrOpen, "DBFNTX", 1001, "", kCanDefault);
  raise(e);
  EXPECT_EQ("CVCLI/raise_test.cpp", seen);
  EXPECT_EQ(guard_line, line);
  rt.set_line(42);
  raise(e);
  EXPECT_EQ(42, line);
}

TEST(Raise, QuitUnderWayAnswersBreakWithoutTheHandler) {
  Runtime rt;
  int calls = 0;
  rt.install_handler([&](ErrorObject&) {
    ++calls;
    return Value::logical(false);
  });
  rt.begin_quit();
  ErrorObject e = make_error(kErrWrite, "DBFNTX", 1011);
  RaiseAnswer a = raise(e);
  EXPECT_EQ(RaiseAnswer::Action::Break, a.action);
  EXPECT_EQ(0, calls);
}

TEST(Raise, HandlerThatQuitsUnwindsTheRun) {
  Runtime rt;
  rt.install_handler([&](ErrorObject&) -> Value { Runtime::current().quit(); });
  ErrorObject e = make_error(kErrOpen, "SDF", 1001, "", kCanRetry);
  EXPECT_THROW(raise(e), Unwind);
  EXPECT_TRUE(rt.quitting());
  EXPECT_EQ(0, rt.handler_depth());
}

TEST(RaiseDeathTest, InternalErrors) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        Runtime rt;
        rt.install_handler([](ErrorObject&) { return Value::logical(true); });
        ErrorObject e = make_error(kErrWrite, "DBFNTX", 1011, "", kCanDefault);
        raise(e);
      },
      testing::ExitedWithCode(1), "Unrecoverable error 9001: Error recovery failure");
  EXPECT_EXIT(
      {
        Runtime rt;
        ErrorObject e = make_error(kErrWrite, "DBFNTX", 1011);
        raise(e);
      },
      testing::ExitedWithCode(1), "Unrecoverable error 9002: No ERRORBLOCK\\(\\) for error");
  EXPECT_EXIT(
      {
        Runtime rt;
        rt.install_handler([](ErrorObject& e) { return Value::logical(raise(e).retry()); });
        ErrorObject e = make_error(kErrWrite, "DBFNTX", 1011, "", kCanRetry);
        raise(e);
      },
      testing::ExitedWithCode(1), "Unrecoverable error 9003: Too many recursive error handler");
}

TEST(MemoryVariables, PrivateToTheFunctionThatCreatedThem) {
  Runtime rt;
  {
    FrameGuard f("CVCLI");
    rt.assign_memvar("vcpf", Value::string("1"));
    {
      FrameGuard g("CONV_HEX");
      ASSERT_NE(nullptr, rt.find_memvar("VCPF"));  // visible to called functions
      rt.assign_memvar("VCPF", Value::string("2"));
      rt.assign_memvar("I", Value::int32(1));
    }
    EXPECT_EQ(nullptr, rt.find_memvar("I"));
    EXPECT_EQ("2", rt.find_memvar("Vcpf")->str());
  }
  EXPECT_EQ(nullptr, rt.find_memvar("VCPF"));
}

TEST(Interrupt, UnwindsAtTheNextSafePointWithExitCodeOne) {
  Runtime rt;
  rt.poll_interrupt();  // nothing pending
  Runtime::request_interrupt();
  try {
    rt.poll_interrupt();
    FAIL() << "no unwind";
  } catch (const Unwind& u) {
    EXPECT_EQ(Unwind::Reason::Interrupt, u.reason());
  }
  EXPECT_EQ(1, rt.errorlevel());
  EXPECT_FALSE(Runtime::interrupt_pending());
}

}  // namespace
}  // namespace lum
