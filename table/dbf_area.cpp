#include "table/dbf_area.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/clock.h"
#include "runtime/runtime.h"
#include "table/field_codec.h"
#include "table/files.h"

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
// A step forward of at most this many blocks' records counts as short: two of them in a
// row are a sequential pass with gaps (index order over keys nearly in record order).
constexpr RecNo kShortStepBlocks = 4;

// Lock offsets of shared tables, far beyond any real file size.
constexpr std::uint64_t kLockBase = 1000000000ULL;
constexpr std::uint64_t kHeaderLock = kLockBase - 2;
constexpr std::uint64_t kAppendLock = kLockBase - 1;

// The name to open: the first of the search candidates that exists as a file; when none
// does, the first candidate, so that the error names it.
std::string search_name(const std::string& name) {
  std::vector<std::string> candidates = search_candidates(name);
  for (const std::string& c : candidates) {
    if (file_exists(c)) return c;
  }
  return candidates.front();
}

}  // namespace

DbfArea::DbfArea(std::string driver_name) : Area(std::move(driver_name)) {}

DbfArea::~DbfArea() {
  if (open_) {
    flush_quietly();
    close_memo_file();
    data_.close();
  }
}

// --- opening and closing ---

bool DbfArea::open(const OpenInfo& info) {
  info_ = info;
  ErrorObject err = area_error(kErrOpen, 1001, kCanRetry | kCanDefault, info.name);
  std::string name;
  if (!with_retry(err, [&](int& oscode) {
        // Each attempt searches again: a retry may find the file in another place.
        name = search_name(info.name);
        oscode = data_.open(name, info.read_only ? FileAccess::ReadOnly : FileAccess::ReadWrite,
                            info.shared ? FileShare::Shared : FileShare::Exclusive);
        return oscode == kOsOk;
      })) {
    return false;
  }
  open_name_ = std::move(name);
  if (!read_header()) {
    data_.close();
    return false;
  }
  set_fields(hdr_.fields);
  if (hdr_.has_memo && !open_memo_file()) {
    close_memo_file();
    data_.close();
    clear_fields();
    return false;
  }
  record_.assign(hdr_.record_len, ' ');
  blank_ = dbf::blank_record(hdr_);
  wb_capacity_ = static_cast<RecNo>(std::max<std::size_t>(1, kWriteBehindBytes / hdr_.record_len));
  block_records_ = static_cast<RecNo>(
      std::clamp<std::size_t>(kBlockBytes / hdr_.record_len, 1, kMaxBlockRecords));
  open_ = true;
  recno_ = 0;
  return go_top();
}

// Not through with_retry: a retry here reads the whole header again (header,
// descriptors, file size, each depending on the one before), and the loop raises two
// error objects at five points, each keeping its own TRIES.
bool DbfArea::read_header() {
  ErrorObject read_err = area_error(kErrRead, 1010, kCanRetry | kCanDefault, info_.name);
  ErrorObject corrupt = area_error(kErrCorruption, 1012, kCanRetry | kCanDefault, info_.name);
  for (;;) {
    std::uint8_t head[dbf::kHeaderSize];
    IoResult r = data_.read_at(0, head, sizeof head);
    dbf::Status st = dbf::decode_header(std::span<const std::uint8_t>(head, r.bytes), hdr_);
    if (st == dbf::Status::ShortHeader) {
      read_err.oscode = r.oscode;
      if (raise_area(read_err).retry()) continue;
      return false;
    }
    if (st == dbf::Status::BadVersion) {
      if (raise_area(corrupt).retry()) continue;
      return false;
    }
    std::vector<std::uint8_t> block(dbf::descriptor_block_size(hdr_));
    r = data_.read_at(dbf::kHeaderSize, block.data(), block.size());
    if (r.bytes < block.size()) {
      if (r.oscode != kOsOk) {
        read_err.oscode = r.oscode;
        if (raise_area(read_err).retry()) continue;
      } else if (raise_area(corrupt).retry()) {
        continue;
      }
      return false;
    }
    st = dbf::decode_descriptors(block, hdr_);
    if (st != dbf::Status::Ok) {
      // A bad descriptor does not heal by reading again: default is the only way on.
      raise_error(kErrCorruption, 1012, kCanDefault, info_.name);
      return false;
    }
    IoResult size = data_.size();
    if (size.oscode != kOsOk) {
      read_err.oscode = size.oscode;
      if (raise_area(read_err).retry()) continue;
      return false;
    }
    if (int os = count_for_size(size.bytes, count_); os != kOsOk) {
      read_err.oscode = os;
      if (raise_area(read_err).retry()) continue;
      return false;
    }
    if (size.bytes < hdr_.header_len) {
      raise_error(kErrCorruption, 1012, kCanDefault, info_.name);
      return false;
    }
    return true;
  }
}

bool DbfArea::open_memo_file() {
  raise_error(kErrOpen, 1056, 0, info_.name);
  return false;
}

bool DbfArea::get_memo(int index, Value&) {
  raise_error(kErrDataType, 1020, kCanDefault, {}, 0, field(index).name);
  return false;
}

bool DbfArea::close() {
  if (!open_) return true;
  // A record that cannot be written still leaves a header that counts exactly the
  // records in the file (write_header settles the count), then the close fails.
  bool written = write_back();
  unlock_all();
  if ((update_header_ || !written) && !info_.read_only && !write_header()) return false;
  if (!written || !flush_write_behind()) return false;
  if (Runtime::current().settings().hardcommit && !commit_files()) return false;
  clear_filter();
  close_memo_file();
  data_.close();
  open_ = false;
  reset_state();
  clear_fields();
  return true;
}

bool DbfArea::flush() {
  if (!open_) return true;
  if (!write_back()) return false;
  if (update_header_ && !write_header()) return false;
  if (!flush_write_behind()) return false;
  if (!info_.read_only && !commit_files()) return false;
  needs_commit_ = false;
  return true;
}

bool DbfArea::commit_files() {
  if (info_.read_only) return true;
  // One error object for every attempt, made at the first failure, so that its TRIES
  // counts the retries.
  std::optional<ErrorObject> err;
  for (;;) {
    int oscode = data_.commit();
    if (oscode == kOsOk) oscode = commit_memo_file();
    if (oscode == kOsOk) return true;
    if (!err) err = area_error(kErrWrite, 1011, kCanRetry | kCanDefault, info_.name);
    err->oscode = oscode;
    RaiseAnswer answer = raise_area(*err);
    if (!answer.retry()) return answer.by_default();
  }
}

void DbfArea::flush_quietly() noexcept {
  if (!open_ || info_.read_only) return;
  bool was_quiet = quiet_;
  quiet_ = true;
  try {
    write_back();
    if (update_header_) write_header();
    flush_write_behind();
  } catch (...) {
    // Last moments of the process: nothing may escape, whatever failed.
  }
  quiet_ = was_quiet;
}

void DbfArea::reset_state() {
  count_ = recno_ = 0;
  positioned_ = valid_ = dirty_ = appending_ = update_header_ = deleted_ = false;
  bof_ = eof_ = true;
  found_ = false;
  needs_commit_ = false;
  record_.clear();
  blank_.clear();
  discard_buffers();
  wb_.clear();
  wb_.shrink_to_fit();
  ra_.clear();
  ra_.shrink_to_fit();
  blocks_.clear();
  blocks_.shrink_to_fit();
  block_bytes_.clear();
  block_bytes_.shrink_to_fit();
  locks_.clear();
}

void DbfArea::discard_buffers() {
  drop_read_buffers();
  wb_first_ = wb_count_ = 0;
}

void DbfArea::drop_read_buffers() {
  ra_first_ = ra_count_ = 0;
  for (CachedBlock& b : blocks_) b = CachedBlock{};
  last_read_ = 0;
  stepping_forward_ = false;
}

// --- header ---

bool DbfArea::recount() {
  IoResult size = data_.size();
  if (size.oscode != kOsOk) return false;
  RecNo n = 0;
  if (count_for_size(size.bytes, n) != kOsOk) return false;
  count_ = n;
  return true;
}

int DbfArea::count_for_size(std::uint64_t size, RecNo& count) {
  int last = -1;
  if (hdr_.record_len == 1 && size > hdr_.header_len) {
    std::uint8_t b = 0;
    IoResult r = data_.read_at(size - 1, &b, 1);
    if (r.oscode != kOsOk) return r.oscode;
    if (r.bytes == 1) last = b;
  }
  dbf::record_count_for_size(hdr_, size, count, last);
  return kOsOk;
}

RecNo DbfArea::record_count() {
  if (open_ && info_.shared) recount();
  return count_;
}

bool DbfArea::write_header() {
  if (info_.read_only) {
    raise_error(kErrReadonly, 1025, 0, info_.name);
    return false;
  }
  // When buffered records cannot reach the file, the header still goes out, counting
  // only what the file really holds; the records stay buffered and a later
  // successful write-back rewrites the header with them.
  const bool flushed = flush_write_behind();
  RecNo header_count = count_;
  bool header_locked = false;
  if (info_.shared) {
    // Another process may hold the header lock for its own header write; that write
    // is short, so a few tries suffice.
    for (int tries = 0; tries < 50 && !header_locked; ++tries) {
      header_locked = data_.lock_range(kHeaderLock, 1, true) == kOsOk;
      if (!header_locked) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    recount();
    header_count = count_;
  } else {
    IoResult size = data_.size();
    if (size.oscode != kOsOk) {
      raise_error(kErrWrite, 1011, 0, info_.name, size.oscode);
      return false;
    }
    std::uint64_t end = record_offset(count_ + 1);
    if (size.bytes < end) {
      // Appended records that have not reached the file (a failed write) are not
      // counted; a partial one at the end is cut off below.
      dbf::record_count_for_size(hdr_, size.bytes, header_count);
      end = record_offset(header_count + 1);
    }
    if (size.bytes > end) {
      // Records past the count (after a zap, or a partial record) are cut off behind
      // one end-of-file byte.
      std::uint8_t eof = dbf::kEofByte;
      IoResult w = data_.write_at(end, &eof, 1);
      int rc = w.bytes == 1 ? data_.truncate(end + 1) : (w.oscode ? w.oscode : kOsDiskFull);
      drop_read_buffers();
      if (rc != kOsOk) {
        raise_error(kErrWrite, 1011, 0, info_.name, rc);
        return false;
      }
    }
  }
  const bool ok = put_header(header_count);
  if (header_locked) data_.unlock_range(kHeaderLock, 1);
  if (!ok) return false;
  update_header_ = header_count != count_;
  needs_commit_ = true;
  return flushed && !update_header_;
}

bool DbfArea::put_header(RecNo count) {
  LocalDateTime today = local_now();
  dbf::HeaderWrite hw;
  hw.record_count = count;
  hw.year = today.year;
  hw.month = today.month;
  hw.day = today.day;
  hw.codepage = info_.codepage;
  std::array<std::uint8_t, dbf::kHeaderSize> bytes = dbf::encode_header(hdr_, hw);
  IoResult w = data_.write_at(0, bytes.data(), bytes.size());
  bool ok = w.bytes == bytes.size();
  if (ok && hdr_.has_autoinc) {
    // The next auto-increment values live in their descriptors.
    for (std::size_t i = 0; ok && i < fields_.size(); ++i) {
      if (!fields_[i].autoinc) continue;
      std::uint8_t next[4];
      dbf::put_le32(next, fields_[i].autoinc_next);
      w = data_.write_at(dbf::kHeaderSize + i * dbf::kDescriptorSize + 19, next, 4);
      ok = w.bytes == 4;
    }
  }
  if (!ok) {
    raise_error(kErrWrite, 1011, 0, info_.name, w.oscode ? w.oscode : kOsDiskFull);
    return false;
  }
  hdr_.raw = bytes;
  return true;
}

void DbfArea::settle_after_failed_write() {
  // Whole records that reached the file are counted in the header; a partial one is
  // cut off behind 0x1A. Records still buffered stay for a later write-back.
  if (info_.shared || info_.read_only) return;
  IoResult size = data_.size();
  if (size.oscode != kOsOk) return;
  RecNo held = 0;
  dbf::record_count_for_size(hdr_, size.bytes, held);
  if (held > count_) held = count_;
  const std::uint64_t end = record_offset(held + 1);
  if (size.bytes > end) {
    std::uint8_t eof = dbf::kEofByte;
    if (data_.write_at(end, &eof, 1).bytes == 1) data_.truncate(end + 1);
    drop_read_buffers();
  }
  bool was_quiet = quiet_;
  quiet_ = true;  // the failure at hand has been reported already
  put_header(held);
  quiet_ = was_quiet;
  update_header_ = true;
}

// --- records in the file ---

bool DbfArea::flush_write_behind() {
  if (wb_count_ == 0) return true;
  std::size_t bytes = static_cast<std::size_t>(wb_count_) * hdr_.record_len;
  IoResult w = data_.write_at(record_offset(wb_first_), wb_.data(), bytes);
  if (w.bytes != bytes) {
    settle_after_failed_write();
    raise_error(kErrWrite, 1011, 0, info_.name, w.oscode ? w.oscode : kOsDiskFull);
    return false;
  }
  // The commit at close must wait for these bytes to reach the disk: start them on their
  // way now, while the run goes on.
  if (Runtime::current().settings().hardcommit)
    data_.start_writeback(record_offset(wb_first_), bytes);
  // Reads stop short of the write-behind buffer, so no buffer holds these records yet;
  // refreshing them keeps that true whatever read came before.
  for (RecNo i = 0; i < wb_count_; ++i) {
    refresh_read_buffers(wb_first_ + i, wb_.data() + static_cast<std::size_t>(i) * hdr_.record_len);
  }
  wb_first_ = wb_count_ = 0;
  needs_commit_ = true;
  return true;
}

bool DbfArea::write_record(RecNo recno, const std::uint8_t* data) {
  const std::size_t rl = hdr_.record_len;
  if (wb_count_ > 0 && recno >= wb_first_ && recno < wb_first_ + wb_count_) {
    std::memcpy(wb_.data() + static_cast<std::size_t>(recno - wb_first_) * rl, data, rl);
    return true;
  }
  if (!info_.shared && appending_) {
    if (wb_count_ > 0 && recno != wb_first_ + wb_count_ && !flush_write_behind()) return false;
    if (wb_count_ == 0) {
      wb_first_ = recno;
      wb_.resize(static_cast<std::size_t>(wb_capacity_) * rl);
    }
    std::memcpy(wb_.data() + static_cast<std::size_t>(wb_count_) * rl, data, rl);
    ++wb_count_;
    if (wb_count_ == wb_capacity_) return flush_write_behind();
    return true;
  }
  IoResult w = data_.write_at(record_offset(recno), data, rl);
  if (w.bytes != rl) {
    raise_error(kErrWrite, 1011, 0, info_.name, w.oscode ? w.oscode : kOsDiskFull);
    return false;
  }
  refresh_read_buffers(recno, data);
  needs_commit_ = true;
  return true;
}

void DbfArea::refresh_read_buffers(RecNo recno, const std::uint8_t* data) {
  const std::size_t rl = hdr_.record_len;
  if (ra_count_ > 0 && recno >= ra_first_ && recno < ra_first_ + ra_count_) {
    std::memcpy(ra_.data() + static_cast<std::size_t>(recno - ra_first_) * rl, data, rl);
  }
  if (blocks_.empty()) return;
  const RecNo block = (recno - 1) / block_records_;
  const std::size_t slot = block % blocks_.size();
  const CachedBlock& b = blocks_[slot];
  if (b.first != 0 && recno >= b.first && recno < b.first + b.count) {
    std::memcpy(cached_record(slot, recno), data, rl);
  }
}

bool DbfArea::read_record() {
  if (valid_) return true;
  if (!positioned_) {
    record_ = blank_;
    valid_ = true;
    deleted_ = false;
    return true;
  }
  if (recno_ > count_ && info_.shared) recount();
  if (recno_ > count_) {
    record_ = blank_;
    valid_ = true;
    eof_ = true;
    deleted_ = false;
    return true;
  }
  // The error object is made on the first failure only: this runs for every record.
  auto read_error = [&] { return area_error(kErrRead, 1010, kCanRetry | kCanDefault, info_.name); };
  if (!with_retry(read_error, [&](int& oscode) { return fetch_record(oscode); })) return false;
  valid_ = true;
  deleted_ = record_[0] == dbf::kDeleted;
  return true;
}

bool DbfArea::fetch_record(int& oscode) {
  const std::size_t rl = hdr_.record_len;
  if (wb_count_ > 0 && recno_ >= wb_first_ && recno_ < wb_first_ + wb_count_) {
    std::memcpy(record_.data(), wb_.data() + static_cast<std::size_t>(recno_ - wb_first_) * rl, rl);
    return true;
  }
  if (info_.shared) {
    IoResult r = data_.read_at(record_offset(recno_), record_.data(), rl);
    oscode = r.oscode;
    return r.bytes == rl;
  }
  if (!copy_buffered_record()) {
    // Reads stop short of the first record that is still in the write-behind buffer.
    const RecNo last = wb_count_ > 0 ? wb_first_ - 1 : count_;
    // The record after the one read last, or a second short step forward in a row: a
    // sequential pass, read ahead. Anything else is a random visit (index order, a seek),
    // which reads only the small block around the record.
    const bool sequential = recno_ == last_read_ + 1 || (short_step() && stepping_forward_);
    IoResult r = sequential ? read_window(last) : read_block(last);
    oscode = r.oscode;
    if (!copy_buffered_record()) return false;
  }
  // A visit of the same record again neither continues nor breaks a forward pass.
  if (recno_ != last_read_) stepping_forward_ = short_step();
  last_read_ = recno_;
  return true;
}

bool DbfArea::short_step() const {
  return recno_ > last_read_ && recno_ - last_read_ <= kShortStepBlocks * block_records_;
}

bool DbfArea::copy_buffered_record() {
  const std::size_t rl = hdr_.record_len;
  if (ra_count_ > 0 && recno_ >= ra_first_ && recno_ < ra_first_ + ra_count_) {
    std::memcpy(record_.data(), ra_.data() + static_cast<std::size_t>(recno_ - ra_first_) * rl, rl);
    return true;
  }
  if (blocks_.empty()) return false;
  const std::size_t slot = ((recno_ - 1) / block_records_) % blocks_.size();
  const CachedBlock& b = blocks_[slot];
  if (b.first == 0 || recno_ < b.first || recno_ >= b.first + b.count) return false;
  std::memcpy(record_.data(), cached_record(slot, recno_), rl);
  return true;
}

IoResult DbfArea::read_window(RecNo last) {
  const std::size_t rl = hdr_.record_len;
  RecNo want = static_cast<RecNo>(std::max<std::size_t>(1, kReadAheadBytes / rl));
  want = last >= recno_ ? std::min<RecNo>(want, last - recno_ + 1) : 1;
  ra_.resize(static_cast<std::size_t>(want) * rl);
  IoResult r = data_.read_at(record_offset(recno_), ra_.data(), ra_.size());
  ra_first_ = recno_;
  ra_count_ = static_cast<RecNo>(r.bytes / rl);
  return r;
}

IoResult DbfArea::read_block(RecNo last) {
  const std::size_t rl = hdr_.record_len;
  if (blocks_.empty()) {
    const std::size_t block_size = static_cast<std::size_t>(block_records_) * rl;
    blocks_.resize(std::max(kMinCachedBlocks, kBlockCacheBytes / block_size));
    block_bytes_.resize(blocks_.size() * block_size);
  }
  const RecNo block = (recno_ - 1) / block_records_;
  const std::size_t slot = block % blocks_.size();
  CachedBlock& b = blocks_[slot];
  // Every record of [first, first + count) belongs to this block, so the slot finds it.
  b.first = block * block_records_ + 1;
  RecNo want = block_records_;
  if (last < recno_) {
    b.first = recno_;  // only the record itself, as a read beyond `last` has always been
    want = 1;
  } else {
    want = std::min<RecNo>(want, last - b.first + 1);
  }
  IoResult r = data_.read_at(record_offset(b.first), cached_record(slot, b.first),
                             static_cast<std::size_t>(want) * rl);
  b.count = static_cast<RecNo>(r.bytes / rl);
  if (b.count == 0) b.first = 0;
  return r;
}

const std::uint8_t* DbfArea::record_data() {
  if (!open_ || !read_record()) return nullptr;
  return record_.data();
}

bool DbfArea::write_back() {
  if (!dirty_) return true;
  if (!write_record(recno_, record_.data())) return false;
  dirty_ = false;
  if (appending_) {
    update_header_ = true;
    appending_ = false;
  }
  if (info_.shared && update_header_) return write_header();
  return true;
}

bool DbfArea::mark_dirty() {
  if (info_.read_only) {
    raise_error(kErrReadonly, 1025, 0, info_.name);
    return false;
  }
  if (info_.shared && std::find(locks_.begin(), locks_.end(), recno_) == locks_.end()) {
    raise_error(kErrLockRequired, 1022, 0, info_.name);
    return false;
  }
  dirty_ = true;
  return true;
}

// --- movement ---

bool DbfArea::go_to(RecNo recno) {
  if (!write_back()) return false;
  if (recno > count_ && info_.shared) recount();
  if (recno >= 1 && recno <= count_) {
    recno_ = recno;
    valid_ = false;
    bof_ = eof_ = false;
    positioned_ = true;
  } else {
    recno_ = count_ + 1;
    record_ = blank_;
    valid_ = true;
    deleted_ = false;
    bof_ = eof_ = true;
    positioned_ = false;
  }
  found_ = false;
  return true;
}

bool DbfArea::skip_raw(std::int64_t n) {
  if (n == 0) {
    // Re-read in place: the flags stay as they are.
    bool b = bof_, e = eof_;
    bool ok = go_to(recno_);
    bof_ = b;
    eof_ = e;
    return ok;
  }
  if (n < 0) {
    std::uint64_t back = 0 - static_cast<std::uint64_t>(n);
    if (back >= recno_) {
      bool ok = go_to(1);
      bof_ = true;
      return ok;
    }
    return go_to(static_cast<RecNo>(recno_ - back));
  }
  std::uint64_t target = static_cast<std::uint64_t>(recno_) + static_cast<std::uint64_t>(n);
  // Anything past the end is the phantom record; the cap only keeps the sum in range.
  return go_to(target > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<RecNo>(target));
}

bool DbfArea::deleted(bool& out) {
  if (!read_record()) return false;
  out = deleted_;
  return true;
}

// --- update ---

bool DbfArea::lock_record(RecNo recno) {
  if (!info_.shared || holds_lock(recno)) return true;
  // Another opener holds the record: "Lock Failure", the error of a lock that cannot
  // be had (sub-code 1038). Retry, since the other opener may let go
  // (the default handler retries a lock failure that allows it); default gives up.
  auto lock_error = [&] { return area_error(kErrLock, 1038, kCanRetry | kCanDefault, info_.name); };
  return with_retry(lock_error, [&](int& oscode) { return take_record_lock(recno, oscode); });
}

bool DbfArea::holds_lock(RecNo recno) const {
  return std::find(locks_.begin(), locks_.end(), recno) != locks_.end();
}

bool DbfArea::take_record_lock(RecNo recno, int& oscode) {
  oscode = data_.lock_range(kLockBase + recno, 1, true);
  if (oscode != kOsOk) return false;
  locks_.push_back(recno);
  return true;
}

void DbfArea::unlock_all() {
  for (RecNo r : locks_) data_.unlock_range(kLockBase + r, 1);
  locks_.clear();
}

bool DbfArea::append(bool unlock_all_first) {
  if (!write_back()) return false;
  if (info_.read_only) {
    raise_error(kErrReadonly, 1025, 0, info_.name);
    return false;
  }
  if (info_.shared) {
    bool ok = data_.lock_range(kAppendLock, 1, true) == kOsOk;
    if (ok) {
      recount();
      if (unlock_all_first) unlock_all();
      // Not lock_record: a new record that cannot be locked is this append's own
      // failure, "Append lock failed" below, raised once.
      int oscode = kOsOk;
      ok = holds_lock(count_ + 1) || take_record_lock(count_ + 1, oscode);
      if (!ok) data_.unlock_range(kAppendLock, 1);
    }
    if (!ok) {
      raise_error(kErrAppendLock, 1024, kCanDefault, info_.name);
      return false;
    }
  }
  record_ = blank_;
  for (dbf::Field& f : fields_) {
    if (!hdr_.has_autoinc) break;
    if (!f.autoinc) continue;
    // A new record takes the next value; the counter moves on by the step.
    std::uint32_t v = f.autoinc_next;
    for (std::uint32_t i = 0; i < f.len && i < 4; ++i) {
      record_[f.offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    f.autoinc_next += f.autoinc_step;
  }
  positioned_ = valid_ = dirty_ = appending_ = true;
  update_header_ = true;
  ++count_;
  recno_ = count_;
  bof_ = eof_ = found_ = false;
  deleted_ = false;
  if (info_.shared) data_.unlock_range(kAppendLock, 1);
  return true;
}

bool DbfArea::zap() {
  if (info_.read_only) {
    raise_error(kErrReadonly, 1025, 0, info_.name);
    return false;
  }
  if (info_.shared) {
    raise_error(kErrExclusiveRequired, 1023, 0, info_.name);
    return false;
  }
  if (!write_back()) return false;
  // Records still waiting to be written are cut off with the rest.
  discard_buffers();
  count_ = 0;
  update_header_ = true;
  for (dbf::Field& f : fields_) {
    if (f.autoinc) f.autoinc_next = 1;
  }
  if (!write_header()) return false;
  if (!go_to(0)) return false;
  if (hdr_.has_memo && !zap_memo_file()) return false;
  return true;
}

bool DbfArea::delete_record() {
  if (!read_record()) return false;
  if (!positioned_) return true;
  if (!dirty_ && !mark_dirty()) return false;
  record_[0] = dbf::kDeleted;
  deleted_ = true;
  return true;
}

bool DbfArea::put_record_image(const std::uint8_t* image, std::size_t size) {
  if (!positioned_) return true;
  if (!dirty_ && !mark_dirty()) return false;
  const std::size_t rl = hdr_.record_len;
  std::size_t n = std::min(size, rl);
  std::memcpy(record_.data(), image, n);
  if (n < rl) std::memcpy(record_.data() + n, blank_.data() + n, rl - n);
  if (record_[0] == 'D') {
    record_[0] = dbf::kDeleted;
  } else if (record_[0] == 'E') {
    record_[0] = dbf::kLive;
  }
  deleted_ = record_[0] == dbf::kDeleted;
  valid_ = true;
  return true;
}

// --- fields ---

bool DbfArea::get_field(int index, Value& out) {
  if (index < 0 || index >= field_count()) return false;
  if (!read_record()) return false;
  const dbf::Field& f = fields_[static_cast<std::size_t>(index)];
  if (f.memo_ref) return get_memo(index, out);
  decode_field(f, record_.data() + f.offset, out);
  return true;
}

bool DbfArea::put_field(int index, const Value& v) {
  if (index < 0 || index >= field_count()) return false;
  if (!read_record()) return false;
  // The phantom record (for instance after a seek that found nothing) takes no value.
  if (!positioned_) return true;
  if (!dirty_ && !mark_dirty()) return false;
  const dbf::Field& f = fields_[static_cast<std::size_t>(index)];
  if (f.memo_ref && v.is_string() && v.str().empty()) {
    // An empty text leaves no memo: the reference becomes blank (the text import gives
    // every memo field the empty string).
    std::memset(record_.data() + f.offset, f.binary ? 0 : ' ', f.len);
    return true;
  }
  PutResult r = f.memo_ref ? PutResult::TypeError : encode_field(f, v, record_.data() + f.offset);
  if (r == PutResult::Ok) return true;
  int gencode = r == PutResult::TypeError ? kErrDataType : kErrDataWidth;
  int subcode = r == PutResult::TypeError ? 1020 : 1021;
  // Answered "default", the write counts as done (a width error leaves the asterisks).
  return raise_error(gencode, subcode, kCanDefault, {}, 0, f.name).by_default();
}

std::optional<std::string_view> DbfArea::stored_text(int index) const {
  if (!valid_ || index < 0 || index >= field_count()) return std::nullopt;
  const dbf::Field& f = fields_[static_cast<std::size_t>(index)];
  if (f.type != 'C' || f.memo_ref) return std::nullopt;
  return std::string_view(reinterpret_cast<const char*>(record_.data()) + f.offset, f.len);
}

bool DbfArea::put_text(int index, std::string_view text) {
  if (index < 0 || index >= field_count()) return false;
  const dbf::Field& f = fields_[static_cast<std::size_t>(index)];
  // Other field types and memo fields take the text as a value, with their errors.
  if (f.type != 'C' || f.memo_ref) return put_field(index, Value::string(text));
  if (!read_record()) return false;
  if (!positioned_) return true;
  if (!dirty_ && !mark_dirty()) return false;
  // Cut or padded with blanks to the field's width, as encode_field stores a text; the
  // text may be a field of this same record.
  std::uint8_t* dest = record_.data() + f.offset;
  const std::size_t n = text.size() < f.len ? text.size() : f.len;
  std::memmove(dest, text.data(), n);
  std::memset(dest + n, ' ', f.len - n);
  return true;
}

}  // namespace lum
