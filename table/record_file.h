// The records of a table file as bytes: where record n stands, and the buffers between
// the table driver and the file. The driver owns the file and its header; this object
// moves whole records in and out of it.
//
// - Shared tables: every read goes to the file, every write straight to it, since
//   another process may read or change the records at any time.
// - Exclusive tables: reads follow the access pattern. A record at or just after the one
//   read last starts a large read-ahead window; any other record (index order, seeks) is
//   read with the few records of its small aligned block into a bounded block cache.
//   Appended records are written behind, a block at a time. A record rewritten in place
//   is written alone, and every buffer that holds it is brought up to date.
//
// No error is raised here: failures come back as the system's codes, and the driver
// raises them. A block of appended records that fails part-way leaves the file ending
// with whole records (a partial one cut off behind 0x1A) and says how many there are,
// so that the driver can make its header count exactly those.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/file.h"
#include "table/area.h"

namespace lum {

class RecordFile {
 public:
  // How the records lie in the file and how it is used.
  struct Shape {
    std::uint64_t header_len = 0;  // where record 1 starts
    std::size_t record_len = 1;    // REQUIRES: > 0
    bool shared = false;           // read and write every record through to the file
    bool start_writeback = false;  // ask the host to start each written block to the disk
  };
  // What a write came to. A failure carries the system's code (112, the disk full, for
  // a short write without one). `settled`: appended records were lost with it, and the
  // file now ends after its first `held` records, all of them whole.
  struct WriteResult {
    int oscode = kOsOk;
    bool settled = false;
    RecNo held = 0;
    bool ok() const { return oscode == kOsOk; }
  };
  // What settle_end did. `counted`: the file's size was read, and `held` is valid.
  // `oscode`: the first failure (of the size, or of the cut), 0 when none.
  struct EndResult {
    int oscode = kOsOk;
    bool counted = false;
    RecNo held = 0;
  };

  // Starts using `file` for records of this shape. The caller keeps the file open while
  // attached. Nothing is read yet.
  void attach(File& file, const Shape& shape);
  // Forgets the file and releases every buffer; records still held are lost (the driver
  // flushes first).
  void detach();

  std::uint64_t offset(RecNo recno) const {
    return shape_.header_len + static_cast<std::uint64_t>(recno - 1) * shape_.record_len;
  }
  std::size_t record_len() const { return shape_.record_len; }

  // Reads record `recno` into `dest` (record_len bytes): from the write-behind buffer,
  // a read buffer or the file. Records after `count` are never read from the file.
  // False on a short read, with the system's code in `oscode` (0 at the end of the file).
  // REQUIRES: 1 <= recno <= count.
  bool read(RecNo recno, RecNo count, std::uint8_t* dest, int& oscode);

  // Writes record `recno`. A record still held in the write-behind buffer is changed
  // there. `append` (an exclusive table's new record) holds it in the buffer, which is
  // written when it is full or the next append does not follow it; anything else is
  // written to the file now. `count`: the records the table counts, for settling.
  WriteResult write(RecNo recno, const std::uint8_t* data, bool append, RecNo count);
  // Writes the appended records still held. A write that fails part-way settles the end
  // of the file (see settle_end) before it returns.
  WriteResult flush(RecNo count);
  // Appended records not yet in the file.
  bool holds_appends() const { return wb_count_ > 0; }

  // Makes the file end with whole records: `held` counts the records the file holds in
  // whole, at most `count`; anything after them (a partial record, records past the
  // count) is cut off behind one end-of-file byte, and the read buffers are forgotten.
  EndResult settle_end(RecNo count);

  // Forgets every record read (the file was cut or emptied).
  void drop_reads();
  // Forgets every record read and every appended record not yet written (zap).
  void discard();

 private:
  struct CachedBlock {
    RecNo first = 0;  // 0: the slot is empty
    RecNo count = 0;  // records read (fewer than block_records_ at the end of the file)
  };

  // The record from the read-ahead window or the block cache; false when neither has it.
  bool copy_buffered(RecNo recno, std::uint8_t* dest) const;
  // Reads the read-ahead window from `recno` on, or `recno`'s block into the cache;
  // records after `last` are not read (they are held for writing, or beyond the count).
  IoResult read_window(RecNo recno, RecNo last);
  IoResult read_block(RecNo recno, RecNo last);
  // `recno` lies a few blocks' records after the record read last.
  bool short_step(RecNo recno) const;
  // Where record `recno` of the block in `slot` stands in block_bytes_.
  std::uint8_t* cached_record(std::size_t slot, RecNo recno) {
    return block_bytes_.data() + (slot * block_records_ + (recno - 1) % block_records_) * rl();
  }
  const std::uint8_t* cached_record(std::size_t slot, RecNo recno) const {
    return const_cast<RecordFile*>(this)->cached_record(slot, recno);
  }
  // After record `recno` reached the file: the buffers that hold it hold these bytes.
  void refresh_reads(RecNo recno, const std::uint8_t* data);
  bool in_write_behind(RecNo recno) const {
    return wb_count_ > 0 && recno >= wb_first_ && recno < wb_first_ + wb_count_;
  }
  std::size_t rl() const { return shape_.record_len; }

  File* file_ = nullptr;
  Shape shape_;

  // Read-ahead of records [ra_first_, ra_first_ + ra_count_).
  std::vector<std::uint8_t> ra_;
  RecNo ra_first_ = 0;
  RecNo ra_count_ = 0;
  // The block cache: block b holds records b * block_records_ + 1 onwards and lives in
  // slot b % blocks_.size() (direct-mapped). Allocated at the first random read.
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
};

}  // namespace lum
