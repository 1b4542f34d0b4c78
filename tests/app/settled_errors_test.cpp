// Errors settled with Default while the run goes on: the handler settles a table held
// by another program by itself, and an operator at a terminal may answer Default to the
// error that follows; the conversion then gives up before changing anything and the run
// can end with exit code 0. The account on standard error must list every such error
// and what it left undone, and name the table that could not be opened and why, also
// when an unattended run ends with the error that followed.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <string>

#include "app/program.h"
#include "frame/startup.h"
#include "platform/file.h"
#include "tests/console/scripted_terminal.h"
#include "tests/support/temp_dir.h"
#include "tools/sample/dataset.h"

namespace lum::test {
namespace {

namespace fs = std::filesystem;
using sample::Dataset;
using sample::DatasetOptions;
using sample::TextSet;

struct Outcome {
  int code = -1;
  std::string err;
};

// The whole run in this process on a dataset whose client staging table another opener
// holds, with an operator who presses `keys` at every alert (none: //NOALERT).
Outcome run_with_held_staging(const std::deque<int>& keys) {
  TempDir dir;
  DatasetOptions options = DatasetOptions::with_lines(4);
  Dataset ds(options);
  ds.write(dir.path());
  File holder;
  EXPECT_EQ(kOsOk, holder.open((dir / ds.staging(TextSet::kClients).file_name).string(),
                               FileAccess::ReadWrite, FileShare::Exclusive));
  const fs::path back = fs::current_path();
  fs::current_path(dir.path());
  Outcome o;
  Program p = lumconv_program();
  p.environment = "";
  p.out = [](std::string_view) {};
  p.err = [&o](std::string_view s) { o.err += s; };
  p.open_terminal = [keys] { return std::make_unique<testing_support::ScriptedTerminal>(keys); };
  const std::string drive = "//DRIVE:" + dir.path().string();
  // Without the undo snapshot, which would stop at the held table before the
  // conversions.
  if (keys.empty()) {
    const char* argv[] = {"lumconv", "//NOALERT", "--no-undo", drive.c_str()};
    o.code = run_program(p, 4, argv);
  } else {
    const char* argv[] = {"lumconv", "--no-undo", drive.c_str()};
    o.code = run_program(p, 3, argv);
  }
  set_drive_root("/");
  fs::current_path(back);
  return o;
}

TEST(SettledErrors, TheAccountListsEachAndWhatItLeftUndone) {
  // The operator answers Default to the error that follows the held table.
  const Outcome o = run_with_held_staging({'d', 'd', 'd'});
  EXPECT_EQ(0, o.code);
  EXPECT_EQ(
      "lumconv: the run went on past errors that were settled with Default:\n"
      "  Error DBFNTX/1001  Open error: cbCli.dbf (DOS Error 32: in use by another program)\n"
      "    settled by the program itself in CVCLI (Clients): cbCli.dbf was not opened\n"
      "  Error DBCMD/2001  Workarea not in use: __DBZAP\n"
      "    settled by the operator in CVCLI (Clients): __DBZAP was not done\n"
      "lumconv: CVCLI (Clients) stopped before changing anything: \\lum\\firma1\\Clientes.DBF "
      "keeps the records it had\n",
      o.err);
}

TEST(SettledErrors, AnUnattendedRunNamesTheTableThatDidNotOpen) {
  const Outcome o = run_with_held_staging({});
  EXPECT_EQ(1, o.code);
  EXPECT_NE(std::string::npos,
            o.err.find("lumconv: the run went on past an error that was settled with Default:\n"
                       "  Error DBFNTX/1001  Open error: cbCli.dbf (DOS Error 32: in use by "
                       "another program)\n"
                       "    settled by the program itself in CVCLI (Clients): cbCli.dbf was not "
                       "opened\n"))
      << o.err;
}

}  // namespace
}  // namespace lum::test
