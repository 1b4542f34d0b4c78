#include "app/check_report.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "app/run_plan.h"
#include "frame/account.h"
#include "import/line_scan.h"
#include "index/ntx_verify.h"
#include "platform/file.h"
#include "platform/text.h"
#include "table/files.h"
#include "table/table_scan.h"
#include "table/table_totals.h"

namespace lum {

namespace {

// --- the run's files, as the names of the run reach them ---

// A file of the run as the report names it: the system's own form ("\lum\firma1\..."
// below the drive root, the bare name in the working directory) with the file's
// spelling on disk.
std::string shown(const std::string& name) { return operator_file_name(resolve_name(name).path); }

std::string list(const std::vector<std::string>& items, std::uint64_t total) {
  std::string s;
  for (const std::string& i : items) s += " " + std::string(trim_blanks(i));
  if (total > items.size()) s += " ...";
  return s;
}

std::string item(const std::string& label, const std::string& text) {
  return "   " + label + ": " + text + "\n";
}

// --- a text file's lines against its staging record ---

std::string lines_text(const LineTally& t, std::uint64_t length, const std::string& table) {
  std::string s = plural(t.lines, "line", "lines");
  if (t.all_fit()) {
    if (t.lines == 0) return s;
    return s + (t.lines == 1 ? ", " : ", all ") + std::to_string(length) +
           " bytes long like a record of " + table;
  }
  const auto range = [](std::uint64_t lo, std::uint64_t hi) {
    return lo == hi ? plural(lo, "byte", "bytes")
                    : std::to_string(lo) + " to " + std::to_string(hi) + " bytes";
  };
  s += ", not all " + std::to_string(length) + " bytes long like a record of " + table + ":";
  if (t.shorter > 0)
    s += " " + std::to_string(t.shorter) + " shorter by " + range(t.min_short, t.max_short);
  if (t.longer > 0) {
    s += std::string(t.shorter > 0 ? "," : "") + " " + std::to_string(t.longer) + " longer by " +
         range(t.min_long, t.max_long);
  }
  s += " (line";
  if (t.shorter + t.longer > 1) s += "s";
  for (std::uint64_t n : t.first) s += " " + std::to_string(n);
  if (t.shorter + t.longer > t.first.size()) s += " ...";
  return s + ")";
}

std::string text_lines(const TextImport& imp, const std::string& staging_name) {
  TableScan staging;
  if (!FILE(imp.text)) return "not in the working directory, so the run stops at its import";
  if (!staging.open(staging_name)) return "not compared: " + shown(staging.name()) + " " + staging.why();
  const std::uint64_t length = text_record_length(staging.fields());
  LineTally tally;
  return scan_lines(imp.text, length, tally) ? lines_text(tally, length, shown(staging.name()))
                                             : std::string("cannot be read");
}

// --- what the target held before the run ---

// "holds 3 records now" and, when its records have memo text, how much of it goes with
// them; from the operator's own file, which the dry run leaves as it was.
std::string held_before(const std::string& target) {
  TableScan before;
  if (!before.open_original(target)) return "did not exist before";
  std::string s = "holds " + plural(before.count(), "record", "records") + " now";
  std::vector<const dbf::Field*> memos;
  for (const dbf::Field& f : before.fields()) {
    if (f.memo_ref) memos.push_back(&f);
  }
  if (memos.empty() || before.count() == 0) return s;
  std::uint64_t with_memo = 0;
  before.each([&](std::uint32_t, std::string_view rec) {
    for (const dbf::Field* f : memos) {
      const std::string_view ref = TableScan::bytes(rec, *f);
      if (ref.find_first_not_of(std::string_view(" \0", 2)) != std::string_view::npos) {
        ++with_memo;
        return;
      }
    }
  });
  if (with_memo > 0) {
    s += " (" + plural(with_memo, "of them has", "of them have") + " memo text, which goes with them)";
  }
  return s;
}

// --- what the conversions noted ---

// The payables' look-up of their suppliers, as the run noted it.
std::string suppliers_text(const CheckOutcome& c, const ConversionPlan& k, int place) {
  const RunRecord::Tally* missing = c.run.find(place, kNoteNoSupplier);
  const RunRecord::Tally* written = c.run.find(place, kNoteWritten);
  const std::uint64_t movements = written ? written->count : 0;
  if (missing == nullptr || missing->count == 0) return "every movement's supplier found";
  std::string s = std::to_string(missing->count) + " of " +
                  plural(movements, "movement", "movements") +
                  " without their supplier:" + list(missing->first, missing->count);
  if (missing->count < movements || k.indexes.empty()) return s;
  // Every one missed: when the supplier table was rebuilt earlier in this run, the codes
  // the look-up seeks (the index key) are all blank there.
  const IndexBuild& ix = k.indexes.front();
  for (std::size_t i = 0; i < run_plan().size(); ++i) {
    const ConversionPlan& other = run_plan()[i];
    if (!c.run.finished(static_cast<int>(i)) ||
        !equal_case_blind(other.table(other.target).name, k.table(ix.table).name)) {
      continue;
    }
    TableScan suppliers;
    if (!suppliers.open(k.table(ix.table).name)) break;
    const dbf::Field* key = suppliers.field(ix.key);
    bool blank = key != nullptr;
    if (blank) {
      suppliers.each([&](std::uint32_t, std::string_view rec) {
        blank = blank && trim_blanks(TableScan::bytes(rec, *key)).empty();
      });
    }
    if (blank) {
      s += "; the supplier conversion (" + std::string(other.name) + ") rebuilt " +
           shown(suppliers.name()) + " earlier in this run and leaves every " + key->name +
           " blank, so no supplier can be found by the old system's code";
    }
    break;
  }
  return s;
}

// The balance pass, as the run noted it: the balance records applied to an item and
// those that matched none, out of the records of the table it walked (the one its
// index orders besides the target).
std::string balances_text(const CheckOutcome& c, const ConversionPlan& k, int place) {
  const RunRecord::Tally* applied = c.run.find(place, kNoteBalanceApplied);
  const RunRecord::Tally* unmatched = c.run.find(place, kNoteBalanceUnmatched);
  const std::uint64_t a = applied ? applied->count : 0;
  const std::uint64_t u = unmatched ? unmatched->count : 0;
  std::string s = plural(a, "balance record", "balance records") + " applied";
  if (u > 0) s += ", " + std::to_string(u) + " matching no item:" + list(unmatched->first, u);
  for (const IndexBuild& ix : k.indexes) {
    if (std::string_view(ix.table) == k.target) continue;
    TableScan walked;
    if (walked.open(k.table(ix.table).name) && walked.count() > a + u) {
      s += ", " + std::to_string(walked.count() - a - u) + " not of type 1 (left out)";
    }
  }
  return s;
}

std::string target_text(const CheckOutcome& c, const ConversionPlan& k, int place) {
  const std::string name = k.table(k.target).name;
  TableScan target;
  if (!target.open(name)) return item(shown(target.name()), target.why());
  const std::string label = shown(target.name());
  if (!changed_by_run(target.name())) {
    return item(label, "unchanged, " + plural(target.count(), "record", "records"));
  }
  const RunRecord::Tally* written = c.run.find(place, kNoteWritten);
  std::string s = item(label, held_before(name) + "; the run empties it and writes " +
                                  std::to_string(written ? written->count : 0));
  s += item("totals as stored", control_totals(name));
  if (c.run.find(place, kNoteNoSupplier)) s += item("suppliers", suppliers_text(c, k, place));
  if (c.run.find(place, kNoteBalanceApplied)) s += item("balances", balances_text(c, k, place));
  return s;
}

// Where the stopped conversion stood, in the tables it had changed by then.
std::string stopped_text(const CheckOutcome& c, const ConversionPlan& k) {
  std::string where;
  for (const AreaSummary& a : c.areas_at_error) {
    for (const TextImport& imp : k.texts) {
      const std::string staging = table_file(k.table(imp.staging));
      if (a.alias == imp.staging && changed_by_run(staging)) {
        where = "on record " + std::to_string(a.recno) + " of " + shown(staging) + " (line " +
                std::to_string(a.recno) + " of " + imp.text + ")";
      }
    }
  }
  const std::string target = table_file(k.table(k.target));
  for (const AreaSummary& a : c.areas_at_error) {
    if (a.alias == k.target && changed_by_run(target)) {
      where += std::string(where.empty() ? "" : ", ") + "with record " + std::to_string(a.recno) +
               " of " + shown(target) + " the last written";
    }
  }
  return item("stopped", "by the error below" + (where.empty() ? std::string() : ", " + where));
}

std::string conversion_text(const CheckOutcome& c, const ConversionPlan& k, int place,
                            bool stopped) {
  std::string s;
  for (const TextImport& imp : k.texts) {
    const std::string staging = table_file(k.table(imp.staging));
    s += item(imp.text, text_lines(imp, staging));
    if (!FILE(imp.text)) continue;
    TableScan t;
    if (!t.open(staging)) continue;
    s += item(shown(t.name()), changed_by_run(t.name())
                                   ? plural(t.count(), "record", "records") + " imported"
                                   : "unchanged");
  }
  s += target_text(c, k, place);
  for (const IndexBuild& ix : k.indexes) {
    const std::string file = index_file(ix);
    if (changed_by_run(file)) {
      s += item(shown(file), index_verification(file, k.table(ix.table).name));
    }
  }
  if (stopped) s += stopped_text(c, k);
  return s;
}

}  // namespace

std::string conversions_check_report(const CheckOutcome& c) {
  std::string s = "lumconv --check: the whole run on scratch copies; your files are only read.\n";
  if (!c.interrupted) {
    // The conversion the error stopped: the one that began last, unless it had returned.
    const int running = c.run.running();
    const int stopped = !c.ended_normally && running >= 0 && !c.run.finished(running) ? running : -1;
    const std::span<const ConversionPlan> plan = run_plan();
    for (std::size_t i = 0; i < plan.size(); ++i) {
      const ConversionPlan& k = plan[i];
      const int place = static_cast<int>(i);
      s += "\n" + std::to_string(i + 1) + ". " + k.title + " (" + k.name + ")";
      if (stopped >= 0 && place > stopped) {
        s += ": not reached, the run ends before it\n";
      } else if (!c.run.started(place)) {
        s += ": not run, no " + std::string(k.trigger) + " in the working directory\n";
      } else {
        s += "\n" + conversion_text(c, k, place, place == stopped);
      }
    }
    s += "\n";
  }
  return s + check_verdict(c);
}

}  // namespace lum
