// The run's plan: every conversion MAIN runs, in run order, with the file that starts
// it, the text files it imports, every table it opens (in the order and the way it
// opens them), its target and the indexes it builds. This is the one place that names
// the conversions' files. The conversions take their file names from it; MAIN's
// dispatch, the proof that every file of a conversion opens before anything is
// emptied, the usage text, the dry run's report, the account and the undo snapshot
// read the same table.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lum {

using Conversion = void (*)();

// What a conversion does first with a table's work area right after its open: what
// meets the area empty when the open gave up and the run went on.
enum class FirstUse : std::uint8_t {
  kZap,         // empties the table (__DBZAP)
  kFieldWidth,  // takes the width of the field `TableOpen::field` (LEN(field))
  kIndex,       // builds the conversion's index on the table
};

// One table a conversion opens, as it opens it.
struct TableOpen {
  const char* name;             // as opened: "\\lum\\firma1\\clientes", "cbCli.dbf", "CBSALDO"
  const char* alias;            // the alias it is selected by, upper case
  const char* given_alias = nullptr;  // the alias as the open gives it ("qorec"); nullptr: none
  bool new_area = true;         // opened in the lowest free work area, else in the current one
  bool exclusive_stated = false;  // the sharing argument is given (.F.) instead of left out
  // Closed before the tables after it are opened, which then take its work area.
  bool closed_before_later = false;
  FirstUse first_use = FirstUse::kZap;
  const char* field = nullptr;  // for FirstUse::kFieldWidth
};

// A text file imported into a staging table.
struct TextImport {
  const char* text;     // as imported: "forneced.txt"
  const char* staging;  // the alias of its staging table
  const char* what;     // what it holds, for the operator: "suppliers"
};

// An index the conversion builds, and which becomes the controlling order of its table.
struct IndexBuild {
  const char* file;   // as given to DBCREATEINDEX: "coditem" (".ntx" is added)
  const char* key;    // the key expression, a field name: "coditem"
  const char* table;  // the alias of the table it orders
};

struct ConversionPlan {
  const char* name;     // "CVFORN"
  const char* title;    // what it converts, for the operator: "Suppliers"
  const char* trigger;  // the file MAIN tests for, as it spells it: "FORNECED.TXT"
  Conversion run;
  std::span<const TextImport> texts;  // in the order they are imported
  std::span<const TableOpen> tables;  // in the order they are opened
  const char* target;                 // the alias of the table the conversion rebuilds
  std::span<const IndexBuild> indexes;

  // The table opened under `alias`, the text imported into it, the index built on it.
  // REQUIRES: the plan has it.
  const TableOpen& table(const char* alias) const;
  const TextImport& text_for(const char* staging_alias) const;
  const IndexBuild& index_on(const char* alias) const;
};

// What the conversions note in the run's record as they go (frame/run_record.h), for
// the dry run's report: the records appended to each target, the payables whose
// supplier is not found (with their codes), the balance records applied to an item and
// those that match none (with their keys).
inline constexpr const char* kNoteWritten = "records written";
inline constexpr const char* kNoteNoSupplier = "supplier not found";
inline constexpr const char* kNoteBalanceApplied = "balance applied";
inline constexpr const char* kNoteBalanceUnmatched = "balance without item";

// The conversions of this program, in the order MAIN runs them.
std::span<const ConversionPlan> run_plan();
// The plan of a conversion of run_plan(). REQUIRES: it is one.
const ConversionPlan& plan_of(Conversion conversion);

// The file a table or index name of the plan stands for, as the run names it: a
// table's name with ".dbf" when it has no extension, an index's with ".ntx".
std::string table_file(const TableOpen& t);
std::string index_file(const IndexBuild& ix);

// Every file a run may change, as the run names them, for the snapshot taken before
// it: for each conversion whose trigger file is there now, its target table, its
// staging tables, the memo files beside them, its index files; and the error log. A
// file that the run would create (an index, the log) is listed whether it exists or
// not. Each file once, however its conversions spell it.
std::vector<std::string> files_a_run_may_change();
// The target table of every conversion of the plan, as the run names it: the
// destination system's tables.
std::vector<std::string> destination_tables();

}  // namespace lum
