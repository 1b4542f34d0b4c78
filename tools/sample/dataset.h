// Sample dataset generator: writes the exported text files, the staging tables and the
// target tables under lum/firma1 that one conversion run needs, deterministically for a
// seed. Lines are made on demand from (seed, data set, line number), so millions of
// lines stream to disk and the expected-result oracle can remake any line it needs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace lum::sample {

// The six exported data sets, in the order in which the run meets their text files.
enum class TextSet : int { kSuppliers, kPayables, kProducts, kBalances, kClients, kReceivables };
inline constexpr int kTextSetCount = 6;

// The five target tables under lum/firma1.
enum class Target : int { kClients, kItems, kSuppliers, kReceivables, kPayables };
inline constexpr int kTargetCount = 5;

enum class MemoKind { kNone, kDbt, kFpt };

struct FieldDef {
  std::string name;  // upper case, at most 10 characters
  char type = 'C';   // C, N, D, L or M
  int length = 0;
  int decimals = 0;
  int offset = 0;  // from the start of the record image (the deletion flag is byte 0)
};

// The structure of one DBF table as the generator writes it.
struct TableDef {
  std::string file_name;  // name on disk, letter case as written ("Clientes.DBF")
  std::uint8_t version = 0x03;
  MemoKind memo = MemoKind::kNone;
  std::string memo_file_name;  // "" without memo
  int memo_block_size = 0;     // 512 for DBT; from the memo header for FPT
  std::vector<FieldDef> fields;

  // 1 + the sum of the field lengths.
  int record_length() const;
  // The field of that name (case-blind), or nullptr.
  const FieldDef* field(std::string_view name) const;
  // The field of that name; throws std::out_of_range when the table has none.
  const FieldDef& at(std::string_view name) const;
  // A blank record image: ' ' deletion flag, blanks in C/N/D/L/M fields.
  std::string blank_record() const;
};

struct DatasetOptions {
  // The test data: lines that carry the cases the conversions must get right (odd codes,
  // zero and blank numbers, invalid dates, separators, a CR LF inside packed bytes),
  // one per line number from 0 and again every 101 lines, among lines of random
  // content. False: realistic data, as a real small business's export looks (valid
  // taxpayer check digits, postal and area codes of the city, dates in order, plausible
  // stocks and prices), with no edge case at all; the supplier table then holds
  // legacy codes when `legacy_suppliers` is set. The end-to-end tests and the oracle
  // use the edge cases; lumgen writes realistic data unless asked for them.
  bool edge_cases = true;
  std::uint64_t seed = 1;
  // Lines per text file, indexed by TextSet. The import makes one staging record of
  // each line, two of the client line that carries a CR LF.
  std::array<std::size_t, kTextSetCount> lines{};
  // Which text files are written, indexed by TextSet (an absent file is not written).
  std::array<bool, kTextSetCount> write_text{true, true, true, true, true, true};
  bool item_localiza = true;      // the item table has LOCALIZA
  bool item_marca = true;         // the item table has MARCA
  bool wide_coditem = false;      // CODITEM is 14 wide instead of 5
  bool legacy_suppliers = false;  // the supplier table starts with legacy codes in OBS_FOR
  bool crlf_split = true;         // one client line carries CR LF inside its packed bytes
  // The receivables table's VALOR is 8 wide (2 decimals), too narrow for the larger
  // amounts: the run meets a data width error there.
  bool narrow_receivable_amounts = false;

  // Options with `n` lines in every text file.
  static DatasetOptions with_lines(std::size_t n, std::uint64_t seed = 1);
};

class Dataset {
 public:
  explicit Dataset(const DatasetOptions& options);

  const DatasetOptions& options() const { return options_; }

  // The text file of a data set as written ("clientes.txt") and as MAIN tests it.
  static const char* text_file_name(TextSet set);
  // The data set whose text file has this name, compared without case; false if none.
  static bool text_set_by_name(std::string_view name, TextSet& set);
  // The target directory below a dataset directory: <dir>/lum/firma1.
  static std::filesystem::path target_dir(const std::filesystem::path& dir);

  // Staging table of a data set: one C field per text field, in record order, at text
  // width, so record_length() - 1 is the text record length.
  const TableDef& staging(TextSet set) const { return staging_[static_cast<int>(set)]; }
  const TableDef& target(Target t) const { return targets_[static_cast<int>(t)]; }

  std::size_t line_count(TextSet set) const { return options_.lines[static_cast<int>(set)]; }
  bool text_present(TextSet set) const { return options_.write_text[static_cast<int>(set)]; }

  // Line `i` (from 0) of a data set: the record_length() - 1 bytes of the text record,
  // without the line end. `out` is reused (no allocation once it has grown).
  void line(TextSet set, std::size_t i, std::string& out) const;
  // The number of the client line that carries a CR LF inside its packed bytes, or
  // SIZE_MAX when there is none.
  std::size_t crlf_line() const { return crlf_line_; }

  // Records the tables hold before the run, as record images (deletion flag first).
  const std::vector<std::string>& staging_records(TextSet set) const {
    return stale_[static_cast<int>(set)];
  }
  const std::vector<std::string>& initial_records(Target t) const {
    return initial_[static_cast<int>(t)];
  }
  // The memo file of a target before the run ("" when the table has no memo file).
  const std::string& initial_memo(Target t) const { return initial_memo_[static_cast<int>(t)]; }
  // The bytes of a table file as write() writes it: header dated 2014-06-30, the
  // records above, a closing 0x1A.
  std::string initial_table_file(Target t) const;
  std::string initial_staging_file(TextSet set) const;

  // Writes every file into `dir` (created when missing): the text files chosen by the
  // options, the six staging tables, and the five target tables with their memo files
  // under lum/firma1. Existing files of the same names are replaced. Throws
  // std::runtime_error on an I/O failure.
  void write(const std::filesystem::path& dir) const;

 private:
  // Fills stale_, initial_ and initial_memo_ from the table structures and the options.
  void build_initial_records();

  DatasetOptions options_;
  std::size_t crlf_line_;
  std::array<TableDef, kTextSetCount> staging_;
  std::array<TableDef, kTargetCount> targets_;
  std::array<std::vector<std::string>, kTextSetCount> stale_;
  std::array<std::vector<std::string>, kTargetCount> initial_;
  std::array<std::string, kTargetCount> initial_memo_;
};

}  // namespace lum::sample
