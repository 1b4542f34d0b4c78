// Expected results of one conversion run over a generated dataset: the record images
// every target table must hold afterwards, the lines the run prints and its counters.
// They are worked out from the generator's own lines and each conversion's mapping,
// with small string, number and date routines of their own, never with the conversion
// code or the text import, so that an end-to-end test compares two independent works.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/sample/dataset.h"

namespace lum::test {

using sample::Dataset;
using sample::kTextSetCount;
using sample::Target;
using sample::TextSet;

// The routines the expectations are built from, exposed for their own tests. Each
// follows the rule the run's functions follow, written independently here.
namespace oracle {

// A decimal number: value = mantissa / 10^scale.
struct Dec {
  std::int64_t mantissa = 0;
  int scale = 0;
};

std::string conv_hex(std::string_view bytes);                  // CONV_HEX
std::string alltrim(std::string_view s);                       // ALLTRIM
std::string substr(std::string_view s, int start, int count);  // SUBSTR with start >= 1
std::string left(std::string_view s, int n);                   // LEFT
std::string right(std::string_view s, int n);                  // RIGHT
int at(std::string_view search, std::string_view target);      // AT
bool equals(std::string_view a, std::string_view b);           // "=" with exact off
Dec val(std::string_view s);                                   // VAL
std::string str(Dec v, int width);                             // STR(v, width)
std::string strzero(Dec v, int width);                         // STRZERO(v, width)
// The stored text of a numeric field; throws std::range_error when it does not fit.
std::string numeric_field(Dec v, int length, int decimals);
// CTOD under "dd/mm/yyyy" with the epoch 1900, as the stored text YYYYMMDD, or eight
// blanks for the empty date.
std::string ctod(std::string_view text);

}  // namespace oracle

// The counters of the run, one per pass.
enum class Counter : int { kProducts, kBalances, kSuppliers, kClients, kReceivables, kPayables };
inline constexpr int kCounterCount = 6;

using TextSink = std::function<void(std::string_view)>;

// What a conversion does when one of its text files is missing. The program makes sure
// every text file of a conversion opens before it empties any table, so the failing
// conversion leaves its tables as they were; read literally, the conversion empties its
// target and staging table first and fails at the import.
enum class MissingText { kCheckedBeforeEmptying, kEmptiedFirst };

class Expected {
 public:
  // Works out the plan of the run (which conversions run, where it fails) and the
  // look-up tables the payables and balance passes need. `dataset` must outlive this.
  explicit Expected(const Dataset& dataset,
                    MissingText missing = MissingText::kCheckedBeforeEmptying);

  // True when the run empties and refills the target; false when its file stays as it
  // was (its conversion does not run).
  bool rewritten(Target t) const;
  // The records of the target after the run, as record images in record order
  // (deletion flag first). For a target not rewritten: its records before the run.
  std::size_t record_count(Target t) const;
  void for_each_record(Target t, const TextSink& sink) const;
  std::vector<std::string> records(Target t) const;
  // The memo file after the run: made empty by the zap when the target is rewritten,
  // the one written by the generator otherwise ("" for a table without memo).
  std::string memo_file(Target t) const;

  // The whole table file the run must leave. For a table the run does not change, the
  // file as the generator wrote it. Otherwise the header as written with the date of
  // `today`, the new record count and the record length, the version byte recomputed
  // from the memo kind and the flags byte rebuilt; then the records; then one 0x1A only
  // when there is no record (the zap writes it, the first append overwrites it).
  struct Date {
    int year = 2000, month = 1, day = 1;
  };
  std::string table_file(Target t, Date today) const;
  std::string staging_file(TextSet set, Date today) const;

  // Compares the files of dataset directory `dir` after a run (target and staging
  // tables, memo files) with table_file(), staging_file() and memo_file(). Returns one
  // line per difference, naming the file, the record and the field with both values
  // (bytes outside 0x20..0x7E as \xNN), at most `limit` lines; empty when all agree.
  std::vector<std::string> differences(const std::filesystem::path& dir, Date today,
                                       std::size_t limit = 20) const;

  // Staging tables: rewritten (emptied, then the import's records) when the conversion
  // gets that far; otherwise their stale records stay.
  bool staging_rewritten(TextSet set) const;
  std::size_t staging_count(TextSet set) const;
  void for_each_staging_record(TextSet set, const TextSink& sink) const;
  std::vector<std::string> staging_records(TextSet set) const;

  // The lines the run writes with QOUT, in order, without line ends: the CODITEM width,
  // "Fornecedor nao encontrado" lines, the packed digits of client 525's movements.
  void for_each_console_line(const TextSink& sink) const;
  std::vector<std::string> console_lines() const;

  // The last value a counter shows; 0 when its label is written but no record counted;
  // nullopt when its pass never starts its loop.
  std::optional<std::size_t> counter(Counter c) const;
  // A counter's text under "@E 999,999" (7 characters, "." between thousands).
  static std::string counter_text(std::size_t value);

  // The text file whose import fails for want of the file (the run then ends with an
  // error and exit code 1), or nullopt for a run that completes.
  std::optional<TextSet> failing_import() const { return failing_; }
  int exit_code() const { return failing_ ? 1 : 0; }

  // The width of CODITEM, which the product conversion prints.
  int coditem_width() const;

 private:
  struct SupplierKey {
    std::string key;   // OBS_FOR as stored
    std::string code;  // CODIGO_FOR as stored
  };

  bool runs(TextSet set) const;  // the conversion reaches the import of this set
  void plan_balances();
  void plan_suppliers();
  // CODIGO_FOR of the supplier the payables look-up finds for a legacy code, or nullptr.
  const std::string* supplier_code(std::string_view vcodfor) const;
  // Calls `piece` for every staging record the import makes of the set's lines.
  void for_each_piece(TextSet set, const std::function<void(const std::string&)>& piece) const;

  const Dataset& ds_;
  std::optional<TextSet> failing_;
  std::array<bool, kTextSetCount> import_runs_{};
  // Per item record (from 0): 1 + the balance line whose values the item keeps, or 0.
  std::vector<std::uint32_t> item_balance_;
  std::size_t visible_balances_ = 0;
  std::vector<SupplierKey> supplier_index_;  // in key order, equal keys by record number
};

}  // namespace lum::test
