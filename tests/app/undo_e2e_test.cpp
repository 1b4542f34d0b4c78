// Undoing runs end to end: the built lumconv runs on generated datasets, and
// "lumconv --undo" then puts every file of the working directory and of the target
// directory back as it was before the run, bytes and modification time (the snapshot's
// own folder aside). The undo refuses, changing nothing, where it must; a run whose
// snapshot cannot be made changes nothing but error.log; a run creates no file it did
// not create before; the destination's own index files are named and left alone; and
// runs killed at moments spread over their length, during the snapshot or the
// conversions, can be undone.
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
#include "tests/support/undo_snapshots.h"
#include "tools/sample/dataset.h"

namespace lum::test {
namespace {

namespace fs = std::filesystem;
using sample::Dataset;
using sample::DatasetOptions;
using sample::Target;
using sample::TextSet;

const std::string kBinary = LUMCONV_BINARY;

void write_file(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

std::uint32_t le(const std::string& b, std::size_t at, int n) {
  std::uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
  return v;
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

// The names whose entries differ between two trees (made, removed or changed).
std::string differences(const Tree& a, const Tree& b) {
  std::string s;
  for (const auto& [name, entry] : a) {
    auto it = b.find(name);
    if (it == b.end()) {
      s += "  " + name + " is gone\n";
    } else if (it->second.bytes != entry.bytes) {
      s += "  " + name + " has other bytes\n";
    } else if (it->second != entry) {
      s += "  " + name + " has another modification time\n";
    }
  }
  for (const auto& [name, entry] : b) {
    if (!a.count(name)) s += "  " + name + " is new\n";
  }
  return s;
}

// The names in `after` that are not in `before`.
std::vector<std::string> made(const Tree& before, const Tree& after) {
  std::vector<std::string> out;
  for (const auto& [name, entry] : after) {
    if (!before.count(name)) out.push_back(name);
  }
  return out;
}

// The folder of the one snapshot in the undo folder.
fs::path the_snapshot(const fs::path& dir) {
  for (const auto& e : fs::directory_iterator(dir / kUndoFolder)) return e.path();
  return {};
}

// The copy of a file in a snapshot (its name ends with the file's, after "NNN-").
fs::path copy_of(const fs::path& snapshot, const std::string& file) {
  for (const auto& e : fs::directory_iterator(snapshot)) {
    const std::string name = e.path().filename().string();
    if (name.size() == file.size() + 4 && name.ends_with(file)) return e.path();
  }
  return {};
}

// As the destination system adds a record: a copy of the table's last record appended
// and counted in the header.
void append_a_record(const fs::path& table) {
  std::string b = read_file(table);
  const std::size_t count = le(b, 4, 4), header = le(b, 8, 2), length = le(b, 10, 2);
  ASSERT_GT(count, 0u);
  const std::string last = b.substr(header + (count - 1) * length, length);
  b.resize(header + count * length);
  b += last;
  b += '\x1a';
  for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<char>((count + 1) >> (8 * i));
  write_file(table, b);
}

// Renames a field in a table's header: a field that the run writes is then missing.
void rename_field(const fs::path& table, const std::string& from, const std::string& to) {
  std::string b = read_file(table);
  const std::size_t header = le(b, 8, 2);
  for (std::size_t d = 32; d + 32 <= header; d += 32) {
    if (b.compare(d, from.size() + 1, from + '\0') == 0) {
      b.replace(d, to.size(), to);
      write_file(table, b);
      return;
    }
  }
  FAIL() << from << " is not a field of " << table;
}

// "1,234,567", as the dry run writes byte counts.
std::string with_thousands(std::uint64_t n) {
  std::string s = std::to_string(n);
  for (int at = static_cast<int>(s.size()) - 3; at > 0; at -= 3) s.insert(at, ",");
  return s;
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

// Runs, then as many undos: each undo brings back the files as they were before the run
// it undoes, byte for byte with their modification times, and one more undo finds
// nothing to undo. No run makes a file it did not make before (the three indexes, and
// error.log after an error), nor a directory, besides its snapshot.
TEST(UndoEndToEnd, EachUndoPutsBackTheFilesOfTheRunBeforeIt) {
  struct Case {
    const char* name;
    int runs;
    bool error_in_fourth;  // the client conversion meets a field its target lacks
  } cases[] = {
      {"a run, then its undo", 1, false},
      {"two runs, then two undos", 2, false},
      {"a run that an error ends in its fourth conversion, then its undo", 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Undoable w(DatasetOptions::with_lines(40, 6));
    if (c.error_in_fourth) rename_field(w.target(Target::kClients), "EMAIL", "EMAIX");
    std::vector<Tree> states = {tree(w.data())};
    for (int i = 0; i < c.runs; ++i) {
      Outcome r = w.run();
      if (c.error_in_fourth) {
        EXPECT_EQ(1, r.code);
        EXPECT_NE(std::string::npos, r.out.find("Variable does not exist: EMAIL")) << r.out;
        EXPECT_NE(std::string::npos, r.out.find("Error at ...: CVCLI(")) << r.out;
      } else {
        EXPECT_EQ(0, r.code) << r.err;
      }
      states.push_back(tree(w.data()));
      std::vector<std::string> allowed = {"LUTMPFOR.ntx", "coditem.ntx", "saldo.ntx"};
      if (c.error_in_fourth) allowed.push_back("error.log");
      for (const std::string& name : made(states[states.size() - 2], states.back())) {
        EXPECT_NE(allowed.end(), std::find(allowed.begin(), allowed.end(), name))
            << "the run made " << name;
      }
      EXPECT_EQ(i + 1, snapshots_in(w.data()).whole);
    }
    for (int i = c.runs; i > 0; --i) {
      Outcome u = w.undo();
      EXPECT_EQ(0, u.code) << u.said();
      EXPECT_NE(std::string::npos, u.out.find("Every file is as it was before the run of "))
          << u.said();
      EXPECT_EQ("", differences(states[i - 1], tree(w.data()))) << "undo " << c.runs - i + 1;
    }
    const Tree undone = tree(w.data(), true);
    Outcome again = w.undo();
    EXPECT_EQ(0, again.code);
    EXPECT_NE(std::string::npos, again.out.find("there is no run to undo")) << again.said();
    EXPECT_EQ("", differences(undone, tree(w.data(), true)));
  }
}

// The undo refuses, with exit code 1 and changing nothing, the snapshot included: when a
// file was changed after the run (the destination system used since: --force puts the
// files back all the same), when a file is held by another program (the same exclusive
// open the run uses; once it is let go, the undo goes ahead), and when a copy of the
// snapshot is missing or its bytes are not those of its manifest. An undo that cannot
// write what it puts back (no room) stops before it changes a file, too, and once there
// is room it goes ahead.
TEST(UndoEndToEnd, RefusesChangingNothing) {
  enum class Spoil { kChangedSince, kHeld, kCopyMissing, kCopyDamaged, kNoRoom };
  struct Case {
    const char* name;
    Spoil spoil;
    std::string said;  // of the clients table, after its name ("<copy>" for its copy's);
                       // of any file when it starts with ':'
  } cases[] = {
      {"no room for what it puts back", Spoil::kNoRoom,
       ": cannot be written beside it (DOS Error 223: "},
      {"a table changed after the run", Spoil::kChangedSince, "\n"},
      {"a table held by another program", Spoil::kHeld,
       " is in use by another program (DOS Error 32: in use by another program). Nothing was "
       "changed.\n"},
      {"a copy missing", Spoil::kCopyMissing, " (<copy>) is missing. Nothing was changed.\n"},
      {"a copy that does not match its manifest", Spoil::kCopyDamaged,
       " (<copy>) does not match its manifest. Nothing was changed.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Undoable w(DatasetOptions::with_lines(20, 2));
    const Tree pristine = tree(w.data());
    ASSERT_EQ(0, w.run().code);
    const fs::path clients = w.target(Target::kClients);
    const fs::path copy = copy_of(the_snapshot(w.data()), clients.filename().string());
    ASSERT_FALSE(copy.empty());
    File holder;
    switch (c.spoil) {
      case Spoil::kChangedSince:
        append_a_record(clients);
        break;
      case Spoil::kHeld:
        ASSERT_EQ(0, holder.open(clients.string(), FileAccess::ReadWrite, FileShare::Exclusive));
        break;
      case Spoil::kCopyMissing:
        fs::remove(copy);
        break;
      case Spoil::kNoRoom:
        break;
      case Spoil::kCopyDamaged: {
        std::string bytes = read_file(copy);
        bytes[bytes.size() / 2] ^= 1;
        write_file(copy, bytes);
        break;
      }
    }
    ProcessOptions o = w.options();
    if (c.spoil == Spoil::kNoRoom) {
#ifdef _WIN32
      continue;  // Windows has no per-process file-size limit; the fault walk fills the disk
#endif
      o.max_file_size = 512;  // below the size of the tables
    }
    const Tree spoilt = tree(w.data(), true);
    Outcome u = w.lumconv({"--undo"}, o);
    EXPECT_EQ(1, u.code);
    std::string said = c.said;
    if (const std::size_t at = said.find("<copy>"); at != std::string::npos) {
      said.replace(at, 6, copy.filename().string());
    }
    if (said.starts_with(":")) {
      EXPECT_NE(std::string::npos, u.err.find(said)) << u.err;
      EXPECT_TRUE(u.err.ends_with(". Nothing was changed.\n")) << u.err;
    } else {
      EXPECT_NE(std::string::npos, u.err.find(w.target_name(Target::kClients) + said)) << u.err;
    }
    EXPECT_EQ("", differences(spoilt, tree(w.data(), true)));
    if (c.spoil == Spoil::kChangedSince) {
      EXPECT_NE(std::string::npos, u.err.find("these files were changed after the run")) << u.err;
      EXPECT_NE(std::string::npos, u.err.find("\"lumconv --undo --force\" puts them back"))
          << u.err;
      u = w.undo(true);
    } else if (c.spoil == Spoil::kHeld || c.spoil == Spoil::kNoRoom) {
      holder.close();
      u = w.undo();
    } else {
      continue;  // nothing puts back what the damaged snapshot has lost
    }
    EXPECT_EQ(0, u.code) << u.said();
    EXPECT_EQ("", differences(pristine, tree(w.data())));
  }
}

// A run whose snapshot cannot be completed (a file to save held by another program, no
// room for the copies) ends through the error path, exit code 1, and leaves nothing but
// error.log: no file changed, no snapshot, partial or whole; the undo then has nothing
// to do.
TEST(UndoEndToEnd, ARunWhoseSnapshotCannotBeMadeChangesNothing) {
  struct Case {
    const char* name;
    bool held;  // else the disk is too small for the copies
    std::string error;
  } cases[] = {
      {"a table held by another program", true,
       "Error UNDO/1102  Open error: \\lum\\firma1\\Clientes.DBF (DOS Error 32)"},
      {"no room for the copies", false, "Error UNDO/1105  Write error: lumconv-undo/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Undoable w(DatasetOptions::with_lines(400, 4));
    ASSERT_EQ("Clientes.DBF", w.dataset().target(Target::kClients).file_name);
    ProcessOptions o = w.options();
    File holder;
    if (c.held) {
      ASSERT_EQ(0, holder.open(w.target(Target::kClients).string(), FileAccess::ReadWrite,
                               FileShare::Exclusive));
    } else {
#ifdef _WIN32
      continue;  // Windows has no per-process file-size limit; the fault walk fills the disk
#endif
      // The tables hold the records of a run before; the copies may not grow past 64 KB.
      ASSERT_EQ(0, w.lumconv({"--no-undo"}).code);
      o.max_file_size = 64 * 1024;
    }
    const Tree before = tree(w.data(), true);
    Outcome r = w.lumconv({}, o);
    EXPECT_EQ(1, r.code);
    EXPECT_NE(std::string::npos, r.out.find(c.error)) << r.out;
    EXPECT_NE(std::string::npos,
              r.err.find("lumconv: an error ended the run; it changed no table, and every table "
                         "is as it was before the run.\n"))
        << r.err;
    Tree after = tree(w.data(), true);
    EXPECT_TRUE(after.contains("error.log"));
    after.erase("error.log");
    after.erase(kUndoFolder);  // made empty, for the snapshots to come
    EXPECT_EQ("", differences(before, after));
    holder.close();
    Outcome u = w.undo();
    EXPECT_EQ(0, u.code);
    EXPECT_NE(std::string::npos, u.out.find("there is no run to undo")) << u.said();
  }
}

// A run with no text file to convert saves nothing; the dry run saves nothing either and
// says how much room the real run's snapshot takes: the bytes of the copies it then makes.
TEST(UndoEndToEnd, NoSnapshotWithoutWorkNorInTheDryRunWhichTellsItsSize) {
  DatasetOptions none = DatasetOptions::with_lines(5, 3);
  none.write_text.fill(false);
  Undoable idle(none);
  EXPECT_EQ(0, idle.run().code);
  EXPECT_FALSE(fs::exists(idle.data() / kUndoFolder));

  Undoable w(DatasetOptions::with_lines(30, 3));
  ASSERT_EQ(0, w.lumconv({"--no-undo"}).code);  // tables with records, and the indexes
  Outcome c = w.lumconv({"--check"});
  EXPECT_EQ(0, c.code) << c.out;
  EXPECT_FALSE(fs::exists(w.data() / kUndoFolder));
  ASSERT_EQ(0, w.run().code);
  std::uint64_t copies = 0;
  for (const auto& e : fs::directory_iterator(the_snapshot(w.data()))) {
    if (e.path().filename() != "manifest.txt") copies += fs::file_size(e.path());
  }
  EXPECT_NE(std::string::npos,
            c.out.find("Before it changes anything, the real run saves the files it may change "
                       "in lumconv-undo, so that \"lumconv --undo\" can put them back: " +
                       with_thousands(copies) + " bytes ("))
      << c.out;
}

// The destination's own index files beside the tables a run rewrites are named by the
// dry run and by the run's account, to be rebuilt in the destination system; neither
// opens or changes them. Index files beside the run's staging tables are not named.
TEST(UndoEndToEnd, TheDestinationsOwnIndexesAreNamedToBeRebuiltAndLeftAlone) {
  Undoable w(DatasetOptions::with_lines(20, 5));
  const fs::path target = Dataset::target_dir(w.data());
  const std::vector<std::string> indexes = {"CLIENTES.NTX", "item.cdx", "Forneced.IDX",
                                            "LURBMOV.mdx", "lupgmov.ndx"};
  for (const std::string& name : indexes) write_file(target / name, "index " + name);
  write_file(target / "leiame.txt", "not an index");
  // An index beside a staging table in the working directory is not the destination's.
  write_file(w.data() / "CBCLI.NTX", "an index of a staging table");
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
  for (const char* other : {"leiame", "CBCLI.NTX"}) {
    EXPECT_EQ(std::string::npos, c.out.find(other)) << c.out;
    EXPECT_EQ(std::string::npos, r.err.find(other)) << r.err;
  }
  left_alone();
}

// Runs on a few thousand records, killed (as kill -9 or a power cut ends a process) at
// moments spread over the snapshot and over the conversions: a run killed before its
// manifest was in place has changed nothing, and the undo clears its partial snapshot;
// a run killed later is put back by the undo, every file as before, bytes and times.
TEST(UndoEndToEnd, RunsKilledAtMomentsSpreadOverTheirLengthAreUndone) {
  Undoable w(DatasetOptions::with_lines(3000, 8));
  // The tables hold records before the run, so that their copies take a while.
  ASSERT_EQ(0, w.lumconv({"--no-undo"}).code);
  copy_tree(w.data(), w.aside("before"));
  const Tree pristine = tree(w.data());

  // The clean run's length, and when its manifest was in place, on a fresh copy as the
  // runs killed below have.
  fs::remove_all(w.data());
  copy_tree(w.aside("before"), w.data());
  using Clock = std::chrono::steady_clock;
  Clock::time_point start = Clock::now();
  Process clean = w.start();
  Clock::duration manifest{}, length{};
  while (clean.running() && snapshots_in(w.data()).whole == 0) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  manifest = Clock::now() - start;
  ASSERT_EQ(0, clean.wait().exit_code);
  length = Clock::now() - start;
  ASSERT_GT(length, manifest);

  std::vector<Clock::duration> moments;
  for (int k = 1; k <= 4; ++k) moments.push_back(manifest * k / 5);
  for (int k = 1; k <= 6; ++k) moments.push_back(manifest + (length - manifest) * k / 7);
  // Kills before the manifest was in place (of them, during the copies: a partial
  // snapshot left), and after.
  int before_manifest = 0, during_copies = 0, after_manifest = 0;
  auto kill_at = [&](Clock::duration moment) {
    fs::remove_all(w.data());
    copy_tree(w.aside("before"), w.data());
    Process p = w.start();
    std::this_thread::sleep_for(moment);
    p = Process();  // killed at once, as kill -9 kills
    const Snapshots s = snapshots_in(w.data());
    if (s.whole == 0) {
      ++before_manifest;
      during_copies += s.partial;
      EXPECT_EQ("", differences(pristine, tree(w.data()))) << "changed before the manifest";
    } else {
      ++after_manifest;
    }
    Outcome u = w.undo();
    EXPECT_EQ(0, u.code) << u.said();
    EXPECT_EQ(0, snapshots_in(w.data()).partial);
    EXPECT_EQ("", differences(pristine, tree(w.data())));
  };
  for (Clock::duration moment : moments) {
    SCOPED_TRACE(std::chrono::duration<double>(moment).count());
    kill_at(moment);
  }
  // Kills early enough to meet the snapshot, should the moments above all have missed it.
  for (auto moment = manifest / 8; before_manifest == 0 && moment > Clock::duration{};
       moment /= 2) {
    kill_at(moment);
  }
  EXPECT_GT(before_manifest, 0);
  EXPECT_GT(after_manifest, 0);
  std::printf("killed %d times before the manifest was in place (%d during the copies), %d "
              "times after; run %.3f s, manifest in place after %.3f s\n",
              before_manifest, during_copies, after_manifest,
              std::chrono::duration<double>(length).count(),
              std::chrono::duration<double>(manifest).count());
}

}  // namespace
}  // namespace lum::test
