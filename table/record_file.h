// The records of a table file as bytes: where record n stands, and the buffers between
// the table driver and the file. The driver owns the file and its header; this object
// moves whole records in and out of it.
//
// - Shared tables: every read goes to the file, every write straight to it, since
//   another process may read or change the records at any time.
// - Exclusive tables: reads follow the access pattern. A record at or just after the one
//   read last starts a large read-ahead window. The first record read out of sequence
//   (index order, seeks) decides how such reads are served: a table that fits in what
//   is left of the process's resident budget is kept in memory from then on, in chunks
//   of 64 KB read as they are first needed, so that a pass in any order reads each byte
//   once; a larger one reads the few records of the record's small aligned block into a
//   bounded block cache. Appended records are written behind, a block at a time.
//   A record rewritten in place while the window or a chunk holds it is changed there
//   and written with its neighbours' changes, one write per changed run, when the
//   window moves on and at every flush; any other rewrite is written at once. Every
//   buffer that holds a record is brought up to date when it changes.
//
// No error is raised here: failures come back as the system's codes, and the driver
// raises them. A block of appended records that fails part-way leaves the file ending
// with whole records (a partial one cut off behind 0x1A) and says how many there are,
// so that the driver can make its header count exactly those.
#pragma once

#include <array>
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

  RecordFile() = default;
  ~RecordFile() { detach(); }
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  // Starts using `file` for records of this shape. The caller keeps the file open while
  // attached. Nothing is read yet.
  void attach(File& file, const Shape& shape);
  // Forgets the file and releases every buffer and its share of the resident budget;
  // records still held are lost (the driver flushes first).
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
  // there, one held in the window or a resident chunk is changed there (written later,
  // see above). `append` (an exclusive table's new record) holds it in the write-behind
  // buffer, which is written when it is full or the next append does not follow it;
  // anything else is written to the file now. `count`: the records the table counts,
  // for settling.
  WriteResult write(RecNo recno, const std::uint8_t* data, bool append, RecNo count);
  // Writes the changed records held in the window and the chunks, then the appended
  // records held. A write of appends that fails part-way settles the end of the file
  // (see settle_end) before it returns; a failed write of changed records leaves them
  // held, to be written by a later flush.
  WriteResult flush(RecNo count);
  // Appended records not yet in the file.
  bool holds_appends() const { return wb_count_ > 0; }
  // Records changed in place and not yet in the file.
  bool holds_changes() const;

  // Makes the file end with whole records: `held` counts the records the file holds in
  // whole, at most `count`; anything after them (a partial record, records past the
  // count) is cut off behind one end-of-file byte, after the changed records held have
  // been written (as far as they can be), and the read buffers are forgotten.
  EndResult settle_end(RecNo count);

  // Forgets every record read, changed ones too (the file was cut or emptied), and
  // gives back the table's share of the resident budget.
  void drop_reads();
  // Forgets every record read and every appended record not yet written (zap).
  void discard();

  // The bytes of tables that the record files of this process keep in memory together,
  // at most (see above); tables opened later than the budget is used up read out of
  // sequence through the block cache. Tests set a small one.
  static void set_resident_budget(std::size_t bytes);
  static std::size_t resident_budget();
  // The part of it the open tables hold.
  static std::size_t resident_reserved();

 private:
  // Records [first, first + count) of the file, in `bytes`. [dirty_lo, dirty_hi] were
  // changed since they were read and are not yet in the file (dirty_hi 0: none).
  struct Held {
    RecNo first = 0;
    RecNo count = 0;
    RecNo dirty_lo = 0;
    RecNo dirty_hi = 0;
    std::vector<std::uint8_t> bytes;
    bool holds(RecNo r) const { return count > 0 && r >= first && r < first + count; }
    bool dirty() const { return dirty_hi != 0; }
  };
  // How a pass moves: the record it read last, and whether the visit that reached it was
  // a short step forward (the record after it, or a second short step, continues it).
  struct Pace {
    RecNo last = 0;
    bool stepping = false;
  };
  // A read-ahead window with the pass that reads through it.
  struct Window {
    Held held;
    Pace pace;
    std::uint64_t used = 0;  // when last read from (uses_ then)
  };
  struct CachedBlock {
    RecNo first = 0;  // 0: the slot is empty
    RecNo count = 0;  // records read (fewer than block_records_ at the end of the file)
  };

  std::uint8_t* at(Held& h, RecNo recno) const {
    return h.bytes.data() + static_cast<std::size_t>(recno - h.first) * rl();
  }
  // The record from a window (the window's pass moves on to it) or the block cache.
  bool copy_from(Window& w, RecNo recno, std::uint8_t* dest);
  // The window's pass moves on to `recno`; true.
  bool moved(Window& w, RecNo recno);
  bool copy_from_block(RecNo recno, std::uint8_t* dest);
  // `recno` continues the pass / the pass moves on to it.
  bool continues(const Pace& p, RecNo recno) const;
  void step(Pace& p, RecNo recno) const;
  static void forget(Held& h);
  // The resident chunk that record `recno` belongs to; nullptr when the table is not
  // kept in memory or the record lies beyond the part that is.
  Held* chunk_of(RecNo recno);
  // Reads record `recno` from its resident chunk, reading the chunk (or its part not
  // read yet, up to `last`) first when needed.
  bool read_resident(Held& chunk, RecNo recno, RecNo last, std::uint8_t* dest, int& oscode);
  // Keeps the table in memory from now on when its `count` records fit in what is left
  // of the resident budget. True when it does.
  bool become_resident(RecNo count);
  // Reads `window` from `recno` on, or `recno`'s block into the cache; records after
  // `last` are not read (they are held for writing, or beyond the count).
  IoResult read_window(Held& window, RecNo recno, RecNo last);
  IoResult read_block(RecNo recno, RecNo last);
  // `recno` lies a few blocks' records after the pass's record read last.
  bool short_step(const Pace& p, RecNo recno) const;
  // Where record `recno` of the block in `slot` stands in block_bytes_.
  std::uint8_t* cached_record(std::size_t slot, RecNo recno) {
    return block_bytes_.data() + (slot * block_records_ + (recno - 1) % block_records_) * rl();
  }
  // Records [first, first + count) just read from the file into `dest`: the changes that
  // windows hold for them and the file does not have yet are copied over them, so that
  // every buffer holding a record holds the same, latest bytes.
  void overlay_changes(RecNo first, RecNo count, std::uint8_t* dest) const;
  // Brings every buffer that holds record `recno` up to date, except `changed_in`.
  void refresh_reads(RecNo recno, const std::uint8_t* data, const Held* changed_in = nullptr);
  // Writes the changed records of `h`, one write; true when written (or none changed).
  bool write_changes(Held& h, int& oscode);
  // Writes the changed records of the window and every chunk.
  WriteResult write_all_changes();
  // The three ways of a write: to the file now, into the write-behind buffer, and the
  // write of that buffer (which settles the end of the file when it fails part-way).
  WriteResult write_through(RecNo recno, const std::uint8_t* data);
  WriteResult hold_append(RecNo recno, const std::uint8_t* data, RecNo count);
  WriteResult flush_appends(RecNo count);
  bool in_write_behind(RecNo recno) const {
    return wb_count_ > 0 && recno >= wb_first_ && recno < wb_first_ + wb_count_;
  }
  std::size_t rl() const { return shape_.record_len; }

  File* file_ = nullptr;
  Shape shape_;

  // The read-ahead windows of sequential passes: a pass may move through the table in a
  // few interleaved streams (seeks that land alternately in two ranges of records).
  static constexpr int kWindows = 4;
  std::array<Window, kWindows> windows_;
  std::uint64_t uses_ = 0;
  // A table kept in memory: records 1..resident_records_, chunk k holding records
  // k * chunk_records_ + 1 onwards (empty until first needed); reserved_ bytes of the
  // budget are counted for it.
  std::vector<Held> chunks_;
  RecNo chunk_records_ = 1;
  RecNo resident_records_ = 0;
  std::size_t reserved_ = 0;
  // The block cache of a table not kept in memory: block b holds records
  // b * block_records_ + 1 onwards and lives in slot b % blocks_.size() (direct-mapped).
  // Allocated at the first read out of sequence.
  std::vector<CachedBlock> blocks_;
  std::vector<std::uint8_t> block_bytes_;
  RecNo block_records_ = 1;
  // Appended records not yet written: [wb_first_, wb_first_ + wb_count_).
  std::vector<std::uint8_t> wb_;
  RecNo wb_first_ = 0;
  RecNo wb_count_ = 0;
  RecNo wb_capacity_ = 0;
};

}  // namespace lum
