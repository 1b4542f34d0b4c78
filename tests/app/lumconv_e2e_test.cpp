// The built lumconv program end to end: a run in an empty working directory with its
// output going to a file, help and refused command lines, and a run on a real terminal
// (tmux) whose screen is read back.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "tests/frame/frame_fixture.h"

namespace lum {
namespace {

namespace fs = std::filesystem;
using testing_support::read_file;

const std::string kBinary = LUMCONV_BINARY;
const std::string kBanner1 = std::string(15, ' ') + "Qo Softwares 00-0000-0000";
const std::string kBanner2 = std::string(15, ' ') + "Convertendo dados do Cobol para \\lum\\firma1";
const std::string kNothing =
    "lumconv: nothing to convert: no FORNECED.TXT, PAGAR.txt, prod.txt, clientes.txt\n";

struct RunResult {
  int code = -1;
  std::string out, err;
};

// Runs lumconv in `dir` with standard input from nothing and its outputs captured;
// `env` entries ("NAME=value") are added to an environment without LUMCONV.
RunResult run_lumconv(const fs::path& dir, const std::vector<std::string>& args,
                      const std::vector<std::string>& env = {}) {
  ProcessOptions o;
  o.cwd = dir.string();
  o.unset_env = {"LUMCONV"};
  o.set_env = env;
  ProcessOutcome p = run_process(kBinary, args, o);
  EXPECT_TRUE(p.started) << p.out;
  return RunResult{p.exit_code, p.out, p.err};
}

class LumconvBinary : public ::testing::Test {
 protected:
  LumconvBinary() {
    fs::create_directory("work");
    fs::create_directory("scratch");
    work_ = fs::absolute("work");
    scratch_ = fs::absolute("scratch");
  }
  bool work_is_empty() const { return fs::directory_iterator(work_) == fs::directory_iterator(); }

  testing_support::TempDir tmp_;
  fs::path work_, scratch_;
};

TEST_F(LumconvBinary, EmptyDirectoryShowsTheBannerAndCreatesNothing) {
  RunResult r = run_lumconv(work_, {});
  EXPECT_EQ(0, r.code);
  EXPECT_EQ("\n\n" + kBanner1 + "\n" + kBanner2 + "\n", r.out);
  EXPECT_EQ(kNothing, r.err);
  EXPECT_TRUE(work_is_empty());
}

TEST_F(LumconvBinary, SwitchesFromTheEnvironmentAndTheCommandLine) {
  fs::create_directory(scratch_ / "root");
  RunResult r = run_lumconv(work_, {"//NOALERT", "//DRIVE:" + (scratch_ / "root").string()},
                            {"LUMCONV=//NOALERT"});
  EXPECT_EQ(0, r.code);
  EXPECT_EQ("\n\n" + kBanner1 + "\n" + kBanner2 + "\n", r.out);
  EXPECT_TRUE(work_is_empty());
}

TEST_F(LumconvBinary, HelpAndVersionChangeNothing) {
  fs::create_directories(work_ / "lum" / "firma1");
  testing_support::write_file(work_ / "forneced.txt", "x");
  for (const char* arg : {"--help", "-h", "//HELP"}) {
    RunResult r = run_lumconv(work_, {arg});
    EXPECT_EQ(0, r.code) << arg;
    EXPECT_TRUE(r.out.starts_with("Usage: lumconv")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("Exit codes:"));
    EXPECT_NE(std::string::npos, r.out.find("LUMCONV"));
    EXPECT_NE(std::string::npos, r.out.find("\n  --check "));
    EXPECT_NE(std::string::npos, r.out.find("prod.txt      products, converted when it is present; "
                                            "then SALDO.txt (stock\n"));
    EXPECT_NE(std::string::npos, r.out.find("then receber.txt\n"));
  }
  RunResult env = run_lumconv(work_, {}, {"LUMCONV=//HELP"});
  EXPECT_TRUE(env.out.starts_with("Usage: lumconv"));
  RunResult v = run_lumconv(work_, {"--version"});
  EXPECT_EQ(0, v.code);
  EXPECT_EQ("lumconv 1.0.0\n", v.out);
  EXPECT_EQ("x", read_file(work_ / "forneced.txt"));
  EXPECT_EQ(2, std::distance(fs::directory_iterator(work_), fs::directory_iterator()));
}

TEST_F(LumconvBinary, RefusedCommandLinesExitWithTwo) {
  for (const char* args : {"//NOPE", "clientes.txt", "//DRIVE:/no/such/dir"}) {
    RunResult r = run_lumconv(work_, {args});
    EXPECT_EQ(2, r.code) << args;
    EXPECT_EQ("", r.out);
    EXPECT_NE(std::string::npos, r.err.find("lumconv --help"));
  }
  EXPECT_TRUE(work_is_empty());
}

TEST_F(LumconvBinary, RealTerminalShowsTheBannerAtItsPositions) {
#ifdef _WIN32
  GTEST_SKIP() << "tmux drives a POSIX terminal; under wine there is no console to show";
#endif
  const std::string kTmux = "/usr/bin/tmux";
  if (!fs::exists(kTmux)) GTEST_SKIP() << "tmux is not installed";
  const std::vector<std::string> server = {"-f", "/dev/null", "-S",
                                           (scratch_ / "tmux.sock").string()};
  auto tmux = [&](std::vector<std::string> args) {
    args.insert(args.begin(), server.begin(), server.end());
    return run_process(kTmux, args);
  };
  // tmux runs the window's command through the shell; the exit code shows below it.
  ProcessOutcome session = tmux({"new-session", "-d", "-x", "80", "-y", "25", "-s", "e2e", "-c",
                                 work_.string(), "'" + kBinary + "'; echo exit=$?; sleep 60"});
  ASSERT_EQ(0, session.exit_code) << session.err;
  std::string screen;
  for (int i = 0; i < 100 && screen.find("exit=") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    screen = tmux({"capture-pane", "-p", "-t", "e2e"}).out;
  }
  tmux({"kill-server"});
  std::vector<std::string> rows;
  for (size_t at = 0; at < screen.size();) {
    size_t end = screen.find('\n', at);
    if (end == std::string::npos) end = screen.size();
    rows.push_back(screen.substr(at, end - at));
    at = end + 1;
  }
  ASSERT_GE(rows.size(), 5u) << screen;
  EXPECT_EQ("", rows[0]);
  EXPECT_EQ("", rows[1]);
  EXPECT_EQ(kBanner1, rows[2]);
  EXPECT_EQ(kBanner2, rows[3]);
  // The run's screen stays; its note and the shell go on below the last line it showed.
  EXPECT_EQ(kNothing, rows[4] + "\n");
  EXPECT_EQ("exit=0", rows[5]);
  EXPECT_TRUE(work_is_empty());
}

}  // namespace
}  // namespace lum
