#include "index/ntx_file.h"

#include <algorithm>
#include <vector>

#include "runtime/error.h"
#include "table/driver_subcodes.h"

namespace lum {

NtxFile::~NtxFile() {
  if (!file_.is_open()) return;
  // Best effort only: a destructor may not raise, and close() is where failures are
  // reported.
  std::vector<NtxAddr> dirty;
  for (auto& [a, p] : cache_) {
    if (p->dirty) dirty.push_back(a);
  }
  std::sort(dirty.begin(), dirty.end());
  for (NtxAddr a : dirty) {
    CachedPage& p = *cache_[a];
    view(p.bytes.data()).clear_rightmost_payload();
    file_.write_at(a, p.bytes.data(), kNtxBlockSize);
  }
  if (header_dirty_ || !dirty.empty()) {
    ++header_.version;
    std::array<std::uint8_t, kNtxBlockSize> block;
    encode_ntx_header(header_, block.data());
    file_.write_at(0, block.data(), header_full_ ? kNtxBlockSize : kNtxShortHeaderSize);
  }
  file_.close();
}

bool NtxFile::raise_io(int gencode, int subcode, int oscode) {
  if (quiet_) return false;
  ErrorObject e = make_error(gencode, kNtxDriverName, subcode);
  e.filename = name_;
  e.oscode = oscode;
  raise(e);
  return false;
}

bool NtxFile::report_corruption() {
  if (quiet_) return false;
  ErrorObject e = make_error(kErrCorruption, kNtxDriverName, kCorruption);
  e.filename = name_;
  raise(e);
  return false;
}

bool NtxFile::create(std::string_view name, bool shared) {
  name_ = std::string(name);
  cache_.clear();
  end_ = 0;
  header_dirty_ = header_full_ = false;
  ++generation_;
  ErrorObject e =
      make_error(kErrCreate, kNtxDriverName, kIndexCreateError, "", kCanRetry | kCanDefault);
  e.filename = name_;
  return with_retry(e, [&](int& oscode) {
    oscode = file_.create(name, shared ? FileShare::Shared : FileShare::Exclusive);
    return oscode == kOsOk;
  });
}

bool NtxFile::open(std::string_view name, bool read_only, bool shared) {
  name_ = std::string(name);
  cache_.clear();
  end_ = 0;
  header_dirty_ = header_full_ = false;
  ++generation_;
  ErrorObject e = make_error(kErrOpen, kNtxDriverName, kOpenError, "", kCanRetry | kCanDefault);
  e.filename = name_;
  if (!with_retry(e, [&](int& oscode) {
        oscode = file_.open(name, read_only ? FileAccess::ReadOnly : FileAccess::ReadWrite,
                            shared ? FileShare::Shared : FileShare::Exclusive);
        return oscode == kOsOk;
      })) {
    return false;
  }
  std::array<std::uint8_t, kNtxBlockSize> block;
  IoResult r = file_.read_at(0, block.data(), block.size());
  if (r.bytes < block.size()) {
    raise_io(kErrRead, kReadError, r.oscode);
    file_.close();
    return false;
  }
  if (!decode_ntx_header(block.data(), header_) || header_.root == 0) {
    report_corruption();
    file_.close();
    return false;
  }
  return true;
}

bool NtxFile::close() {
  if (!file_.is_open()) return true;
  bool ok = flush();
  cache_.clear();
  file_.close();
  return ok;
}

void NtxFile::discard() {
  if (!file_.is_open()) return;
  cache_.clear();
  header_dirty_ = header_full_ = false;
  file_.close();
  delete_file(name_);
}

bool NtxFile::reset() {
  cache_.clear();
  ++generation_;
  header_.version = 0;
  header_.root = 0;
  header_.free_head = 0;
  header_dirty_ = header_full_ = false;
  end_ = 0;
  int os = file_.truncate(kNtxBlockSize);
  if (os != kOsOk) return raise_io(kErrWrite, kWriteError, os);
  std::array<std::uint8_t, kNtxBlockSize> block;
  encode_ntx_header(header_, block.data());
  return write_blocks(0, block.data(), block.size());
}

bool NtxFile::write_header(bool full) {
  ++header_.version;
  std::array<std::uint8_t, kNtxBlockSize> block;
  encode_ntx_header(header_, block.data());
  header_dirty_ = header_full_ = false;
  return write_blocks(0, block.data(), full ? kNtxBlockSize : kNtxShortHeaderSize);
}

void NtxFile::header_changed(bool full) {
  header_dirty_ = true;
  header_full_ = header_full_ || full;
}

std::uint8_t* NtxFile::page(NtxAddr a) {
  auto it = cache_.find(a);
  if (it != cache_.end()) {
    it->second->used = ++clock_;
    return it->second->bytes.data();
  }
  if (a == 0 || a % kNtxBlockSize != 0) {
    report_corruption();
    return nullptr;
  }
  auto p = std::make_unique<CachedPage>();
  IoResult r = file_.read_at(a, p->bytes.data(), kNtxBlockSize);
  if (r.bytes < kNtxBlockSize) {
    raise_io(kErrRead, kReadError, r.oscode);
    return nullptr;
  }
  if (!view(p->bytes.data()).check()) {
    report_corruption();
    return nullptr;
  }
  p->used = ++clock_;
  std::uint8_t* bytes = p->bytes.data();
  cache_.emplace(a, std::move(p));
  return bytes;
}

void NtxFile::touch(NtxAddr a) {
  auto it = cache_.find(a);
  if (it != cache_.end()) it->second->dirty = true;
}

NtxAddr NtxFile::take_end_address() {
  if (end_ == 0) {
    IoResult r = file_.size();
    // Without the length a new page could land on a page in use.
    if (r.oscode != kOsOk) {
      raise_io(kErrRead, kReadError, r.oscode);
      return 0;
    }
    std::uint64_t len = r.bytes;
    // A length off the block grid (a damaged tail) still gives whole blocks.
    len = (len + kNtxBlockSize - 1) / kNtxBlockSize * kNtxBlockSize;
    if (len < kNtxBlockSize) len = kNtxBlockSize;
    end_ = static_cast<NtxAddr>(len);
  } else {
    end_ += kNtxBlockSize;
  }
  return end_;
}

std::uint64_t NtxFile::entry_bound() {
  std::uint64_t len = file_.size().bytes;
  if (end_ != 0) len = std::max<std::uint64_t>(len, std::uint64_t{end_} + kNtxBlockSize);
  return (len / kNtxBlockSize + 1) * header_.max_keys;
}

NtxAddr NtxFile::new_page() {
  NtxAddr a = header_.free_head;
  std::uint8_t* p = nullptr;
  if (a != 0) {
    p = page(a);
    if (p == nullptr) return 0;
    NtxAddr next = view(p).child(0);
    if (next == a || next % kNtxBlockSize != 0) {
      report_corruption();
      return 0;
    }
    header_.free_head = next;
    header_changed();
  } else {
    a = take_end_address();
    if (a == 0) return 0;
    auto cp = std::make_unique<CachedPage>();
    p = cp->bytes.data();
    cache_.emplace(a, std::move(cp));
  }
  view(p).init_fresh();
  auto& cp = *cache_[a];
  cp.dirty = true;
  cp.used = ++clock_;
  return a;
}

bool NtxFile::free_page(NtxAddr a) {
  std::uint8_t* p = page(a);
  if (p == nullptr) return false;
  NtxPageView v = view(p);
  v.init_fresh();
  v.set_child(0, header_.free_head);
  header_.free_head = a;
  header_changed();
  touch(a);
  return true;
}

bool NtxFile::write_page(NtxAddr a, CachedPage& p) {
  view(p.bytes.data()).clear_rightmost_payload();
  if (!write_blocks(a, p.bytes.data(), kNtxBlockSize)) return false;
  p.dirty = false;
  header_dirty_ = true;  // written pages make the next header write due
  return true;
}

bool NtxFile::write_blocks(NtxAddr a, const std::uint8_t* data, std::size_t n) {
  IoResult r = file_.write_at(a, data, n);
  if (r.bytes < n) return raise_io(kErrWrite, kWriteError, r.oscode);
  return true;
}

bool NtxFile::flush() {
  if (!file_.is_open()) return true;
  std::vector<NtxAddr> dirty;
  for (auto& [a, p] : cache_) {
    if (p->dirty) dirty.push_back(a);
  }
  std::sort(dirty.begin(), dirty.end());
  for (NtxAddr a : dirty) {
    if (!write_page(a, *cache_[a])) return false;
  }
  if (!header_dirty_) return true;
  return write_header(header_full_);
}

bool NtxFile::trim() {
  if (cache_.size() <= cache_limit_) return true;
  std::vector<std::pair<std::uint64_t, NtxAddr>> by_use;
  by_use.reserve(cache_.size());
  for (auto& [a, p] : cache_) by_use.emplace_back(p->used, a);
  std::sort(by_use.begin(), by_use.end());
  std::size_t drop = cache_.size() - cache_limit_ / 2;
  std::vector<NtxAddr> leaving;
  for (std::size_t i = 0; i < drop; ++i) leaving.push_back(by_use[i].second);
  std::sort(leaving.begin(), leaving.end());
  for (NtxAddr a : leaving) {
    auto it = cache_.find(a);
    if (it->second->dirty && !write_page(a, *it->second)) return false;
    cache_.erase(it);
  }
  return true;
}

}  // namespace lum
