// Undoable runs end to end: the built lumconv runs on generated datasets; the
// destination's own index files are named and left alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/file.h"
#include "platform/process.h"
#include "tests/support/temp_dir.h"
#include "tools/sample/dataset.h"

namespace lum::test {
namespace {

namespace fs = std::filesystem;
using sample::Dataset;
using sample::DatasetOptions;
using sample::Target;
using sample::TextSet;

const std::string kBinary = LUMCONV_BINARY;
constexpr const char* kUndoFolder = "lumconv-undo";

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

// Every file below `dir` with its bytes and modification time, and every directory;
// the undo snapshots aside unless asked for.
struct Entry {
  bool directory = false;
  std::string bytes;
  fs::file_time_type time{};
  bool operator==(const Entry&) const = default;
};
using Tree = std::map<std::string, Entry>;
Tree tree(const fs::path& dir, bool with_snapshots = false) {
  Tree t;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    const fs::path rel = fs::relative(e.path(), dir);
    if (!with_snapshots && *rel.begin() == kUndoFolder) continue;
    // A directory's own time changes with what is made and removed in it.
    t[rel.generic_string()] = e.is_directory() ? Entry{true, {}, {}}
                                               : Entry{false, read_file(e.path()), e.last_write_time()};
  }
  return t;
}

struct Outcome {
  int code = -1;
  std::string out, err;
  std::string said() const { return out + err; }
};

// A generated dataset in a fresh directory, which is the working directory and the
// drive root of every run.
class Undoable {
 public:
  explicit Undoable(const DatasetOptions& o) : ds_(o) { ds_.write(data()); }
  const Dataset& dataset() const { return ds_; }
  fs::path data() const { return dir_ / "data"; }
  fs::path target(Target t) const { return Dataset::target_dir(data()) / ds_.target(t).file_name; }
  std::string target_name(Target t) const { return "\\lum\\firma1\\" + ds_.target(t).file_name; }
  // A place beside the data for copies of it.
  fs::path aside(const std::string& name) const { return dir_ / name; }

  ProcessOptions options() const {
    ProcessOptions o;
    o.cwd = data().string();
    o.unset_env = {"LUMCONV"};
    return o;
  }
  Process start(std::vector<std::string> args = {}) const {
    args.push_back("//DRIVE:" + data().string());
    Process p;
    EXPECT_TRUE(p.start(kBinary, args, options()));
    return p;
  }
  Outcome lumconv(std::vector<std::string> args, ProcessOptions o) const {
    args.push_back("//DRIVE:" + data().string());
    ProcessOutcome p = run_process(kBinary, args, o);
    EXPECT_TRUE(p.started) << p.out;
    return {p.exit_code, p.out, p.err};
  }
  Outcome lumconv(std::vector<std::string> args) const { return lumconv(std::move(args), options()); }
  Outcome run() const { return lumconv({}); }
  Outcome undo(bool force = false) const {
    return lumconv(force ? std::vector<std::string>{"--undo", "--force"}
                         : std::vector<std::string>{"--undo"});
  }

 private:
  Dataset ds_;
  TempDir dir_;
};

// The destination's own index files beside the tables a run rewrites are named by the
// dry run and by the run's account, to be rebuilt in the destination system; neither
// opens or changes them.
TEST(UndoEndToEnd, TheDestinationsOwnIndexesAreNamedToBeRebuiltAndLeftAlone) {
  Undoable w(DatasetOptions::with_lines(20, 5));
  const fs::path target = Dataset::target_dir(w.data());
  const std::vector<std::string> indexes = {"CLIENTES.NTX", "item.cdx", "Forneced.IDX",
                                            "LURBMOV.mdx", "lupgmov.ndx"};
  for (const std::string& name : indexes) write_file(target / name, "index " + name);
  write_file(target / "leiame.txt", "not an index");
  const Tree before = tree(target);
  auto left_alone = [&] {
    const Tree now = tree(target);
    for (const std::string& name : indexes) EXPECT_TRUE(before.at(name) == now.at(name)) << name;
    EXPECT_TRUE(before.at("leiame.txt") == now.at("leiame.txt"));
  };
  Outcome c = w.lumconv({"--check"});
  EXPECT_EQ(0, c.code);
  left_alone();
  EXPECT_NE(std::string::npos,
            c.out.find("These index files beside the tables it would rewrite would no longer "
                       "match them; rebuild them in the destination system after the run, "
                       "before the data is used:\n"))
      << c.out;
  Outcome r = w.run();
  EXPECT_EQ(0, r.code);
  EXPECT_NE(std::string::npos,
            r.err.find("lumconv: these index files beside the tables the run rewrote no longer "
                       "match them; rebuild them in the destination system before the data is "
                       "used:\n"))
      << r.err;
  for (const std::string& name : indexes) {
    EXPECT_NE(std::string::npos, c.out.find("\n  \\lum\\firma1\\" + name + "\n")) << name;
    EXPECT_NE(std::string::npos, r.err.find("\n  \\lum\\firma1\\" + name + "\n")) << name;
  }
  EXPECT_EQ(std::string::npos, c.out.find("leiame")) << c.out;
  EXPECT_EQ(std::string::npos, r.err.find("leiame")) << r.err;
  left_alone();
}

}  // namespace
}  // namespace lum::test
