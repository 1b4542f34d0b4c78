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
// A step forward of at most this many blocks' records counts as short: two of them in a
// row are a sequential pass with gaps (index order over keys nearly in record order).
constexpr RecNo kShortStepBlocks = 4;

// The code of a short write: the host's, or a full disk when it gave none.
int write_failure(const IoResult& w) { return w.oscode != kOsOk ? w.oscode : kOsDiskFull; }

}  // namespace

void RecordFile::attach(File& file, const Shape& shape) {
  file_ = &file;
  shape_ = shape;
  wb_capacity_ = static_cast<RecNo>(std::max<std::size_t>(1, kWriteBehindBytes / rl()));
  block_records_ =
      static_cast<RecNo>(std::clamp<std::size_t>(kBlockBytes / rl(), 1, kMaxBlockRecords));
}

void RecordFile::detach() {
  discard();
  file_ = nullptr;
  // The buffers' memory goes with the table.
  std::vector<std::uint8_t>().swap(wb_);
  std::vector<std::uint8_t>().swap(ra_);
  std::vector<CachedBlock>().swap(blocks_);
  std::vector<std::uint8_t>().swap(block_bytes_);
}

void RecordFile::discard() {
  drop_reads();
  wb_first_ = wb_count_ = 0;
}

void RecordFile::drop_reads() {
  ra_first_ = ra_count_ = 0;
  for (CachedBlock& b : blocks_) b = CachedBlock{};
  last_read_ = 0;
  stepping_forward_ = false;
}

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
  if (!copy_buffered(recno, dest)) {
    // Reads stop short of the first record that is still in the write-behind buffer.
    const RecNo last = wb_count_ > 0 ? wb_first_ - 1 : count;
    // The record after the one read last, or a second short step forward in a row: a
    // sequential pass, read ahead. Anything else is a random visit (index order, a seek),
    // which reads only the small block around the record.
    const bool sequential = recno == last_read_ + 1 || (short_step(recno) && stepping_forward_);
    IoResult r = sequential ? read_window(recno, last) : read_block(recno, last);
    oscode = r.oscode;
    if (!copy_buffered(recno, dest)) return false;
  }
  // A visit of the same record again neither continues nor breaks a forward pass.
  if (recno != last_read_) stepping_forward_ = short_step(recno);
  last_read_ = recno;
  return true;
}

bool RecordFile::short_step(RecNo recno) const {
  return recno > last_read_ && recno - last_read_ <= kShortStepBlocks * block_records_;
}

bool RecordFile::copy_buffered(RecNo recno, std::uint8_t* dest) const {
  if (ra_count_ > 0 && recno >= ra_first_ && recno < ra_first_ + ra_count_) {
    std::memcpy(dest, ra_.data() + static_cast<std::size_t>(recno - ra_first_) * rl(), rl());
    return true;
  }
  if (blocks_.empty()) return false;
  const std::size_t slot = ((recno - 1) / block_records_) % blocks_.size();
  const CachedBlock& b = blocks_[slot];
  if (b.first == 0 || recno < b.first || recno >= b.first + b.count) return false;
  std::memcpy(dest, cached_record(slot, recno), rl());
  return true;
}

IoResult RecordFile::read_window(RecNo recno, RecNo last) {
  RecNo want = static_cast<RecNo>(std::max<std::size_t>(1, kReadAheadBytes / rl()));
  want = last >= recno ? std::min<RecNo>(want, last - recno + 1) : 1;
  ra_.resize(static_cast<std::size_t>(want) * rl());
  IoResult r = file_->read_at(offset(recno), ra_.data(), ra_.size());
  ra_first_ = recno;
  ra_count_ = static_cast<RecNo>(r.bytes / rl());
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
  if (!shape_.shared && append) {
    if (wb_count_ > 0 && recno != wb_first_ + wb_count_) {
      WriteResult f = flush(count);
      if (!f.ok()) return f;
    }
    if (wb_count_ == 0) {
      wb_first_ = recno;
      wb_.resize(static_cast<std::size_t>(wb_capacity_) * rl());
    }
    std::memcpy(wb_.data() + static_cast<std::size_t>(wb_count_) * rl(), data, rl());
    ++wb_count_;
    if (wb_count_ == wb_capacity_) return flush(count);
    return {};
  }
  IoResult w = file_->write_at(offset(recno), data, rl());
  if (w.bytes != rl()) return {write_failure(w)};
  refresh_reads(recno, data);
  return {};
}

RecordFile::WriteResult RecordFile::flush(RecNo count) {
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

void RecordFile::refresh_reads(RecNo recno, const std::uint8_t* data) {
  if (ra_count_ > 0 && recno >= ra_first_ && recno < ra_first_ + ra_count_) {
    std::memcpy(ra_.data() + static_cast<std::size_t>(recno - ra_first_) * rl(), data, rl());
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
    const std::uint8_t eof = dbf::kEofByte;
    IoResult w = file_->write_at(end, &eof, 1);
    out.oscode = w.bytes == 1 ? file_->truncate(end + 1) : write_failure(w);
    drop_reads();
  }
  return out;
}

}  // namespace lum
