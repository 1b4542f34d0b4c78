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
    "Usage: lumconv [//NOALERT] [//DRIVE:<dir>]\n"
    "       lumconv --check [//DRIVE:<dir>]\n"
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
    "finished before keep their new content.\n";

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
    "                 verified, and how the run would end. None of your files is\n"
    "                 opened for writing; nobody is asked anything\n"
    "  //HELP, --help, -h  print this text and change nothing\n"
    "  --version      print the version and change nothing\n"
    "\n"
    "Standard error: after an error, which files the run changed (every other table\n"
    "is as it was); after a normal run, the text files whose lines are not as long as\n"
    "their staging table's record, or that there was nothing to convert; after any\n"
    "run, each error that was settled with Default while the run went on (a table\n"
    "held by another program, an operator's answer), what it left undone, and the\n"
    "conversions that stopped before changing anything because of it. An operating-\n"
    "system code is given with its meaning (DOS Error 32: in use by another program).\n"
    "\n"
    "Exit codes:\n"
    "  0  the run ended normally (also after --help and --version); with --check:\n"
    "     the real run would end normally\n"
    "  1  an error ended the run (see error.log), or a signal interrupted it; with\n"
    "     --check: the real run would end with an error (or the dry run could not\n"
    "     be made or was interrupted)\n"
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
  return p;
}

}  // namespace lum
