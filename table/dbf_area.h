// The "DBF" driver: a table file opened in a work area, with its record cursor, the
// one-record buffer, and the header written back at close, zap and commit. The records
// reach the file through its RecordFile (table/record_file.h), which reads ahead, caches
// and writes appends behind for an exclusive table; appends held there are written
// before the header is, at close, commit, zap and by flush_quietly, so no other reader
// can see the file without its records. The memo driver ("DBFFPT") and the index driver
// derive from this class.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/file.h"
#include "table/area.h"
#include "table/dbf_format.h"
#include "table/record_file.h"

namespace lum {

class DbfArea : public Area {
 public:
  explicit DbfArea(std::string driver_name = "DBF");
  // Closes a table still open, quietly (nothing raised, nothing thrown).
  ~DbfArea() override;

  bool open(const OpenInfo& info) override;
  bool close() override;
  bool is_open() const override { return open_; }
  bool flush() override;
  void flush_quietly() noexcept override;

  bool go_to(RecNo recno) override;
  bool skip_raw(std::int64_t n) override;
  RecNo recno() const override { return recno_; }
  // The record count; a shared table recounts from the file size.
  RecNo record_count() override;
  bool deleted(bool& out) override;

  bool append(bool unlock_all) override;
  bool zap() override;
  bool delete_record() override;
  bool put_record_image(const std::uint8_t* image, std::size_t size) override;
  bool write_back() override;

  bool get_field(int index, Value& out) override;
  bool put_field(int index, const Value& v) override;
  std::optional<std::string_view> stored_text(int index) const override;
  bool put_text(int index, std::string_view text) override;

  // --- what derived drivers and tools see of the table ---
  const dbf::Header& header() const { return hdr_; }
  bool shared() const { return info_.shared; }
  bool read_only() const { return info_.read_only; }
  // On a real record (not the phantom record at end of file).
  bool positioned() const { return positioned_; }
  bool dirty() const { return dirty_; }
  // The file name as the program gave it, with its extension.
  const std::string& file_name() const { return info_.name; }
  // The current record's bytes (record-length bytes, deletion byte first); reads the
  // record when the buffer is not valid. nullptr when that read failed.
  const std::uint8_t* record_data();

  // Record locks for shared tables. An exclusive table needs none. A record that
  // another opener holds raises "Lock Failure" (41, sub-code 1038, the table's file
  // name and the system's code; retry and default) and is tried again while the
  // handler asks for it.
  bool lock_record(RecNo recno);
  void unlock_all();

 protected:
  // Memo hooks. The plain driver knows no memo file: a table with memos does not open
  // ("Open error", 1056).
  virtual bool open_memo_file();
  virtual bool zap_memo_file() { return true; }
  virtual int commit_memo_file() { return kOsOk; }
  virtual void close_memo_file() noexcept {}
  virtual bool get_memo(int index, Value& out);

  // The name the data file was opened under (default directory and path applied).
  const std::string& open_name() const { return open_name_; }
  // Before the first change of a record: read-only and unlocked shared tables refuse.
  bool mark_dirty();
  // Reads the current record into the buffer (from the buffers when it is there).
  bool read_record();
  // Writes the 32-byte header (and truncates after the 0x1A of an exclusive table).
  bool write_header();
  // Writes the appended records still held in the write-behind buffer. A failure raises
  // "Write error" (24, 1011) after the header has been made to count what the file holds.
  bool flush_write_behind();
  // Commits the data file and the memo file to the disk. A commit that fails raises
  // "Write error" (24, 1011, the system's code; retry and default), since the records
  // may not have reached the disk, and is made again while the handler asks for it.
  // True when committed or when the handler chose the default.
  bool commit_files();

 private:
  bool read_header();
  bool recount();
  // The records a file of that size holds (see dbf::record_count_for_size; for records
  // of one byte, its last byte is read). Returns the OS code of that read, 0 when
  // counted.
  int count_for_size(std::uint64_t size, RecNo& count);
  bool holds_lock(RecNo recno) const;
  // One attempt at a record lock, without raising; on failure `oscode` is the system's.
  bool take_record_lock(RecNo recno, int& oscode);
  bool write_record(RecNo recno, const std::uint8_t* data);
  // Raises the "Write error" of a write that failed; when appended records were lost
  // with it, the header is first made to count the whole records the file holds.
  bool write_failed(const RecordFile::WriteResult& w);
  // Writes the 32-byte header with this record count (and auto-increment values).
  bool put_header(RecNo count);
  void reset_state();

  File data_;
  OpenInfo info_;
  std::string open_name_;
  dbf::Header hdr_;
  bool open_ = false;

  RecNo count_ = 0;
  RecNo recno_ = 0;
  bool positioned_ = false;
  bool valid_ = false;
  bool dirty_ = false;
  bool appending_ = false;
  bool update_header_ = false;
  bool deleted_ = false;
  std::vector<std::uint8_t> record_;
  std::vector<std::uint8_t> blank_;

  // The records in the file, with the buffers of an exclusive table.
  RecordFile records_;
  std::vector<RecNo> locks_;
};

}  // namespace lum
