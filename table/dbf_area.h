// The "DBF" driver: a table file opened in a work area, with its record cursor, the
// one-record buffer, and the header written back at close, zap and commit. Appends of
// an exclusive table are written behind in blocks and emptied before the header is
// written, at close, commit, zap and by flush_quietly, so no other reader can see the
// file without its records. Reads of an exclusive table follow the access pattern: a
// record at or just after the last one read starts a large read-ahead window; any other
// record (index order, seeks) is read with the few records of its small aligned block,
// and recently read blocks are kept in a bounded cache. A record rewritten in place is
// written alone, and the buffers that hold it are updated. A shared table reads every
// record from the file, since another process may have changed it. The memo driver
// ("DBFFPT") and the index driver derive from this class.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/file.h"
#include "table/area.h"
#include "table/dbf_format.h"

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
  File& data_file() { return data_; }
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
  // One attempt at the current record's bytes (write-behind buffer, read-ahead or the
  // file); on failure `oscode` is the system's code.
  bool fetch_record(int& oscode);
  // The current record from the read-ahead window or the block cache; false when
  // neither holds it.
  bool copy_buffered_record();
  // Reads the read-ahead window from the current record on, or the current record's
  // block into the cache; records from `last` on are not read (they are in the
  // write-behind buffer or beyond the end).
  IoResult read_window(RecNo last);
  IoResult read_block(RecNo last);
  // Where record `recno` of the block in `slot` stands in block_bytes_.
  std::uint8_t* cached_record(std::size_t slot, RecNo recno) {
    return block_bytes_.data() +
           (slot * block_records_ + (recno - 1) % block_records_) * hdr_.record_len;
  }
  // After record `recno` reached the file: the buffers that hold it hold these bytes.
  void refresh_read_buffers(RecNo recno, const std::uint8_t* data);
  // The current record lies a few blocks' records after the one read last.
  bool short_step() const;
  // Forgets every record read (the file was cut or emptied).
  void drop_read_buffers();
  bool write_record(RecNo recno, const std::uint8_t* data);
  // Writes the 32-byte header with this record count (and auto-increment values).
  bool put_header(RecNo count);
  // After a write that failed part-way: the header counts the whole records in the
  // file and a partial record is cut off, so the file agrees with its header whatever
  // happens next.
  void settle_after_failed_write();
  void discard_buffers();
  void reset_state();
  std::uint64_t record_offset(RecNo recno) const {
    return hdr_.header_len + static_cast<std::uint64_t>(recno - 1) * hdr_.record_len;
  }

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
  bool needs_commit_ = false;
  std::vector<std::uint8_t> record_;
  std::vector<std::uint8_t> blank_;

  // Read-ahead of records [ra_first_, ra_first_ + ra_count_), exclusive tables only.
  std::vector<std::uint8_t> ra_;
  RecNo ra_first_ = 0;
  RecNo ra_count_ = 0;
  // The block cache, exclusive tables only: block b holds records b * block_records_ + 1
  // onwards and lives in slot b % blocks_.size() (direct-mapped); see cached_record for
  // where its bytes stand. Allocated at the first random read.
  struct CachedBlock {
    RecNo first = 0;  // 0: the slot is empty
    RecNo count = 0;  // records read (fewer than block_records_ at the end of the file)
  };
  std::vector<CachedBlock> blocks_;
  std::vector<std::uint8_t> block_bytes_;
  RecNo block_records_ = 1;
  // The record read last from the file or the buffers, and whether the visit that
  // reached it was a short step forward: the record after it, or a second short step,
  // continues a sequential pass.
  RecNo last_read_ = 0;
  bool stepping_forward_ = false;
  // Appended records not yet written: [wb_first_, wb_first_ + wb_count_).
  std::vector<std::uint8_t> wb_;
  RecNo wb_first_ = 0;
  RecNo wb_count_ = 0;
  RecNo wb_capacity_ = 0;

  std::vector<RecNo> locks_;
};

}  // namespace lum
