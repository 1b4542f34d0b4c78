#include "app/program.h"

#include "app/check_report.h"
#include "app/main_run.h"
#include "app/run_plan.h"
#include "platform/text.h"

#include <string>
#include <vector>

namespace lum {

namespace {

constexpr const char* kUsageHead =
    "Usage: lumconv [//NOALERT] [//DRIVE:<dir>] [--no-undo]\n"
    "       lumconv --check [//DRIVE:<dir>]\n"
    "       lumconv --undo [--force] [//DRIVE:<dir>]\n"
    "       lumconv --help | -h | //HELP\n"
    "       lumconv --version\n"
    "\n"
    "Moves the data exported by the older system into the destination tables under\n"
    "\\lum\\firma1. Run it without arguments from the working directory that holds the\n"
    "exported text files and the staging tables.\n"
    "\n"
    "Reads, from the working directory (names in any letter case):\n";

constexpr const char* kUsageOpens =
    "A required file that is missing, or a table that cannot be opened, ends the run\n"
    "with an error before its conversion has changed anything; conversions that\n"
    "finished before keep their new content.\n"
    "\n"
    "Every run can be undone: before it changes anything, a run saves every file it\n"
    "may change (for each conversion whose file is present: its tables, their memo\n"
    "files, its indexes, and error.log) into a new folder lumconv-undo/<date>-<time>\n"
    "in the working directory, with a manifest.txt that lists each file as it was.\n"
    "A run whose snapshot cannot be made (no room, a file held by another program)\n"
    "changes nothing. \"lumconv --undo\" then puts the files back.\n";

constexpr const char* kUsageTail =
    "Switches (also read from the environment variable LUMCONV, several separated by\n"
    "blanks; the command line wins):\n"
    "  //NOALERT      never wait for an answer: an error is reported and ends the run\n"
    "  //DRIVE:<dir>  the directory that a leading \"\\\" names (default \"/\")\n"
    "  --check        a dry run: the whole run on scratch copies of the tables, in a\n"
    "                 temporary directory removed afterwards (set TMPDIR to choose\n"
    "                 where), then a report of what the run would do: each text\n"
    "                 file's lines against its staging record, the records written,\n"
    "                 control totals, suppliers and items not found, each index\n"
    "                 verified, how the run would end, the destination's indexes\n"
    "                 to rebuild after it, and the room its undo snapshot needs.\n"
    "                 None of your files is opened for writing; nobody is asked\n"
    "                 anything\n"
    "  --undo         put back every file of the most recent run not undone yet, as\n"
    "                 it was before that run, and remove the files the run made;\n"
    "                 again for the run before that one, and so on. Give it the\n"
    "                 run's //DRIVE:. It changes nothing and says why when a file\n"
    "                 is held by another program, was changed after the run ended\n"
    "                 (the destination system was used since), when the snapshot\n"
    "                 is damaged, or when there is no room to write every file it\n"
    "                 puts back beside the one it replaces, which it does first; an\n"
    "                 undo that is interrupted finishes when run again. The snapshot\n"
    "                 stays, marked as undone, until you delete its folder\n"
    "  --force        with --undo: put back the files changed after the run, too\n"
    "  --no-undo      a real run without the snapshot: it needs no room and no time\n"
    "                 for the copies, but then nothing can put the files back; keep\n"
    "                 a copy of your own\n"
    "  //HELP, --help, -h  print this text and change nothing\n"
    "  --version      print the version and change nothing\n"
    "\n"
    "Standard error: after an error, which files the run changed (every other table\n"
    "is as it was); after a normal run, the text files whose lines are not as long as\n"
    "their staging table's record, or that there was nothing to convert; after any\n"
    "run, each error that was settled with Default while the run went on (a table\n"
    "held by another program, an operator's answer), what it left undone, and the\n"
    "conversions that stopped before changing anything because of it; the index files\n"
    "of the destination beside the tables the run rewrote, which must be rebuilt in\n"
    "the destination system; and how to undo the run (after a normal run, one line\n"
    "that says where its snapshot is). An operating-system code is given with its\n"
    "meaning (DOS Error 32: in use by another program).\n"
    "\n"
    "Exit codes:\n"
    "  0  the run ended normally (also after --help and --version); with --check:\n"
    "     the real run would end normally; with --undo: every file is as it was\n"
    "     before the run, or there was no run to undo\n"
    "  1  an error ended the run (see error.log), or a signal interrupted it; with\n"
    "     --check: the real run would end with an error (or the dry run could not\n"
    "     be made or was interrupted); with --undo: it refused, failed or was\n"
    "     interrupted\n"
    "  2  the command line or LUMCONV held something not understood; nothing was changed\n";

// `words` after `first`, broken into lines of at most kWidth columns; every line
// after the first starts with `indent` blanks.
std::string wrapped(std::string first, std::string_view words, std::size_t indent) {
  constexpr std::size_t kWidth = 79;
  std::string out, line = std::move(first);
  bool bare = true;  // no word on the line yet
  for (std::size_t from = 0; from < words.size();) {
    std::size_t end = words.find(' ', from);
    if (end == std::string_view::npos) end = words.size();
    const std::string_view word = words.substr(from, end - from);
    from = end + 1;
    if (!bare && line.size() + 1 + word.size() > kWidth) {
      out += line + "\n";
      line.assign(indent, ' ');
      bare = true;
    }
    if (!bare) line += ' ';
    line += word;
    bare = false;
  }
  return out + line + "\n";
}

// The files of the plan: each text file with what it holds and when it is read, and
// what the run rewrites.
std::string usage_files() {
  struct Line {
    std::string trigger, text;
  };
  std::vector<Line> lines;
  for (const ConversionPlan& c : run_plan()) {
    Line* line = nullptr;
    for (Line& l : lines) {
      if (equal_case_blind(l.trigger, c.trigger)) line = &l;
    }
    for (const TextImport& t : c.texts) {
      if (equal_case_blind(t.text, c.trigger)) {
        lines.push_back({c.trigger, std::string(t.what) + ", converted when it is present"});
        line = &lines.back();
        line->trigger = c.trigger;
        line->text.insert(0, std::string(t.text) + "\t");
      }
    }
    for (const TextImport& t : c.texts) {
      if (line != nullptr && !equal_case_blind(t.text, c.trigger)) {
        line->text += std::string("; then ") + t.text + " (" + t.what + ") is required too";
      }
    }
  }
  std::string s;
  for (const Line& l : lines) {
    const std::size_t tab = l.text.find('\t');
    std::string name = "  " + l.text.substr(0, tab);
    name.resize(16, ' ');
    s += wrapped(name, l.text.substr(tab + 1), 16);
  }
  s += kUsageOpens;
  std::string targets, staging, indexes;
  for (const ConversionPlan& c : run_plan()) {
    const std::string target = c.table(c.target).alias;
    if (targets.find(target) == std::string::npos) targets += (targets.empty() ? "" : ", ") + target;
    for (const TextImport& t : c.texts) {
      std::string name = c.table(t.staging).name;
      name = name.substr(0, name.find('.'));
      staging += (staging.empty() ? "" : ", ") + name;
    }
    for (const IndexBuild& ix : c.indexes) indexes += (indexes.empty() ? "" : ", ") + std::string(ix.file);
  }
  s += "\nRewrites (empties, then refills; the table structures never change):\n";
  s += "  \\lum\\firma1: " + targets + " (.dbf)\n";
  s += wrapped("  ", "working directory: the staging tables " + staging + " (.dbf), the indexes " +
                         indexes + " (.ntx), and error.log when an error ends the run.",
               2);
  return s;
}

}  // namespace

Program lumconv_program() {
  Program p;
  p.name = "lumconv";
  p.version = LUM_VERSION;
  p.usage = kUsageHead + usage_files() + "\n" + kUsageTail;
  p.modules.push_back(Module{"lumconv", {{"MAIN", [] { MAIN(); }}}});
  p.check_report = conversions_check_report;
  p.files_to_save = files_a_run_may_change;
  p.destination_tables = destination_tables;
  return p;
}

}  // namespace lum
