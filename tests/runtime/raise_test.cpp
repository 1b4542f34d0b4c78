// Raising errors: the handler's answers, TRIES, and the internal errors that end the
// process when the answer does not fit the error's flags.
#include <gtest/gtest.h>

#include <vector>

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

// with_retry, which every retried operation of the layers above goes through.
TEST(WithRetry, RepeatsTheOneOperationWhileTheHandlerAnswersRetry) {
  struct Case {
    const char* what;
    int retries;      // retry answers the handler gives before it declines
    int succeeds_at;  // the attempt that succeeds, 0 for none
    bool result;
    int attempts;
    int raises;
  } cases[] = {
      {"first attempt succeeds", 3, 1, true, 1, 0},
      {"declined at once", 0, 2, false, 1, 1},
      {"a retry succeeds", 3, 3, true, 3, 2},
      {"retries run out", 2, 0, false, 3, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Runtime rt;
    std::vector<ErrorObject> seen;
    int retries = c.retries;
    rt.install_handler([&](ErrorObject& e) {
      seen.push_back(e);
      return Value::logical(retries-- > 0);
    });
    ErrorObject e = make_error(kErrOpen, "SDF", 1001, "", kCanRetry | kCanDefault);
    e.filename = "x.txt";
    int attempts = 0;
    bool ok = with_retry(e, [&](int& oscode) {
      ++attempts;
      if (attempts == c.succeeds_at) return true;
      if (attempts % 2 == 1) oscode = 30 + attempts;  // even attempts leave it unset
      return false;
    });
    EXPECT_EQ(c.result, ok);
    EXPECT_EQ(c.attempts, attempts);
    ASSERT_EQ(static_cast<std::size_t>(c.raises), seen.size());
    for (std::size_t i = 0; i < seen.size(); ++i) {
      // One object for every attempt: TRIES counts the retries answered before.
      EXPECT_EQ(static_cast<int>(i), seen[i].tries) << i;
      EXPECT_EQ(i % 2 == 0 ? 31 + static_cast<int>(i) : 0, seen[i].oscode) << i;
      EXPECT_EQ("x.txt", seen[i].filename);
      EXPECT_EQ(kCanRetry | kCanDefault, seen[i].flags());
    }
  }
}

TEST(WithRetry, MakesALazyErrorAtTheFirstFailureOnlyAndUsesTheGivenRaiser) {
  Runtime rt;
  rt.install_handler([](ErrorObject&) -> Value {
    ADD_FAILURE() << "the given raiser is used, not the handler";
    return Value::logical(false);
  });
  int made = 0;
  auto error = [&] {
    ++made;
    return make_error(kErrRead, "DBF", 1010, "", kCanRetry | kCanDefault);
  };
  std::vector<int> tries;
  auto raiser = [&](ErrorObject& e) {
    tries.push_back(e.tries);
    RaiseAnswer a;
    a.action = tries.size() < 3 ? RaiseAnswer::Action::Retry : RaiseAnswer::Action::Default;
    if (a.retry()) ++e.tries;
    return a;
  };
  EXPECT_TRUE(with_retry(
      error, [](int&) { return true; }, raiser));
  EXPECT_EQ(0, made);
  EXPECT_FALSE(with_retry(
      error, [](int&) { return false; }, raiser));
  EXPECT_EQ(1, made);
  EXPECT_EQ((std::vector<int>{0, 1, 2}), tries);
}

}  // namespace
}  // namespace lum
