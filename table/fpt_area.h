// The "DBFFPT" driver: the DBF driver with the memo file that a table with memos keeps
// beside it (".dbt", ".fpt" or ".smt" by the version byte). The memo file opens with the
// table, is re-created empty when the table is zapped, and closes with it.
#pragma once

#include <string>

#include "platform/file.h"
#include "table/dbf_area.h"
#include "table/memo_file.h"

namespace lum {

class DbfFptArea : public DbfArea {
 public:
  explicit DbfFptArea(std::string driver_name = "DBFFPT");
  ~DbfFptArea() override;

  // The memo file's block size (0 when the table has no memo file open).
  std::uint32_t memo_block_size() const { return memo_.is_open() ? memo_header_.block_size : 0; }

 protected:
  // Opens the memo file with the table's access and sharing: "Open error" 1056 for a
  // memo kind it does not know, 1002 (retry, default) when the file cannot be opened,
  // "Corruption detected" 1012 for a block size of 0.
  bool open_memo_file() override;
  // Re-creates the memo file empty: header, zeros up to the first free block, cut.
  bool zap_memo_file() override;
  int commit_memo_file() override;
  void close_memo_file() noexcept override;
  // The text of a memo field (DBT and FPT layouts); blank references are "".
  bool get_memo(int index, Value& out) override;

 private:
  // Reads n bytes of the memo file at `at`. A read that comes up short raises "Read
  // error" (23, sub-code 1010) with the memo file's name and the system's code, retry
  // and default allowed, and is read again while the handler asks for it.
  bool read_memo(std::uint64_t at, void* data, std::size_t n);

  File memo_;
  std::string memo_name_;  // as the program would spell it, for errors
  MemoHeader memo_header_;
  bool memo_commit_ = false;
};

}  // namespace lum
