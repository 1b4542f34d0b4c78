#include "table/fpt_area.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/runtime.h"

namespace lum {

namespace {

// The name with its extension replaced (or added when it has none).
std::string with_extension(const std::string& name, const std::string& ext) {
  std::size_t sep = name.find_last_of("\\/:");
  std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && (sep == std::string::npos || dot > sep)) {
    return name.substr(0, dot) + ext;
  }
  return name + ext;
}

// Memo texts are capped so a damaged length cannot ask for the whole address space.
constexpr std::uint64_t kMaxMemo = 64ULL * 1024 * 1024;

}  // namespace

DbfFptArea::DbfFptArea(std::string driver_name) : DbfArea(std::move(driver_name)) {}

DbfFptArea::~DbfFptArea() {
  if (memo_commit_) memo_.commit();
}

bool DbfFptArea::open_memo_file() {
  dbf::MemoKind kind = header().info.memo;
  if (kind == dbf::MemoKind::None) {
    raise_error(kErrOpen, kUnknownMemoKind, 0, file_name());
    return false;
  }
  std::string ext = memo_extension(kind, Runtime::current().settings().mfileext);
  memo_name_ = with_extension(file_name(), ext);
  std::string open_as = with_extension(open_name(), ext);
  ErrorObject err = area_error(kErrOpen, kMemoOpenError, kCanRetry | kCanDefault, memo_name_);
  if (!with_retry(err, [&](int& oscode) {
        oscode = memo_.open(open_as, read_only() ? FileAccess::ReadOnly : FileAccess::ReadWrite,
                            shared() ? FileShare::Shared : FileShare::Exclusive);
        return oscode == kOsOk;
      })) {
    return false;
  }
  std::uint8_t head[1024];
  IoResult r{};
  if (kind != dbf::MemoKind::Dbt) r = memo_.read_at(0, head, sizeof head);
  memo_header_ = parse_memo_header(kind, std::span<const std::uint8_t>(head, r.bytes));
  // A block size still above 64 KiB after the cut can only come from damaged bytes;
  // taking it would make a zap allocate and write gigabytes.
  if (memo_header_.block_size == 0 || memo_header_.block_size > 65536) {
    raise_error(kErrCorruption, kCorruption, 0, memo_name_);
    memo_.close();
    return false;
  }
  return true;
}

bool DbfFptArea::zap_memo_file() {
  if (!memo_.is_open()) return true;
  std::vector<std::uint8_t> content = empty_memo_file(header().info.memo, memo_header_);
  IoResult w = memo_.write_at(0, content.data(), content.size());
  int rc = w.bytes == content.size() ? memo_.truncate(content.size())
                                     : (w.oscode ? w.oscode : kOsDiskFull);
  if (rc != kOsOk) {
    raise_error(kErrWrite, kWriteError, 0, memo_name_, rc);
    return false;
  }
  memo_commit_ = true;
  return true;
}

int DbfFptArea::commit_memo_file() {
  if (!memo_.is_open()) return kOsOk;
  memo_commit_ = false;
  return memo_.commit();
}

void DbfFptArea::close_memo_file() noexcept {
  memo_.close();
  memo_commit_ = false;
}

bool DbfFptArea::get_memo(int index, Value& out) {
  const dbf::Field& f = field(index);
  const std::uint8_t* rec = record_data();
  if (rec == nullptr) return false;
  std::uint32_t block = memo_block_of(std::span<const std::uint8_t>(rec + f.offset, f.len));
  if (block == 0 || !memo_.is_open()) {
    out = Value::string(std::string());
    return true;
  }
  IoResult size = memo_.size();
  std::uint64_t at = static_cast<std::uint64_t>(block) * memo_header_.block_size;
  if (size.oscode != kOsOk || at >= size.bytes) {
    raise_error(kErrCorruption, kCorruption, kCanDefault, memo_name_);
    return false;
  }
  std::uint64_t avail = std::min(size.bytes - at, kMaxMemo);
  std::string text;
  dbf::MemoKind kind = header().info.memo;
  // Every read below asks only for bytes that the file's size says are there.
  if (kind == dbf::MemoKind::Fpt) {
    // A block header that would run past the end of the file is damage.
    if (avail < 8) {
      raise_error(kErrCorruption, kCorruption, kCanDefault, memo_name_);
      return false;
    }
    std::uint8_t bh[8];
    if (!read_memo(at, bh, 8)) return false;
    std::uint64_t len = std::min<std::uint64_t>(dbf::get_be32(bh + 4), avail - 8);
    text.resize(len);
    if (!read_memo(at + 8, text.data(), len)) return false;
  } else if (kind == dbf::MemoKind::Dbt) {
    std::uint8_t bh[8] = {};
    // Fewer than 8 bytes left can only be the tail of a plain block chain.
    bool full = avail >= 8;
    if (full && !read_memo(at, bh, 8)) return false;
    if (full && bh[0] == 0xFF && bh[1] == 0xFF && bh[2] == 0x08 && bh[3] == 0x00) {
      // The level-four block: a length that counts its own 8-byte header.
      std::uint64_t len = dbf::get_le32(bh + 4);
      len = len > 8 ? std::min(len - 8, avail - 8) : 0;
      text.resize(len);
      if (!read_memo(at + 8, text.data(), len)) return false;
    } else {
      // The plain block chain runs to the end-of-text byte 0x1A.
      std::vector<char> chunk(512);
      for (std::uint64_t pos = at; pos < at + avail;) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(512, at + avail - pos));
        if (!read_memo(pos, chunk.data(), n)) return false;
        const char* end = static_cast<const char*>(std::memchr(chunk.data(), 0x1A, n));
        std::size_t take = end ? static_cast<std::size_t>(end - chunk.data()) : n;
        text.append(chunk.data(), take);
        if (end) break;
        pos += n;
      }
    }
  } else {
    raise_error(kErrUnsupported, kFieldType, kCanDefault, memo_name_, 0, f.name);
    return false;
  }
  out = Value::string(std::move(text));
  return true;
}

bool DbfFptArea::read_memo(std::uint64_t at, void* data, std::size_t n) {
  // Made on the first failure only: this runs for every memo value read.
  auto read_error = [&] {
    return area_error(kErrRead, kReadError, kCanRetry | kCanDefault, memo_name_);
  };
  return with_retry(read_error, [&](int& oscode) {
    IoResult r = memo_.read_at(at, data, n);
    oscode = r.oscode;
    return r.bytes == n;
  });
}

}  // namespace lum
