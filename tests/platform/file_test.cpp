// Host files: case-blind names, drive root, sharing modes across openers and
// processes, the system's error numbers, transfers, directory listing.
#include "platform/file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/foreign_hold.h"
#include "platform/host_files.h"
#include "platform/process.h"
#include "tests/support/temp_dir.h"
#include "tools/sample/dbf_builder.h"

namespace lum {
namespace {

namespace fs = std::filesystem;
using test::read_file;
using test::TempDir;

void touch(const fs::path& p, const std::string& content = "") {
  if (!p.parent_path().empty()) fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << content;
}

class DriveRootGuard {
 public:
  explicit DriveRootGuard(const fs::path& root) : saved_(drive_root()) {
    set_drive_root(root.string());
  }
  ~DriveRootGuard() { set_drive_root(saved_); }

 private:
  std::string saved_;
};

TEST(ResolveName, MatchesComponentsWithoutCase) {
  TempDir dir(true);
  touch("Data/Sub/Report.Txt");
  touch("Data/Sub/plain.dbf");
  fs::create_directories("Data/Sub/Deeper");
  struct Case {
    const char* name;
    const char* path;
    int oscode;
  } cases[] = {
      {"Data/Sub/Report.Txt", "Data/Sub/Report.Txt", kOsOk},
      {"data\\sub\\report.txt", "Data/Sub/Report.Txt", kOsOk},
      {"DATA/SUB/REPORT.TXT", "Data/Sub/Report.Txt", kOsOk},
      {"data//sub\\\\PLAIN.DBF", "Data/Sub/plain.dbf", kOsOk},
      {"data\\sub\\deeper", "Data/Sub/Deeper", kOsOk},
      {"data\\sub\\missing.txt", "Data/Sub/missing.txt", kOsFileNotFound},
      {"data\\nodir\\x.txt", "Data/nodir/x.txt", kOsPathNotFound},
      {"data\\sub\\report.txt\\x", "Data/Sub/Report.Txt/x", kOsPathNotFound},
      {"nothing.dbf", "nothing.dbf", kOsFileNotFound},
  };
  for (const Case& c : cases) {
    ResolvedName r = resolve_name(c.name);
    EXPECT_EQ(c.path, r.path) << c.name;
    EXPECT_EQ(c.oscode, r.oscode) << c.name;
  }
}

TEST(ResolveName, SeveralCaseVariantsPickTheSmallestUnlessOneIsExact) {
#ifdef _WIN32
  GTEST_SKIP() << "names that differ only in case need a case-sensitive file system; "
                  "Windows' own holds one of them";
#endif
  TempDir dir(true);
  touch("dup/abc.txt", "lower");
  touch("dup/Abc.txt", "mixed");
  touch("dup/ABC.txt", "upper");
  EXPECT_EQ("dup/ABC.txt", resolve_name("dup/aBC.txt").path);
  EXPECT_EQ("dup/ABC.txt", resolve_name("DUP/abC.TXT").path);
  EXPECT_EQ("dup/Abc.txt", resolve_name("dup/Abc.txt").path);
  EXPECT_EQ("dup/abc.txt", resolve_name("dup/abc.txt").path);
}

TEST(ResolveName, LeadingSeparatorAndDriveMeanTheDriveRoot) {
  TempDir root;
  touch(root / "lum/firma1/CLIENTES.DBF");
  DriveRootGuard guard(root.path());
  std::string expected = (root / "lum/firma1/CLIENTES.DBF").string();
  for (const char* name : {"\\lum\\firma1\\clientes.dbf", "/LUM/FIRMA1/Clientes.dbf",
                           "C:\\lum\\firma1\\clientes.DBF", "\\\\lum\\firma1\\clientes.dbf"}) {
    ResolvedName r = resolve_name(name);
    EXPECT_EQ(kOsOk, r.oscode) << name;
    EXPECT_EQ(fs::path(expected), fs::path(r.path).lexically_normal()) << name;
  }
  EXPECT_TRUE(file_exists("\\LUM\\firma1\\clientes.dbf"));
  EXPECT_FALSE(file_exists("\\lum\\firma1"));  // a directory is no file
}

TEST(File, ReportsTheSystemsErrorNumbers) {
  TempDir dir(true);
  touch("t/table.dbf", "x");
  File f;
  EXPECT_EQ(kOsFileNotFound, f.open("t/none.dbf", FileAccess::ReadWrite, FileShare::Exclusive));
  EXPECT_EQ(kOsPathNotFound, f.open("u/table.dbf", FileAccess::ReadWrite, FileShare::Exclusive));
  EXPECT_EQ(kOsAccessDenied, f.open("t", FileAccess::ReadOnly, FileShare::Shared));
  EXPECT_FALSE(f.is_open());
  ASSERT_EQ(kOsOk, f.open("T/TABLE.DBF", FileAccess::ReadOnly, FileShare::Shared));
  IoResult w = f.write_at(0, "y", 1);
  EXPECT_EQ(0u, w.bytes);
  EXPECT_EQ(kOsAccessDenied, w.oscode);
  File empty;
  char c;
  EXPECT_EQ(kOsAccessDenied, empty.read_at(0, &c, 1).oscode);
}

// What a hostile directory can hold in place of a file. A pipe or a device is refused
// at once, without waiting for a writer (a read from one could wait, or never end); a
// loop of symbolic links and a name longer than the host allows give their own numbers.
TEST(File, RefusesWhatIsNoRegularFile) {
  TempDir dir(true);
  fs::create_directory("sub");
  struct Case {
    std::string name;
    int oscode;
  };
  std::vector<Case> cases = {
      {"sub", kOsAccessDenied},
      {std::string(300, 'n') + ".dbf", kOsNameTooLong},
      {"sub/" + std::string(256, 'n'), kOsNameTooLong},
  };
  // Hosts that cannot make symbolic links (Windows without the right to) have no loops.
  std::error_code ec;
  fs::create_symlink("loop_b", "loop_a", ec);
  const bool links = !ec;
  if (links) {
    fs::create_symlink("loop_a", "loop_b");
    cases.push_back({"loop_a", kOsCannotResolve});
  }
#ifndef _WIN32  // devices and named pipes in the file system are POSIX's
  for (const char* device : {"/dev/null", "/dev/zero"}) {
    if (fs::exists(device)) cases.push_back({device, kOsAccessDenied});
  }
  if (fs::exists("/usr/bin/mkfifo")) {
    ASSERT_EQ(0, run_process("/usr/bin/mkfifo", {"pipe"}).exit_code);
    cases.push_back({"pipe", kOsAccessDenied});
  }
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name.substr(0, 20));
    File f;
    EXPECT_EQ(c.oscode, f.open(c.name, FileAccess::ReadOnly, FileShare::Shared));
    EXPECT_EQ(c.oscode, f.open(c.name, FileAccess::ReadWrite, FileShare::Exclusive));
    EXPECT_EQ(c.oscode, f.create(c.name, FileShare::Exclusive));
    EXPECT_FALSE(f.is_open());
    EXPECT_FALSE(file_exists(c.name));
  }
  if (links) {
    EXPECT_TRUE(fs::is_symlink("loop_a")) << "a refused create leaves the name as it was";
  }
}

// Bytes above 127 are bytes of the run's one code page: kept as they are, and matched
// case-blind only in their ASCII letters.
TEST(File, NamesWithBytesAbove127) {
  TempDir dir(true);
  touch(
      "d\xE9"
      "bito.dbf",
      "x");
  File f;
  EXPECT_EQ(kOsOk, f.open("D\xE9"
                          "BITO.DBF",
                          FileAccess::ReadWrite, FileShare::Exclusive));
  f.close();
  EXPECT_EQ(kOsOk, f.create("\xE7\xE3o.txt", FileShare::Exclusive));
  EXPECT_EQ(1u, f.write_at(0, "z", 1).bytes);
  f.close();
  EXPECT_TRUE(file_exists("\xE7\xE3O.TXT"));
  EXPECT_EQ((std::vector<std::string>{"d\xE9"
                                      "bito.dbf"}),
            list_files("*.DBF"));
  EXPECT_EQ(kOsOk, rename_file("\xE7\xE3o.txt", "\xFFm.txt"));
  EXPECT_EQ(kOsOk, delete_file("\xFFM.TXT"));
  EXPECT_EQ((std::vector<std::string>{"d\xE9"
                                      "bito.dbf"}),
            list_files("*.*"));
}

TEST(File, SharingModesBetweenOpeners) {
  TempDir dir(true);
  touch("s.dbf", "abc");
  struct Case {
    FileShare first, second;
    int expected;
  } cases[] = {
      {FileShare::Exclusive, FileShare::Exclusive, kOsFileInUse},
      {FileShare::Exclusive, FileShare::Shared, kOsFileInUse},
      {FileShare::Shared, FileShare::Exclusive, kOsFileInUse},
      {FileShare::Shared, FileShare::Shared, kOsOk},
  };
  for (const Case& c : cases) {
    File a, b;
    ASSERT_EQ(kOsOk, a.open("s.dbf", FileAccess::ReadWrite, c.first));
    EXPECT_EQ(c.expected, b.open("S.DBF", FileAccess::ReadOnly, c.second));
  }
  // Closing releases the file.
  File a, b;
  ASSERT_EQ(kOsOk, a.open("s.dbf", FileAccess::ReadWrite, FileShare::Exclusive));
  a.close();
  EXPECT_EQ(kOsOk, b.open("s.dbf", FileAccess::ReadWrite, FileShare::Exclusive));
}

// The exit code of the lock helper: the OS code of its open.
int run_helper(const std::vector<std::string>& args) {
  ProcessOutcome r = run_process(LUM_LOCK_HELPER, args);
  EXPECT_TRUE(r.started) << r.out;
  return r.exit_code;
}

TEST(File, ExclusiveOpenDeniesAnotherProcess) {
  TempDir dir;
  std::string name = (dir / "held.dbf").string();
  touch(name, "abc");
  {
    File mine;
    ASSERT_EQ(kOsOk, mine.open(name, FileAccess::ReadWrite, FileShare::Exclusive));
    EXPECT_EQ(kOsFileInUse, run_helper({"try", name, "shared"}));
    EXPECT_EQ(kOsFileInUse, run_helper({"try", name, "exclusive"}));
  }
  {
    File mine;
    ASSERT_EQ(kOsOk, mine.open(name, FileAccess::ReadOnly, FileShare::Shared));
    EXPECT_EQ(kOsOk, run_helper({"try", name, "shared"}));
    EXPECT_EQ(kOsFileInUse, run_helper({"try", name, "exclusive"}));
  }
  EXPECT_EQ(kOsOk, run_helper({"try", name, "exclusive"}));
}

#ifndef _WIN32
// Another program's fcntl record lock, as file servers for Windows clients and other
// programs on the host take them (length 0: the whole file and past its end).
struct RecordLock {
  std::string kind, start, length;
};
const RecordLock kOtherLocks[] = {
    {"write", "1000000000", "1"}, {"write", "0", "0"}, {"read", "1000000000", "1"}, {"read", "0", "0"}};

// A second process holding one of them until it goes out of scope.
class RecordHolder {
 public:
  RecordHolder(const fs::path& dir, const std::string& file, const RecordLock& lock)
      : ready_((dir / "ready").string()), release_((dir / "release").string()) {
    fs::remove(ready_);
    fs::remove(release_);
    started_ = holder_.start(LUM_LOCK_HELPER, {"hold-record", file, lock.kind, lock.start,
                                               lock.length, ready_, release_});
    for (int i = 0; started_ && i < 1000 && !fs::exists(ready_); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~RecordHolder() {
    std::ofstream(release_) << "go";
    holder_.wait();
  }
  bool holds() const { return fs::exists(ready_); }

 private:
  std::string ready_, release_;
  Process holder_;
  bool started_ = false;
};

// Opens meet the record locks of other programs both ways: an exclusive open is refused
// while another process holds any lock on the file, a shared one while it holds a write
// lock; and while this process holds the file exclusively no other process can lock
// any of it, while shared only for reading.
TEST(File, OpensMeetTheRecordLocksOfOtherPrograms) {
  TempDir dir;
  const std::string name = (dir / "held.dbf").string();
  touch(name, "abc");
  for (const RecordLock& lock : kOtherLocks) {
    SCOPED_TRACE(lock.kind + " lock at " + lock.start + ", length " + lock.length);
    const bool write = lock.kind == "write";
    {
      RecordHolder holder(dir.path(), name, lock);
      ASSERT_TRUE(holder.holds());
      File f;
      EXPECT_EQ(kOsFileInUse, f.open(name, FileAccess::ReadWrite, FileShare::Exclusive));
      EXPECT_EQ(kOsFileInUse, f.open(name, FileAccess::ReadOnly, FileShare::Exclusive));
      EXPECT_EQ(kOsFileInUse, f.create(name, FileShare::Exclusive));
      EXPECT_EQ(write ? kOsFileInUse : kOsOk,
                f.open(name, FileAccess::ReadWrite, FileShare::Shared));
    }
    EXPECT_EQ("abc", read_file(name)) << "a refused create empties nothing";
    struct Mine {
      FileAccess access;
      FileShare share;
    } mine_cases[] = {{FileAccess::ReadWrite, FileShare::Exclusive},
                      {FileAccess::ReadOnly, FileShare::Exclusive},
                      {FileAccess::ReadWrite, FileShare::Shared},
                      {FileAccess::ReadOnly, FileShare::Shared}};
    for (const Mine& m : mine_cases) {
      File mine;
      ASSERT_EQ(kOsOk, mine.open(name, m.access, m.share));
      const bool refused = m.share == FileShare::Exclusive || write;
      EXPECT_EQ(refused ? kOsFileInUse : kOsOk,
                run_helper({"record", name, lock.kind, lock.start, lock.length}))
          << (m.share == FileShare::Exclusive ? "exclusive" : "shared")
          << (m.access == FileAccess::ReadOnly ? ", read-only" : "");
    }
  }
}

// The engine's own record locks live beside the sharing lock on the same open file:
// two shared openers lock different records against each other, an unlock leaves no
// hole in the sharing lock, and closing another descriptor of the file in this process
// keeps it.
TEST(File, SharingLockOutlivesRecordUnlocksAndOtherDescriptors) {
  TempDir dir;
  const std::string name = (dir / "shared.dbf").string();
  touch(name, "abc");
  File a, b;
  ASSERT_EQ(kOsOk, a.open(name, FileAccess::ReadWrite, FileShare::Shared));
  ASSERT_EQ(kOsOk, b.open(name, FileAccess::ReadWrite, FileShare::Shared));
  EXPECT_EQ(kOsOk, a.lock_range(1000000005, 1, true));
  EXPECT_EQ(kOsFileInUse, b.lock_range(1000000005, 1, true));
  EXPECT_EQ(kOsOk, b.lock_range(1000000006, 1, true));
  EXPECT_EQ(kOsOk, a.unlock_range(1000000005, 1));
  EXPECT_EQ(kOsOk, b.unlock_range(1000000006, 1));
  for (const char* at : {"1000000005", "1000000006", "0"}) {
    EXPECT_EQ(kOsFileInUse, run_helper({"record", name, "write", at, "1"})) << at;
  }
  File other;
  ASSERT_EQ(kOsOk, other.open(name, FileAccess::ReadOnly, FileShare::Shared));
  other.close();
  EXPECT_EQ(kOsFileInUse, run_helper({"record", name, "write", "0", "0"}));
  EXPECT_EQ(kOsOk, run_helper({"record", name, "read", "0", "0"}));
  a.close();
  b.close();
  EXPECT_EQ(kOsOk, run_helper({"record", name, "write", "0", "0"}));
}
#endif

#ifdef _WIN32
// Windows: other programs meet the run's opens through their share modes. An open that
// denies writing keeps the run's writing opens out, and while the run holds a file an
// open that denies others fails.
TEST(File, ShareModesOfOtherOpenersMeetTheOpens) {
  TempDir dir;
  const std::string name = (dir / "held.dbf").string();
  touch(name, "abc");
  ForeignHold other;
  ASSERT_EQ(kOsOk, other.open_sharing(name, false));
  File f;
  EXPECT_EQ(kOsFileInUse, f.open(name, FileAccess::ReadWrite, FileShare::Exclusive));
  EXPECT_EQ(kOsFileInUse, f.open(name, FileAccess::ReadWrite, FileShare::Shared));
  other.release();
  ASSERT_EQ(kOsOk, f.open(name, FileAccess::ReadWrite, FileShare::Exclusive));
  EXPECT_EQ(kOsFileInUse, other.open_sharing(name, true));
}
#endif

TEST(File, PositionedTransfersSizeTruncate) {
  TempDir dir(true);
  File f;
  ASSERT_EQ(kOsOk, f.create("new.bin", FileShare::Exclusive));
  EXPECT_EQ(0u, f.size().bytes);
  EXPECT_EQ(5u, f.write_at(10, "hello", 5).bytes);
  EXPECT_EQ(15u, f.size().bytes);
  char buf[20] = {};
  IoResult r = f.read_at(8, buf, sizeof buf);
  EXPECT_EQ(7u, r.bytes);  // cut at the end of the file, no error
  EXPECT_EQ(kOsOk, r.oscode);
  EXPECT_EQ(std::string("\0\0hello", 7), std::string(buf, 7));
  EXPECT_EQ(kOsOk, f.truncate(12));
  EXPECT_EQ(12u, f.size().bytes);
  EXPECT_EQ(kOsOk, f.commit());
  EXPECT_EQ(0u, f.read_at(100, buf, 4).bytes);
}

TEST(File, CreateKeepsTheSpellingOfAnExistingFile) {
  TempDir dir(true);
  touch("Index.NTX", "old content");
  File f;
  ASSERT_EQ(kOsOk, f.create("index.ntx", FileShare::Exclusive));
  EXPECT_EQ("Index.NTX", f.path());
  EXPECT_EQ(0u, f.size().bytes);
  File g;
  ASSERT_EQ(kOsOk, g.create("Fresh.Ntx", FileShare::Exclusive));
  EXPECT_EQ("Fresh.Ntx", g.path());
  EXPECT_TRUE(fs::exists("Fresh.Ntx"));
  // A file held by another opener is neither emptied nor opened.
  File h;
  EXPECT_EQ(kOsFileInUse, h.create("INDEX.ntx", FileShare::Exclusive));
}

TEST(File, RangeLocksConflictBetweenOpeners) {
  TempDir dir(true);
  touch("r.dbf", "abc");
  File a, b;
  ASSERT_EQ(kOsOk, a.open("r.dbf", FileAccess::ReadWrite, FileShare::Shared));
  ASSERT_EQ(kOsOk, b.open("r.dbf", FileAccess::ReadWrite, FileShare::Shared));
  EXPECT_EQ(kOsOk, a.lock_range(1000000001, 1, true));
  EXPECT_EQ(kOsFileInUse, b.lock_range(1000000001, 1, true));
  EXPECT_EQ(kOsOk, b.lock_range(1000000002, 1, true));
  EXPECT_EQ(kOsOk, a.unlock_range(1000000001, 1));
  EXPECT_EQ(kOsOk, b.lock_range(1000000001, 1, true));
}

TEST(File, ListsDeletesAndRenames) {
  TempDir dir(true);
  touch("d/b.TXT");
  touch("d/a.txt");
  touch("d/c.dbf");
  touch("d/noext");
  fs::create_directories("d/sub.txt");
  EXPECT_EQ((std::vector<std::string>{"a.txt", "b.TXT"}), list_files("D\\*.txt"));
  EXPECT_EQ((std::vector<std::string>{"a.txt", "b.TXT", "c.dbf", "noext"}), list_files("d/*.*"));
  EXPECT_EQ((std::vector<std::string>{"c.dbf"}), list_files("d/?.DBF"));
  EXPECT_TRUE(list_files("nodir/*.*").empty());
  EXPECT_EQ(kOsOk, rename_file("d/C.DBF", "d/e.dbf"));
  EXPECT_EQ(kOsAccessDenied, rename_file("d/a.txt", "d/E.DBF"));  // never replaces a file
  EXPECT_EQ(kOsFileNotFound, rename_file("d/c.dbf", "d/f.dbf"));
  EXPECT_EQ(kOsOk, delete_file("D/E.dbf"));
  EXPECT_EQ(kOsFileNotFound, delete_file("d/e.dbf"));
  EXPECT_EQ(kOsAccessDenied, delete_file("d/sub.txt"));
}

// Every regular file below `dir` with its bytes and modification time.
std::map<std::string, std::pair<std::string, fs::file_time_type>> tree(const fs::path& dir) {
  std::map<std::string, std::pair<std::string, fs::file_time_type>> files;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (!e.is_regular_file()) continue;
    std::ifstream in(e.path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    files[fs::relative(e.path(), dir).string()] = {bytes, e.last_write_time()};
  }
  return files;
}

std::string read_name(std::string_view name) {
  File f;
  if (f.open(name, FileAccess::ReadOnly, FileShare::Shared) != kOsOk) return "<none>";
  std::string s(static_cast<std::size_t>(f.size().bytes), '\0');
  f.read_at(0, s.data(), s.size());
  return s;
}

// With scratch copies on, the working directory and the drive root keep every byte and
// modification time whatever the run does by name: writes, creates, deletes, renames,
// exclusive opens; the run itself sees its own changes, and a file held by another
// opener is refused as it would be.
TEST(File, ScratchCopiesTakeEveryChangeAndLeaveTheFilesAsTheyWere) {
  TempDir work(true), scratch;
  DriveRootGuard root(work / "root");
  touch("a.dbf", "AAAA");
  touch("root/LUM/T.dbf", "TTTT");
  touch("held.dbf", "H");
  touch("text.txt", "line");
  const auto before = tree(work.path());
  File holder;
  ASSERT_EQ(kOsOk, holder.open("held.dbf", FileAccess::ReadWrite, FileShare::Exclusive));
  ASSERT_TRUE(begin_scratch(scratch.path().string()));
  {
    File f;
    ASSERT_EQ(kOsOk, f.open("A.DBF", FileAccess::ReadWrite, FileShare::Exclusive));
    EXPECT_EQ(2u, f.write_at(0, "XX", 2).bytes);
    File t;
    ASSERT_EQ(kOsOk, t.open("\\lum\\t.dbf", FileAccess::ReadWrite, FileShare::Exclusive));
    EXPECT_EQ(kOsOk, t.truncate(1));
  }
  EXPECT_EQ("XXAA", read_name("a.dbf"));
  EXPECT_EQ("T", read_name("\\LUM\\T.DBF"));
  EXPECT_EQ("line", read_name("text.txt"));
  {
    File n;
    ASSERT_EQ(kOsOk, n.create("New.ntx", FileShare::Exclusive));
    EXPECT_EQ(3u, n.write_at(0, "idx", 3).bytes);
  }
  EXPECT_TRUE(file_exists("NEW.NTX"));
  EXPECT_EQ(std::vector<std::string>{"New.ntx"}, list_files("*.ntx"));
  EXPECT_EQ(kOsOk, delete_file("a.dbf"));
  EXPECT_FALSE(file_exists("a.dbf"));
  EXPECT_EQ(kOsFileNotFound, File().open("a.dbf", FileAccess::ReadOnly, FileShare::Shared));
  EXPECT_EQ((std::vector<std::string>{"held.dbf"}), list_files("*.dbf"));
  EXPECT_EQ(kOsOk, rename_file("text.txt", "moved.txt"));
  EXPECT_EQ("line", read_name("moved.txt"));
  EXPECT_FALSE(file_exists("text.txt"));
  EXPECT_EQ(kOsAccessDenied, rename_file("moved.txt", "held.dbf"));
  // Held by another opener: the exclusive use is refused, a shared read is not.
  File denied;
  EXPECT_EQ(kOsFileInUse, denied.open("held.dbf", FileAccess::ReadWrite, FileShare::Exclusive));
  EXPECT_EQ(kOsFileInUse, denied.create("held.dbf", FileShare::Exclusive));

  struct Seen {
    std::string name;
    bool existed, changed, gone;
  };
  std::vector<Seen> seen;
  for (const ScratchFile& s : scratch_files()) {
    EXPECT_TRUE(s.copy.starts_with(fs::absolute(scratch.path()).generic_string())) << s.copy;
    seen.push_back({fs::path(s.path).filename().string(), s.existed, s.changed, s.gone});
  }
  ASSERT_EQ(5u, seen.size());
  EXPECT_EQ("a.dbf", seen[0].name);
  EXPECT_TRUE(seen[0].existed && seen[0].changed && seen[0].gone);
  EXPECT_EQ("T.dbf", seen[1].name);
  EXPECT_EQ("New.ntx", seen[2].name);
  EXPECT_TRUE(!seen[2].existed && seen[2].changed && !seen[2].gone);
  EXPECT_EQ("moved.txt", seen[3].name);  // in the order of their first change
  EXPECT_EQ("text.txt", seen[4].name);
  EXPECT_TRUE(seen[4].gone);
  end_scratch();

  holder.close();
  EXPECT_EQ(before, tree(work.path()));
  EXPECT_EQ("AAAA", read_name("a.dbf"));
  EXPECT_FALSE(file_exists("New.ntx"));
}

// Spellings of the directory `dir` (absolute, below the working directory): as the host
// writes it, with a trailing separator, from the root of its drive, relative to the
// working directory, and through a symbolic link where the host makes them; on Windows
// also with "/" for "\\" and the other way round, and the drive letter in the other case.
std::vector<std::string> spellings_of(const fs::path& dir) {
  const std::string native = dir.string();
  std::vector<std::string> out = {native, native + "/", dir.relative_path().string().insert(0, "/"),
                                  fs::relative(dir).string(),
                                  "./" + fs::relative(dir).generic_string() + "/"};
#ifdef _WIN32
  std::string other = native;
  for (char& c : other) c = c == '/' ? '\\' : c == '\\' ? '/' : c;
  out.push_back(other);
  if (dir.has_root_name()) {  // "C:": the letter in the other case
    other = native;
    other[0] = static_cast<char>(other[0] ^ 0x20);
    out.push_back(other);
  }
#endif
  std::error_code ec;
  fs::create_directory_symlink(dir, "link", ec);
  if (!ec) {
    out.push_back("link");
    out.push_back(fs::absolute("link").string());
  }
  return out;
}

// Whether the run changed a file does not hang on how its name or the drive root was
// spelled: for every spelling of the drive root, in a real run and with scratch copies,
// every name that reaches a changed file says so, and the changed files are known below
// the drive root and the working directory by the same names.
TEST(File, ChangedFilesAreKnownByWhatTheyAreNotHowTheyAreSpelled) {
  TempDir work(true);
  touch("root/lum/firma1/T.DBF", "t");
  touch("root/lum/firma1/U.DBF", "u");
  touch("cb.dbf", "c");
  for (const std::string& root : spellings_of(fs::absolute("root"))) {
    for (bool copies : {false, true}) {
      SCOPED_TRACE(root + (copies ? ", scratch copies" : ""));
      DriveRootGuard guard(root);
      forget_changed_files();
      TempDir scratch;
      if (copies) {
        ASSERT_TRUE(begin_scratch(scratch.path().string()));
      }
      {
        File t, n;
        ASSERT_EQ(kOsOk, t.open("\\lum\\firma1\\t.dbf", FileAccess::ReadWrite, FileShare::Exclusive));
        EXPECT_EQ(1u, t.write_at(0, "T", 1).bytes);
        ASSERT_EQ(kOsOk, n.create("/LUM/firma1/new.ntx", FileShare::Exclusive));
      }
      for (const char* name : {"\\lum\\firma1\\T.DBF", "/LUM/FIRMA1/t.dbf", "c:\\lum\\firma1\\t.dbf",
                               "C:/lum/firma1/T.dbf", "root/LUM/firma1/t.DBF", "\\lum\\FIRMA1\\NEW.ntx",
                               "root\\lum\\firma1\\new.ntx"}) {
        EXPECT_TRUE(changed_by_run(name)) << name;
      }
      for (const char* name : {"\\lum\\firma1\\u.dbf", "root/lum/firma1/U.DBF", "cb.dbf", "none.dbf"}) {
        EXPECT_FALSE(changed_by_run(name)) << name;
      }
      // Every name sees the run's own change.
      EXPECT_EQ("T", read_name("root/Lum/Firma1/t.dbf"));
      std::vector<std::string> changed = changed_files();
      if (copies) {
        changed.clear();
        for (const ScratchFile& f : scratch_files()) changed.push_back(f.path);
      }
      ASSERT_EQ(2u, changed.size());
      EXPECT_EQ("lum/firma1/T.DBF", path_below(changed[0], drive_root()).value_or("-"));
      // Below the working directory as the drive root was spelled there ("root" or
      // "link"): a name that reaches the file.
      const std::string here = path_below(changed[1], "").value_or("-");
      EXPECT_TRUE(here.ends_with("/lum/firma1/new.ntx")) << here;
      EXPECT_TRUE(changed_by_run(here)) << here;
      EXPECT_EQ(std::nullopt, path_below(changed[0], "root/lum/firma1/T.DBF"));
      EXPECT_EQ(std::nullopt, path_below("cb.dbf", drive_root()));
      if (copies) {
        end_scratch();
      } else {
        ASSERT_EQ(kOsOk, delete_file("\\lum\\firma1\\new.ntx"));
      }
    }
  }
  EXPECT_EQ("T", read_file("root/lum/firma1/T.DBF"));
  EXPECT_EQ("u", read_file("root/lum/firma1/U.DBF"));
}

// Every OS code the layer reports has an operator's plain meaning, the same on every
// host, and the host's own errors arrive as those numbers: a POSIX error never takes
// the number of a different meaning (EIO is no "access denied" 5, EPIPE no "in use" 32).
TEST(OsCode, PlainMeaningOfEveryCodeTheHostReports) {
  struct Case {
    int code;
    const char* meaning;
  } cases[] = {
      {kOsFileNotFound, "file not found"},
      {kOsPathNotFound, "path not found"},
      {kOsAccessDenied, "access denied"},
      {kOsFileInUse, "in use by another program"},
      {kOsDiskFull, "disk full"},
      {kOsNameTooLong, "name too long"},
      {kOsCannotResolve, "name cannot be resolved"},
      {kOsTooManyOpenFiles, "too many open files"},
      {kOsDeviceError, "device input/output error"},
      {kOsFileTooLarge, "file too large"},
      {kOsAlreadyExists, "file already exists"},
      {99999, "system error"},
      {-1, "system error"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.meaning, os_code_meaning(c.code)) << c.code;

  struct HostCase {
    long error;  // errno, or GetLastError()
    int code;
  } host_cases[] = {
#ifdef _WIN32
      {2, kOsFileNotFound},       {3, kOsPathNotFound},    {5, kOsAccessDenied},
      {32, kOsFileInUse},         {33, kOsFileInUse},      {112, kOsDiskFull},
      {39, kOsDiskFull},          {123, kOsPathNotFound},  {206, kOsNameTooLong},
      {14, kOsNotEnoughMemory},   {80, kOsFileExists},     {183, kOsAlreadyExists},
      {19, kOsWriteProtected},    {21, kOsNotReady},       {23, kOsDataError},
      {1117, kOsDeviceError},     {1921, kOsCannotResolve}, {53, kOsNetworkPathNotFound},
#else
      {ENOENT, kOsFileNotFound},   {ENOTDIR, kOsPathNotFound},    {EACCES, kOsAccessDenied},
      {EPERM, kOsAccessDenied},    {EROFS, kOsAccessDenied},      {EISDIR, kOsAccessDenied},
      {EBADF, kOsAccessDenied},    {EWOULDBLOCK, kOsFileInUse},   {EBUSY, kOsFileInUse},
      {ETXTBSY, kOsFileInUse},     {EDEADLK, kOsFileInUse},       {ENOSPC, kOsDiskFull},
      {EDQUOT, kOsDiskFull},       {ENAMETOOLONG, kOsNameTooLong}, {ELOOP, kOsCannotResolve},
      {EIO, kOsDeviceError},       {EMFILE, kOsTooManyOpenFiles}, {ENFILE, kOsTooManyOpenFiles},
      {ENOMEM, kOsNotEnoughMemory}, {EXDEV, kOsNotSameDevice},    {ENODEV, kOsNotReady},
      {ENXIO, kOsNotReady},        {ENOLCK, kOsTooManyLocks},     {EOPNOTSUPP, kOsNotSupported},
      {ESTALE, kOsNetworkNameGone}, {EHOSTDOWN, kOsNetworkNameGone}, {EEXIST, kOsFileExists},
      {EINVAL, kOsInvalidParameter}, {EFAULT, kOsInvalidParameter}, {ESPIPE, kOsInvalidParameter},
      {EPIPE, kOsPipeClosed},      {ETIMEDOUT, kOsTimedOut},      {ENOTEMPTY, kOsDirectoryNotEmpty},
      {EFBIG, kOsFileTooLarge},    {EOVERFLOW, kOsFileTooLarge},  {EINTR, kOsInterrupted},
      {EMLINK, kOsTooManyLinks},
#endif
  };
  for (const HostCase& c : host_cases) {
    EXPECT_EQ(c.code, os_code_of_host_error(c.error)) << c.error;
    EXPECT_NE("system error", os_code_meaning(c.code)) << c.code;
  }
}

TEST(File, FaultHookCutsTransfers) {
  TempDir dir(true);
  File f;
  ASSERT_EQ(kOsOk, f.create("f.bin", FileShare::Exclusive));
  set_io_fault_hook([](IoOp op, const std::string&, std::uint64_t, std::size_t, IoFault& fault) {
    if (op != IoOp::Write) return false;
    fault.allow = 2;
    fault.oscode = kOsDiskFull;
    return true;
  });
  IoResult w = f.write_at(0, "abcdef", 6);
  set_io_fault_hook(nullptr);
  EXPECT_EQ(2u, w.bytes);
  EXPECT_EQ(kOsDiskFull, w.oscode);
  EXPECT_EQ(2u, f.size().bytes);
}

// A copy between two files goes through the host when it can; either way it gives the
// bytes at the same offsets, fewer at the end of the source without an error, and on a
// failure says whether the reading or the writing failed.
TEST(File, CopiesBetweenFilesAndTellsWhichSideFailed) {
  TempDir dir(true);
  std::string bytes(700 * 1024 + 7, '\0');  // more than one buffer of a copy by hand
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 + i / 4096);
  touch("from.bin", bytes);
  struct Case {
    const char* name;
    std::uint64_t offset;
    std::size_t n;
    std::optional<IoOp> fault_on;  // cut short: the read of the source or the write
    int code;                      // of the cut (0: a read cut short like the end)
    std::uint64_t copied;
    bool reading;
  } cases[] = {
      {"the whole file", 0, bytes.size(), {}, kOsOk, bytes.size(), false},
      {"a range inside it", 300000, 5000, {}, kOsOk, 5000, false},
      {"past the end", 700000, 1 << 20, {}, kOsOk, bytes.size() - 700000, false},
      {"the reading fails", 4096, 9000, IoOp::Read, kOsReadFault, 100, true},
      {"the writing fails", 4096, 9000, IoOp::Write, kOsDiskFull, 100, false},
      {"a read cut short", 0, 9000, IoOp::Read, kOsOk, 100, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    File from, to;
    ASSERT_EQ(kOsOk, from.open("from.bin", FileAccess::ReadOnly, FileShare::Shared));
    ASSERT_EQ(kOsOk, to.create("to.bin", FileShare::Exclusive));
    set_io_fault_hook([&c](IoOp op, const std::string&, std::uint64_t, std::size_t, IoFault& fault) {
      if (!c.fault_on || op != *c.fault_on) return false;
      fault.allow = 100;
      fault.oscode = c.code;
      return true;
    });
    bool reading = !c.reading;
    const IoResult r = to.copy_from(from, c.offset, c.n, reading);
    set_io_fault_hook(nullptr);
    EXPECT_EQ(c.copied, r.bytes);
    EXPECT_EQ(c.code, r.oscode);
    if (c.code != kOsOk) {
      EXPECT_EQ(c.reading, reading);
    }
    std::string got(static_cast<std::size_t>(r.bytes), '\0');
    EXPECT_EQ(r.bytes, to.read_at(c.offset, got.data(), got.size()).bytes);
    EXPECT_EQ(bytes.substr(static_cast<std::size_t>(c.offset), got.size()), got);
    EXPECT_EQ(c.offset + r.bytes, to.size().bytes);
  }
}

}  // namespace
}  // namespace lum
