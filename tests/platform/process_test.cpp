// Running another program: arguments without a shell, working directory, environment,
// captured outputs, exit codes, a program that cannot start, and an interrupt.
#include "platform/process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/temp_dir.h"

namespace lum {
namespace {

const std::string kHelper = LUM_LOCK_HELPER;

TEST(Process, RunsWithItsDirectoryEnvironmentAndExitCode) {
  test::TempDir dir;
  std::filesystem::create_directory(dir / "with space");
  struct Case {
    std::vector<std::string> set, unset;
    const char* code;
    std::string err;
  } cases[] = {
      {{"LUM_PROBE=a b'c"}, {}, "0", "a b'c"},
      {{"LUM_PROBE=x", "LUM_PROBE=y"}, {}, "7", "y"},
      {{}, {"LUM_PROBE"}, "3", "<unset>"},
  };
  for (const Case& c : cases) {
    ProcessOptions o;
    o.cwd = (dir / "with space").string();
    o.set_env = c.set;
    o.unset_env = c.unset;
    ProcessOutcome r = run_process(kHelper, {"report", c.code, "LUM_PROBE"}, o);
    ASSERT_TRUE(r.started) << r.out;
    EXPECT_EQ(std::stoi(c.code), r.exit_code);
    EXPECT_EQ(0, r.signal);
    EXPECT_EQ(std::filesystem::canonical(dir / "with space").string(), r.out);
    EXPECT_EQ(c.err, r.err);
#ifndef _WIN32  // wine keeps no memory counters of a process that has ended
    EXPECT_GT(r.peak_memory_bytes, 0u);
#endif
  }
}

TEST(Process, OutputsToFilesAndAProgramThatCannotStart) {
  test::TempDir dir;
  ProcessOptions o;
  o.stdout_file = (dir / "out.txt").string();
  o.stderr_file = (dir / "err.txt").string();
  o.set_env = {"LUM_PROBE=z"};
  ProcessOutcome r = run_process(kHelper, {"report", "0", "LUM_PROBE"}, o);
  EXPECT_EQ(0, r.exit_code);
  EXPECT_EQ("", r.out + r.err);
  EXPECT_EQ(1u, std::filesystem::file_size(dir / "err.txt"));

  ProcessOutcome missing = run_process((dir / "no-such-program").string(), {});
  EXPECT_FALSE(missing.started);
  EXPECT_EQ(-1, missing.exit_code);
  EXPECT_NE(std::string::npos, missing.out.find("no-such-program")) << missing.out;
  o.cwd = (dir / "no-such-dir").string();
  EXPECT_FALSE(run_process(kHelper, {"sleep"}, o).started);
}

// A file without write permission refuses a writer that is not the superuser: the child
// runs as the unprivileged user when this test runs as the superuser (as in CI), and as
// this user otherwise. The same child as the superuser opens it.
TEST(Process, ChildAsAnUnprivilegedUserMeetsFilePermissions) {
  test::TempDir dir;
  const std::filesystem::path file = dir / "locked.dbf";
  { std::ofstream(file) << "x"; }
  std::filesystem::permissions(file, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::group_read |
                                         std::filesystem::perms::others_read);
  ProcessOptions o;
  o.run_as = unprivileged_user();
  if (o.run_as) {
    ASSERT_EQ(0, give_to_user(dir.path().string(), *o.run_as));
    ProcessOutcome root = run_process(kHelper, {"try", file.string(), "exclusive"});
    EXPECT_EQ(0, root.exit_code) << "the superuser opens a read-only file for writing";
  }
  ProcessOutcome r = run_process(kHelper, {"try", file.string(), "exclusive"}, o);
  if (o.run_as && !r.started)
    GTEST_SKIP() << "this host lets no program drop to another user: " << r.out;
  ASSERT_TRUE(r.started) << r.out;
  EXPECT_EQ(5, r.exit_code);  // access denied
  ProcessOutcome shared = run_process(kHelper, {"try", (dir / "none").string(), "shared"}, o);
  EXPECT_EQ(2, shared.exit_code);
}

TEST(Process, InterruptEndsAProgramThatDoesNotCatchIt) {
  Process p;
  ASSERT_TRUE(p.start(kHelper, {"sleep"}));
  EXPECT_TRUE(p.running());
  p.interrupt();
  ProcessOutcome r = p.wait();
  EXPECT_FALSE(p.running());
#ifdef _WIN32
  EXPECT_EQ(kInterruptedExitCode, r.exit_code);
#else
  EXPECT_EQ(-1, r.exit_code);
  EXPECT_NE(0, r.signal);
#endif
}

}  // namespace
}  // namespace lum
