#include "table/record_file.h"

#include <algorithm>
#include <cstring>

#include "table/dbf_format.h"

namespace lum {

namespace {

// Buffer sizes: big enough that a sequential pass costs one system call per block.
constexpr std::size_t kReadAheadBytes = 64 * 1024;
constexpr std::size_t kWriteBehindBytes = 256 * 1024;
// A record read out of sequence comes with the other records of its block: as many
// whole records as fit in 512 bytes, at least one and at most four, so that a pass in
// random order reads no byte more than four times for each visit of its record.
constexpr std::size_t kBlockBytes = 512;
constexpr RecNo kMaxBlockRecords = 4;
// The block cache of one table: about this many bytes, at least this many blocks.
constexpr std::size_t kBlockCacheBytes = 1024 * 1024;
constexpr std::size_t kMinCachedBlocks = 16;
// Tables read out of sequence are kept in memory in chunks of about this many bytes, up
// to this many bytes for all open tables together: the item and balance tables of a
// run of a few hundred thousand records each fit, and the whole process stays well
// below 64 MiB.
constexpr std::size_t kChunkBytes = 64 * 1024;
constexpr std::size_t kResidentBudget = 48 * 1024 * 1024;
// A step forward of at most this many blocks' records counts as short: two of them in a
// row are a sequential pass with gaps (index order over keys nearly in record order).
constexpr RecNo kShortStepBlocks = 4;

// The code of a short write: the host's, or a full disk when it gave none.
int write_failure(const IoResult& w) { return w.oscode != kOsOk ? w.oscode : kOsDiskFull; }

// The resident budget of the process, and how much of it the open tables hold.
std::size_t g_resident_budget = kResidentBudget;
std::size_t g_resident_reserved = 0;

}  // namespace

void RecordFile::set_resident_budget(std::size_t bytes) { g_resident_budget = bytes; }
std::size_t RecordFile::resident_budget() { return g_resident_budget; }
std::size_t RecordFile::resident_reserved() { return g_resident_reserved; }

void RecordFile::attach(File& file, const Shape& shape) {
  file_ = &file;
  shape_ = shape;
  wb_capacity_ = static_cast<RecNo>(std::max<std::size_t>(1, kWriteBehindBytes / rl()));
  block_records_ =
      static_cast<RecNo>(std::clamp<std::size_t>(kBlockBytes / rl(), 1, kMaxBlockRecords));
  chunk_records_ = static_cast<RecNo>(std::max<std::size_t>(1, kChunkBytes / rl()));
}

void RecordFile::detach() {
  discard();
  file_ = nullptr;
  // The buffers' memory goes with the table.
  std::vector<std::uint8_t>().swap(wb_);
  for (Window& w : windows_) std::vector<std::uint8_t>().swap(w.held.bytes);
  std::vector<CachedBlock>().swap(blocks_);
  std::vector<std::uint8_t>().swap(block_bytes_);
}

void RecordFile::discard() {
  drop_reads();
  wb_first_ = wb_count_ = 0;
}

void RecordFile::drop_reads() {
  for (Window& w : windows_) forget(w.held);
  for (CachedBlock& b : blocks_) b = CachedBlock{};
  std::vector<Held>().swap(chunks_);
  resident_records_ = 0;
  g_resident_reserved -= reserved_;
  reserved_ = 0;
  for (Window& w : windows_) w.pace = Pace{};
}

void RecordFile::forget(Held& h) { h.first = h.count = h.dirty_lo = h.dirty_hi = 0; }

// --- reads ---

bool RecordFile::read(RecNo recno, RecNo count, std::uint8_t* dest, int& oscode) {
  if (in_write_behind(recno)) {
    std::memcpy(dest, wb_.data() + static_cast<std::size_t>(recno - wb_first_) * rl(), rl());
    return true;
  }
  if (shape_.shared) {
    IoResult r = file_->read_at(offset(recno), dest, rl());
    oscode = r.oscode;
    return r.bytes == rl();
  }
  // Reads stop short of the first record that is still in the write-behind buffer.
  const RecNo last = wb_count_ > 0 ? wb_first_ - 1 : count;
  if (Held* chunk = chunk_of(recno)) return read_resident(*chunk, recno, last, dest, oscode);
  for (Window& w : windows_) {
    if (w.held.holds(recno)) return copy_from(w, recno, dest);
  }
  // The record after the one a window's pass read last, or a second short step forward
  // in a row, continues that pass: a sequential pass, which reads ahead into its window.
  // Anything else is a visit out of sequence (index order, a seek). A first short step
  // moves a pass on (the next one continues it); any other visit may start a pass of its
  // own, taking over the pass of the window used least lately.
  Window* w = nullptr;
  for (Window& candidate : windows_) {
    if (continues(candidate.pace, recno)) w = &candidate;
  }
  const bool sequential = w != nullptr;
  for (Window& candidate : windows_) {
    if (w == nullptr && short_step(candidate.pace, recno)) w = &candidate;
  }
  if (w == nullptr) {
    w = &*std::min_element(windows_.begin(), windows_.end(),
                           [](const Window& a, const Window& b) { return a.used < b.used; });
    w->pace = Pace{};
  }
  if (copy_from_block(recno, dest)) return moved(*w, recno);
  // Out of sequence, the table is kept in memory from now on when it fits; else only the
  // small block around the record is read.
  if (!sequential && become_resident(count)) {
    return read_resident(*chunk_of(recno), recno, last, dest, oscode);
  }
  // A window with changes moves on once they are written; until then it stays.
  int ignored = kOsOk;
  if (sequential && write_changes(w->held, ignored)) {
    IoResult r = read_window(w->held, recno, last);
    oscode = r.oscode;
    return w->held.holds(recno) && copy_from(*w, recno, dest);
  }
  IoResult r = read_block(recno, last);
  oscode = r.oscode;
  return copy_from_block(recno, dest) && moved(*w, recno);
}

bool RecordFile::copy_from(Window& w, RecNo recno, std::uint8_t* dest) {
  std::memcpy(dest, at(w.held, recno), rl());
  return moved(w, recno);
}

bool RecordFile::moved(Window& w, RecNo recno) {
  step(w.pace, recno);
  w.used = ++uses_;
  return true;
}

bool RecordFile::continues(const Pace& p, RecNo recno) const {
  return recno == p.last + 1 || (short_step(p, recno) && p.stepping);
}

void RecordFile::step(Pace& p, RecNo recno) const {
  // A visit of the same record again neither continues nor breaks a forward pass.
  if (recno == p.last) return;
  p.stepping = short_step(p, recno);
  p.last = recno;
}

RecordFile::Held* RecordFile::chunk_of(RecNo recno) {
  if (recno > resident_records_) return nullptr;
  return &chunks_[(recno - 1) / chunk_records_];
}

bool RecordFile::become_resident(RecNo count) {
  if (resident_records_ != 0 || count == 0) return false;
  const std::size_t chunks =
      (static_cast<std::size_t>(count) + chunk_records_ - 1) / chunk_records_;
  const std::size_t bytes = chunks * chunk_records_ * rl();
  if (bytes > g_resident_budget - std::min(g_resident_budget, g_resident_reserved)) return false;
  // From now on the chunks hold these records: no window may hold a change of its own.
  int ignored = kOsOk;
  for (Window& w : windows_) {
    if (!write_changes(w.held, ignored)) return false;
  }
  for (Window& w : windows_) forget(w.held);
  for (CachedBlock& b : blocks_) b = CachedBlock{};
  chunks_.resize(chunks);
  resident_records_ = count;
  reserved_ = bytes;
  g_resident_reserved += bytes;
  return true;
}

bool RecordFile::read_resident(Held& chunk, RecNo recno, RecNo last, std::uint8_t* dest,
                               int& oscode) {
  if (!chunk.holds(recno)) {
    const RecNo first = (recno - 1) / chunk_records_ * chunk_records_ + 1;
    const RecNo end = std::min({first + chunk_records_ - 1, last, resident_records_});
    if (end < recno) {
      // Beyond the records to read (never in a run): the record alone, from the file.
      IoResult r = file_->read_at(offset(recno), dest, rl());
      oscode = r.oscode;
      return r.bytes == rl();
    }
    if (chunk.count == 0) chunk.first = first;
    if (chunk.bytes.empty()) chunk.bytes.resize(static_cast<std::size_t>(chunk_records_) * rl());
    // The records from the first one not read yet, a chunk's part at a time.
    const RecNo from = chunk.first + chunk.count;
    IoResult r = file_->read_at(offset(from), at(chunk, from),
                                static_cast<std::size_t>(end - from + 1) * rl());
    const RecNo read = static_cast<RecNo>(r.bytes / rl());
    overlay_changes(from, read, at(chunk, from));
    chunk.count += read;
    oscode = r.oscode;
    if (!chunk.holds(recno)) return false;
  }
  std::memcpy(dest, at(chunk, recno), rl());
  return true;
}

bool RecordFile::short_step(const Pace& p, RecNo recno) const {
  return recno > p.last && recno - p.last <= kShortStepBlocks * block_records_;
}

bool RecordFile::copy_from_block(RecNo recno, std::uint8_t* dest) {
  if (blocks_.empty()) return false;
  const std::size_t slot = ((recno - 1) / block_records_) % blocks_.size();
  const CachedBlock& b = blocks_[slot];
  if (b.first == 0 || recno < b.first || recno >= b.first + b.count) return false;
  std::memcpy(dest, cached_record(slot, recno), rl());
  return true;
}

IoResult RecordFile::read_window(Held& window, RecNo recno, RecNo last) {
  RecNo want = static_cast<RecNo>(std::max<std::size_t>(1, kReadAheadBytes / rl()));
  want = last >= recno ? std::min<RecNo>(want, last - recno + 1) : 1;
  window.bytes.resize(static_cast<std::size_t>(want) * rl());
  IoResult r = file_->read_at(offset(recno), window.bytes.data(), window.bytes.size());
  window.first = recno;
  window.count = static_cast<RecNo>(r.bytes / rl());
  overlay_changes(window.first, window.count, window.bytes.data());
  return r;
}

IoResult RecordFile::read_block(RecNo recno, RecNo last) {
  if (blocks_.empty()) {
    const std::size_t block_size = static_cast<std::size_t>(block_records_) * rl();
    blocks_.resize(std::max(kMinCachedBlocks, kBlockCacheBytes / block_size));
    block_bytes_.resize(blocks_.size() * block_size);
  }
  const RecNo block = (recno - 1) / block_records_;
  const std::size_t slot = block % blocks_.size();
  CachedBlock& b = blocks_[slot];
  // Every record of [first, first + count) belongs to this block, so the slot finds it.
  b.first = block * block_records_ + 1;
  RecNo want = block_records_;
  if (last < recno) {
    b.first = recno;  // only the record itself, as a read beyond `last` has always been
    want = 1;
  } else {
    want = std::min<RecNo>(want, last - b.first + 1);
  }
  IoResult r = file_->read_at(offset(b.first), cached_record(slot, b.first),
                              static_cast<std::size_t>(want) * rl());
  b.count = static_cast<RecNo>(r.bytes / rl());
  overlay_changes(b.first, b.count, cached_record(slot, b.first));
  if (b.count == 0) b.first = 0;
  return r;
}

// --- writes ---

RecordFile::WriteResult RecordFile::write(RecNo recno, const std::uint8_t* data, bool append,
                                          RecNo count) {
  if (in_write_behind(recno)) {
    std::memcpy(wb_.data() + static_cast<std::size_t>(recno - wb_first_) * rl(), data, rl());
    return {};
  }
  if (shape_.shared) return write_through(recno, data);
  if (append) return hold_append(recno, data, count);
  // A record held in the window or its chunk changes there, to be written later with the
  // other changes near it.
  Held* holder = chunk_of(recno);
  if (holder != nullptr && !holder->holds(recno)) holder = nullptr;
  for (Window& w : windows_) {
    if (holder == nullptr && w.held.holds(recno)) holder = &w.held;
  }
  if (holder == nullptr) return write_through(recno, data);
  std::memcpy(at(*holder, recno), data, rl());
  holder->dirty_lo = holder->dirty() ? std::min(holder->dirty_lo, recno) : recno;
  holder->dirty_hi = std::max(holder->dirty_hi, recno);
  refresh_reads(recno, data, holder);
  return {};
}

RecordFile::WriteResult RecordFile::write_through(RecNo recno, const std::uint8_t* data) {
  IoResult w = file_->write_at(offset(recno), data, rl());
  if (w.bytes != rl()) return {write_failure(w)};
  refresh_reads(recno, data);
  return {};
}

RecordFile::WriteResult RecordFile::hold_append(RecNo recno, const std::uint8_t* data,
                                                RecNo count) {
  if (wb_count_ > 0 && recno != wb_first_ + wb_count_) {
    WriteResult f = flush_appends(count);
    if (!f.ok()) return f;
  }
  if (wb_count_ == 0) {
    wb_first_ = recno;
    wb_.resize(static_cast<std::size_t>(wb_capacity_) * rl());
  }
  std::memcpy(wb_.data() + static_cast<std::size_t>(wb_count_) * rl(), data, rl());
  ++wb_count_;
  if (wb_count_ == wb_capacity_) return flush_appends(count);
  return {};
}

RecordFile::WriteResult RecordFile::flush(RecNo count) {
  WriteResult w = write_all_changes();
  return w.ok() ? flush_appends(count) : w;
}

bool RecordFile::holds_changes() const {
  for (const Window& w : windows_) {
    if (w.held.dirty()) return true;
  }
  return std::any_of(chunks_.begin(), chunks_.end(), [](const Held& c) { return c.dirty(); });
}

bool RecordFile::write_changes(Held& h, int& oscode) {
  if (!h.dirty()) return true;
  const std::size_t bytes = static_cast<std::size_t>(h.dirty_hi - h.dirty_lo + 1) * rl();
  IoResult w = file_->write_at(offset(h.dirty_lo), at(h, h.dirty_lo), bytes);
  if (w.bytes != bytes) {
    oscode = write_failure(w);
    return false;
  }
  if (shape_.start_writeback) file_->start_writeback(offset(h.dirty_lo), bytes);
  h.dirty_lo = h.dirty_hi = 0;
  return true;
}

RecordFile::WriteResult RecordFile::write_all_changes() {
  int oscode = kOsOk;
  for (Window& w : windows_) {
    if (!write_changes(w.held, oscode)) return {oscode};
  }
  for (Held& c : chunks_) {
    if (!write_changes(c, oscode)) return {oscode};
  }
  return {};
}

RecordFile::WriteResult RecordFile::flush_appends(RecNo count) {
  if (wb_count_ == 0) return {};
  const std::size_t bytes = static_cast<std::size_t>(wb_count_) * rl();
  IoResult w = file_->write_at(offset(wb_first_), wb_.data(), bytes);
  if (w.bytes != bytes) {
    WriteResult out{write_failure(w)};
    EndResult end = settle_end(count);
    out.settled = end.counted;
    out.held = end.held;
    return out;
  }
  // A commit at close must wait for these bytes to reach the disk: start them on their
  // way now, while the run goes on.
  if (shape_.start_writeback) file_->start_writeback(offset(wb_first_), bytes);
  // Reads stop short of the write-behind buffer, so no buffer holds these records yet;
  // refreshing them keeps that true whatever read came before.
  for (RecNo i = 0; i < wb_count_; ++i) {
    refresh_reads(wb_first_ + i, wb_.data() + static_cast<std::size_t>(i) * rl());
  }
  wb_first_ = wb_count_ = 0;
  return {};
}

void RecordFile::overlay_changes(RecNo first, RecNo count, std::uint8_t* dest) const {
  for (const Window& w : windows_) {
    const Held& h = w.held;
    if (count == 0 || !h.dirty()) continue;
    const RecNo lo = std::max(first, h.dirty_lo), hi = std::min(first + count - 1, h.dirty_hi);
    if (lo > hi) continue;
    std::memcpy(dest + static_cast<std::size_t>(lo - first) * rl(),
                h.bytes.data() + static_cast<std::size_t>(lo - h.first) * rl(),
                static_cast<std::size_t>(hi - lo + 1) * rl());
  }
}

void RecordFile::refresh_reads(RecNo recno, const std::uint8_t* data, const Held* changed_in) {
  for (Window& w : windows_) {
    if (&w.held != changed_in && w.held.holds(recno)) std::memcpy(at(w.held, recno), data, rl());
  }
  if (Held* c = chunk_of(recno); c != nullptr && c != changed_in && c->holds(recno)) {
    std::memcpy(at(*c, recno), data, rl());
  }
  if (blocks_.empty()) return;
  const std::size_t slot = ((recno - 1) / block_records_) % blocks_.size();
  const CachedBlock& b = blocks_[slot];
  if (b.first != 0 && recno >= b.first && recno < b.first + b.count) {
    std::memcpy(cached_record(slot, recno), data, rl());
  }
}

RecordFile::EndResult RecordFile::settle_end(RecNo count) {
  EndResult out;
  IoResult size = file_->size();
  if (size.oscode != kOsOk) {
    out.oscode = size.oscode;
    return out;
  }
  dbf::Header layout;
  layout.header_len = static_cast<std::uint16_t>(shape_.header_len);
  layout.record_len = static_cast<std::uint32_t>(rl());
  dbf::record_count_for_size(layout, size.bytes, out.held);
  out.counted = true;
  if (out.held > count) out.held = count;
  const std::uint64_t end = offset(out.held + 1);
  if (size.bytes > end) {
    // Changes held for records before the cut still reach the file (a failed write of
    // them has been reported already).
    write_all_changes();
    const std::uint8_t eof = dbf::kEofByte;
    IoResult w = file_->write_at(end, &eof, 1);
    out.oscode = w.bytes == 1 ? file_->truncate(end + 1) : write_failure(w);
    drop_reads();
  }
  return out;
}

}  // namespace lum
