// The start-up switches from the environment variable and the command line.
#include <gtest/gtest.h>

#include "frame/switches.h"

namespace lum {
namespace {

TEST(Switches, EnvironmentThenCommandLine) {
  struct Case {
    const char* env;
    std::vector<std::string> args;
    bool noalert, help, version;
    const char* drive;  // nullptr: not set
    std::vector<std::string> rest;
    const char* error;  // a part of the error text, "" for none
  } cases[] = {
      {"", {}, false, false, false, nullptr, {}, ""},
      {"//NOALERT", {}, true, false, false, nullptr, {}, ""},
      {"  //noalert   //DRIVE:/data ", {}, true, false, false, "/data", {}, ""},
      {"//DRIVE:/env", {"//drive:/cmd"}, false, false, false, "/cmd", {}, ""},
      {"", {"//HELP"}, false, true, false, nullptr, {}, ""},
      {"//help", {}, false, true, false, nullptr, {}, ""},
      {"", {"--help"}, false, true, false, nullptr, {}, ""},
      {"", {"-h"}, false, true, false, nullptr, {}, ""},
      {"", {"--version"}, false, false, true, nullptr, {}, ""},
      {"", {"word", "-x"}, false, false, false, nullptr, {"word", "-x"}, ""},
      {"", {"//NOALERTS"}, false, false, false, nullptr, {}, "//NOALERTS"},
      {"", {"//DRIVE:"}, false, false, false, nullptr, {}, "//DRIVE:"},
      {"--help", {}, false, false, false, nullptr, {}, "LUMCONV"},
      {"//HLEP", {"--help"}, false, true, false, nullptr, {}, "//HLEP"},
  };
  for (const Case& c : cases) {
    Switches s = read_switches(c.env, c.args);
    SCOPED_TRACE(std::string(c.env) + " | " + (c.args.empty() ? "" : c.args[0]));
    EXPECT_EQ(c.noalert, s.noalert);
    EXPECT_EQ(c.help, s.help);
    EXPECT_EQ(c.version, s.version);
    EXPECT_EQ(c.drive != nullptr, s.drive.has_value());
    if (c.drive != nullptr && s.drive) {
      EXPECT_EQ(c.drive, *s.drive);
    }
    EXPECT_EQ(c.rest, s.arguments);
    if (*c.error == '\0') {
      EXPECT_EQ("", s.error);
    } else {
      EXPECT_NE(std::string::npos, s.error.find(c.error)) << s.error;
    }
  }
}

// --check is a word of the command line, like --help; the environment holds switches only.
TEST(Switches, CheckComesFromTheCommandLine) {
  EXPECT_TRUE(read_switches("", std::vector<std::string>{"--check", "//NOALERT"}).check);
  EXPECT_EQ("", read_switches("//NOALERT", std::vector<std::string>{"--check"}).error);
  const Switches env = read_switches("--check", {});
  EXPECT_FALSE(env.check);
  EXPECT_NE(std::string::npos, env.error.find("--check"));
  EXPECT_FALSE(read_switches("", std::vector<std::string>{"--CHECK"}).check);
}

}  // namespace
}  // namespace lum
