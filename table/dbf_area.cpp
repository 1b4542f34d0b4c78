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

// Lock offsets of shared tables, far beyond any real file size.
constexpr std::uint64_t kLockBase = 1000000000ULL;
constexpr std::uint64_t kHeaderLock = kLockBase - 2;
constexpr std::uint64_t kAppendLock = kLockBase - 1;

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
  ErrorObject err = area_error(kErrOpen, kOpenError, kCanRetry | kCanDefault, info.name);
  std::string name;
  if (!with_retry(err, [&](int& oscode) {
        // Each attempt searches again: a retry may find the file in another place.
        name = find_table_file(info.name);
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
  RecordFile::Shape shape;
  shape.header_len = hdr_.header_len;
  shape.record_len = hdr_.record_len;
  shape.shared = info_.shared;
  shape.start_writeback = Runtime::current().settings().hardcommit;
  records_.attach(data_, shape);
  open_ = true;
  recno_ = 0;
  return go_top();
}

// Not through with_retry: a retry here reads the whole header again (header,
// descriptors, file size, each depending on the one before), and the loop raises two
// error objects at five points, each keeping its own TRIES.
bool DbfArea::read_header() {
  ErrorObject read_err = area_error(kErrRead, kReadError, kCanRetry | kCanDefault, info_.name);
  ErrorObject corrupt =
      area_error(kErrCorruption, kCorruption, kCanRetry | kCanDefault, info_.name);
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
      raise_error(kErrCorruption, kCorruption, kCanDefault, info_.name);
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
      raise_error(kErrCorruption, kCorruption, kCanDefault, info_.name);
      return false;
    }
    return true;
  }
}

bool DbfArea::open_memo_file() {
  raise_error(kErrOpen, kUnknownMemoKind, 0, info_.name);
  return false;
}

bool DbfArea::get_memo(int index, Value&) {
  raise_error(kErrDataType, kFieldType, kCanDefault, {}, 0, field(index).name);
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
  return info_.read_only || commit_files();
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
    if (!err) err = area_error(kErrWrite, kWriteError, kCanRetry | kCanDefault, info_.name);
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
  record_.clear();
  blank_.clear();
  records_.detach();
  locks_.clear();
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
    raise_error(kErrReadonly, kReadOnly, 0, info_.name);
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
    // Appended records that have not reached the file (a failed write) are not counted;
    // a partial record at the end, and records past the count (after a zap), are cut off.
    RecordFile::EndResult end = records_.settle_end(count_);
    if (end.oscode != kOsOk) {
      raise_error(kErrWrite, kWriteError, 0, info_.name, end.oscode);
      return false;
    }
    header_count = end.held;
  }
  const bool ok = put_header(header_count);
  if (header_locked) data_.unlock_range(kHeaderLock, 1);
  if (!ok) return false;
  update_header_ = header_count != count_;
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
    raise_error(kErrWrite, kWriteError, 0, info_.name, w.oscode ? w.oscode : kOsDiskFull);
    return false;
  }
  hdr_.raw = bytes;
  return true;
}

bool DbfArea::write_failed(const RecordFile::WriteResult& w) {
  if (w.settled && !info_.read_only) {
    // Whole records that reached the file are counted in the header; records still
    // buffered stay for a later write-back, which rewrites the header with them.
    bool was_quiet = quiet_;
    quiet_ = true;  // the failure at hand is reported below
    put_header(w.held);
    quiet_ = was_quiet;
    update_header_ = true;
  }
  raise_error(kErrWrite, kWriteError, 0, info_.name, w.oscode);
  return false;
}

// --- records in the file ---

bool DbfArea::flush_write_behind() {
  RecordFile::WriteResult w = records_.flush(count_);
  return w.ok() || write_failed(w);
}

bool DbfArea::write_record(RecNo recno, const std::uint8_t* data) {
  RecordFile::WriteResult w = records_.write(recno, data, appending_, count_);
  return w.ok() || write_failed(w);
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
  auto read_error = [&] {
    return area_error(kErrRead, kReadError, kCanRetry | kCanDefault, info_.name);
  };
  if (!with_retry(read_error, [&](int& oscode) {
        return records_.read(recno_, count_, record_.data(), oscode);
      })) {
    return false;
  }
  valid_ = true;
  deleted_ = record_[0] == dbf::kDeleted;
  return true;
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
    raise_error(kErrReadonly, kReadOnly, 0, info_.name);
    return false;
  }
  if (info_.shared && std::find(locks_.begin(), locks_.end(), recno_) == locks_.end()) {
    raise_error(kErrLockRequired, kLockRequired, 0, info_.name);
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
  auto lock_error = [&] {
    return area_error(kErrLock, kLockFailure, kCanRetry | kCanDefault, info_.name);
  };
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
    raise_error(kErrReadonly, kReadOnly, 0, info_.name);
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
      raise_error(kErrAppendLock, kAppendLockFailed, kCanDefault, info_.name);
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
    raise_error(kErrReadonly, kReadOnly, 0, info_.name);
    return false;
  }
  if (info_.shared) {
    raise_error(kErrExclusiveRequired, kExclusiveRequired, 0, info_.name);
    return false;
  }
  if (!write_back()) return false;
  // Records still waiting to be written are cut off with the rest.
  records_.discard();
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
  int subcode = r == PutResult::TypeError ? kFieldType : kFieldWidth;
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
