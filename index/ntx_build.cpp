#include "index/ntx_build.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "index/ntx_tree.h"
#include "runtime/error.h"
#include "table/driver_subcodes.h"

namespace lum {

namespace {

constexpr std::size_t kBatchPages = 64;
constexpr std::size_t kInsertionBlock = 24;

// Orders sort entries (K key bytes, then the record number) by their key bytes only.
struct EntryOrder {
  std::size_t k;
  bool descending;
  int operator()(const std::uint8_t* a, const std::uint8_t* b) const {
    int c = std::memcmp(a, b, k);
    return descending ? -c : c;
  }
};

// Stable bottom-up merge sort of n entries of e bytes. `a` holds the entries, `tmp` has
// room for as many; returns whichever of the two holds the sorted result.
std::uint8_t* sort_entries(std::uint8_t* a, std::uint8_t* tmp, std::size_t n, std::size_t e,
                           const EntryOrder& order) {
  std::vector<std::uint8_t> hold(e);
  for (std::size_t lo = 0; lo < n; lo += kInsertionBlock) {
    std::size_t hi = std::min(n, lo + kInsertionBlock);
    for (std::size_t i = lo + 1; i < hi; ++i) {
      std::size_t j = i;
      if (order(a + (j - 1) * e, a + i * e) <= 0) continue;
      std::memcpy(hold.data(), a + i * e, e);
      while (j > lo && order(a + (j - 1) * e, hold.data()) > 0) --j;
      std::memmove(a + (j + 1) * e, a + j * e, (i - j) * e);
      std::memcpy(a + j * e, hold.data(), e);
    }
  }
  std::uint8_t* src = a;
  std::uint8_t* dst = tmp;
  for (std::size_t width = kInsertionBlock; width < n; width *= 2) {
    for (std::size_t lo = 0; lo < n; lo += 2 * width) {
      std::size_t mid = std::min(n, lo + width), hi = std::min(n, lo + 2 * width);
      std::size_t i = lo, j = mid, o = lo;
      if (mid >= hi || order(src + (mid - 1) * e, src + mid * e) <= 0) {
        std::memcpy(dst + lo * e, src + lo * e, (hi - lo) * e);  // already in order
        continue;
      }
      while (i < mid && j < hi) {
        // Ties take the left entry first: that keeps the sort stable.
        if (order(src + j * e, src + i * e) < 0) {
          std::memcpy(dst + o++ * e, src + j++ * e, e);
        } else {
          std::memcpy(dst + o++ * e, src + i++ * e, e);
        }
      }
      std::memcpy(dst + o * e, src + i * e, (mid - i) * e);
      o += mid - i;
      std::memcpy(dst + o * e, src + j * e, (hi - j) * e);
    }
    std::swap(src, dst);
  }
  return src;
}

constexpr const char* kTempPrefix = "lumntx";

// Sorted runs in a temporary file of the host's temporary directory, which goes away
// with the store.
class RunStore {
 public:
  struct Run {
    std::uint64_t offset = 0;
    std::uint64_t count = 0;
    std::uint64_t read = 0;  // entries read back so far
  };

  bool append(const std::uint8_t* data, std::size_t n, std::size_t e) {
    if (!file_.is_open()) {
      int os = file_.create_temporary(kTempPrefix);
      name_ = os == kOsOk ? file_.path() : std::string(kTempPrefix);
      if (os != kOsOk) return fail(kErrCreate, kSortCreateError, os);
    }
    IoResult r = file_.write_at(end_, data, n * e);
    if (r.bytes < n * e) return fail(kErrWrite, kSortWriteError, r.oscode);
    runs_.push_back({end_, n, 0});
    end_ += n * e;
    return true;
  }

  // Reads up to `max` further entries of run `i` into `out`; the count read, or -1.
  long long read(std::size_t i, std::uint8_t* out, std::size_t max, std::size_t e) {
    Run& run = runs_[i];
    std::uint64_t n = std::min<std::uint64_t>(max, run.count - run.read);
    if (n == 0) return 0;
    IoResult r = file_.read_at(run.offset + run.read * e, out, n * e);
    if (r.bytes < n * e) return fail(kErrRead, kReadError, r.oscode), -1;
    run.read += n;
    return static_cast<long long>(n);
  }

  std::size_t runs() const { return runs_.size(); }

 private:
  bool fail(int gencode, int subcode, int oscode) {
    ErrorObject e = make_error(gencode, kNtxDriverName, subcode);
    e.filename = name_;
    e.oscode = oscode;
    raise(e);
    return false;
  }

  File file_;
  std::string name_;
  std::uint64_t end_ = 0;
  std::vector<Run> runs_;
};

// Collects completed pages and writes consecutive ones with one write.
class PageWriter {
 public:
  explicit PageWriter(NtxFile& f) : f_(f), buf_(kBatchPages * kNtxBlockSize) {}

  NtxAddr put(std::uint8_t* page) {
    NtxAddr a = f_.take_end_address();
    if (a == 0) return 0;
    if (n_ > 0 && a != first_ + n_ * kNtxBlockSize && !flush()) return 0;
    if (n_ == 0) first_ = a;
    f_.view(page).clear_rightmost_payload();
    std::memcpy(buf_.data() + n_ * kNtxBlockSize, page, kNtxBlockSize);
    ++n_;
    ++pages_;
    if (n_ == kBatchPages && !flush()) return 0;
    return a;
  }

  bool flush() {
    if (n_ == 0) return true;
    bool ok = f_.write_blocks(first_, buf_.data(), n_ * kNtxBlockSize);
    n_ = 0;
    return ok;
  }

  std::size_t pages() const { return pages_; }

 private:
  NtxFile& f_;
  std::vector<std::uint8_t> buf_;
  NtxAddr first_ = 0;
  std::size_t n_ = 0;
  std::size_t pages_ = 0;
};

// Lays sorted entries into pages bottom-up, one open page per level.
class PageFiller {
 public:
  PageFiller(NtxFile& f, PageWriter& w) : f_(f), w_(w), m_(f.header().max_keys) {}

  bool add(const std::uint8_t* key, std::uint32_t rec) {
    NtxAddr c = 0;
    for (std::size_t level = 0;; ++level) {
      if (level == levels_.size()) {
        if (level == static_cast<std::size_t>(kNtxMaxLevels)) return too_deep();
        open_level();
        place(level, c, rec, key);
        return true;
      }
      NtxPageView v = f_.view(levels_[level].data());
      if (v.count() < m_) {
        place(level, c, rec, key);
        return true;
      }
      v.set_child(v.count(), c);
      c = w_.put(levels_[level].data());
      if (c == 0) return false;
      v.init_fresh();
    }
  }

  // Writes the open pages from the leaves up; returns the root, or 0 on failure.
  NtxAddr finish(bool& needs_balance) {
    needs_balance = false;
    if (levels_.empty()) open_level();
    NtxAddr root = 0;
    for (std::size_t level = 0; level < levels_.size(); ++level) {
      NtxPageView v = f_.view(levels_[level].data());
      int n = v.count();
      NtxAddr a = w_.put(levels_[level].data());
      if (a == 0) return 0;
      if (level + 1 < levels_.size()) {
        NtxPageView up = f_.view(levels_[level + 1].data());
        up.set_child(up.count(), a);
        if (n < m_ / 2) needs_balance = true;
      } else {
        root = a;
      }
    }
    return w_.flush() ? root : 0;
  }

 private:
  void open_level() {
    levels_.emplace_back();
    f_.view(levels_.back().data()).init_fresh();
  }
  void place(std::size_t level, NtxAddr child, std::uint32_t rec, const std::uint8_t* key) {
    NtxPageView v = f_.view(levels_[level].data());
    int n = v.count();
    v.set_entry(n, child, rec, key);
    v.set_count(n + 1);
  }
  bool too_deep() {
    ErrorObject e = make_error(kErrLimit, kNtxDriverName, kCorruption);
    e.filename = f_.name();
    raise(e);
    return false;
  }

  NtxFile& f_;
  PageWriter& w_;
  int m_;
  std::vector<std::array<std::uint8_t, kNtxBlockSize>> levels_;
};

// Walks the right edge from the root down; where a rightmost child holds fewer than
// M / 2 keys, keys move through the parent from its left neighbour until the left one
// keeps floor((l + r + 1) / 2).
bool balance_right_edge(NtxFile& f) {
  NtxAddr pa = f.header().root;
  const int half = f.header().max_keys / 2;
  for (int depth = 0; depth < kNtxMaxLevels; ++depth) {
    std::uint8_t* pp = f.page(pa);
    if (pp == nullptr) return false;
    NtxPageView p = f.view(pp);
    int n = p.count();
    NtxAddr ra = p.child(n);
    if (n == 0 || ra == 0) return true;
    std::uint8_t* rp = f.page(ra);
    if (rp == nullptr) return false;
    NtxPageView r = f.view(rp);
    if (r.count() < half) {
      NtxAddr la = p.child(n - 1);
      std::uint8_t* lp = f.page(la);
      if (lp == nullptr) return false;
      NtxPageView l = f.view(lp);
      int keep = (l.count() + r.count() + 1) / 2;
      while (l.count() > keep) ntx_rotate_right(p, n - 1, l, r);
      f.touch(pa), f.touch(la), f.touch(ra);
    }
    pa = ra;
  }
  return true;
}

// Drops an entry whose key equals the previous one's when the index is unique, then
// hands it to the filler.
class Emitter {
 public:
  Emitter(PageFiller& filler, std::size_t k, bool unique)
      : filler_(filler), k_(k), unique_(unique), last_(k) {}

  bool emit(const std::uint8_t* entry) {
    if (unique_ && any_ && std::memcmp(last_.data(), entry, k_) == 0) return true;
    if (unique_) std::memcpy(last_.data(), entry, k_);
    any_ = true;
    ++count_;
    return filler_.add(entry, get_le32(entry + k_));
  }
  std::uint64_t count() const { return count_; }

 private:
  PageFiller& filler_;
  std::size_t k_;
  bool unique_;
  bool any_ = false;
  std::vector<std::uint8_t> last_;
  std::uint64_t count_ = 0;
};

// Merges the runs: each reads back through its share of the 2C-entry area, and the run
// whose current entry is smallest gives the next one (the earlier run on ties).
bool merge_runs(RunStore& store, std::uint8_t* area, std::size_t area_entries, std::size_t e,
                const EntryOrder& order, Emitter& out) {
  std::size_t nruns = store.runs();
  std::size_t share = std::max<std::size_t>(1, area_entries / nruns);
  struct Cursor {
    std::uint8_t* buf;
    std::size_t have = 0, pos = 0;
  };
  std::vector<Cursor> cur(nruns);
  std::vector<std::uint8_t> spill;
  if (share * nruns > area_entries) {
    spill.resize(share * nruns * e);  // more runs than entries in the area
    area = spill.data();
  }
  auto refill = [&](std::size_t i) {
    long long got = store.read(i, cur[i].buf, share, e);
    if (got < 0) return false;
    cur[i].have = static_cast<std::size_t>(got);
    cur[i].pos = 0;
    return true;
  };
  // A heap of run numbers, the smallest current entry (then the lowest run) on top.
  auto less = [&](std::size_t x, std::size_t y) {
    int c = order(cur[x].buf + cur[x].pos * e, cur[y].buf + cur[y].pos * e);
    return c != 0 ? c < 0 : x < y;
  };
  std::vector<std::size_t> heap;
  for (std::size_t i = 0; i < nruns; ++i) {
    cur[i].buf = area + i * share * e;
    if (!refill(i)) return false;
    if (cur[i].have > 0) heap.push_back(i);
  }
  auto heap_cmp = [&](std::size_t x, std::size_t y) { return less(y, x); };
  std::make_heap(heap.begin(), heap.end(), heap_cmp);
  while (!heap.empty()) {
    std::pop_heap(heap.begin(), heap.end(), heap_cmp);
    std::size_t i = heap.back();
    if (!out.emit(cur[i].buf + cur[i].pos * e)) return false;
    if (++cur[i].pos == cur[i].have && !refill(i)) return false;
    if (cur[i].have == 0) {
      heap.pop_back();
    } else {
      std::push_heap(heap.begin(), heap.end(), heap_cmp);
    }
  }
  return true;
}

// The sort area for `n` keys of `k` bytes: 2C entries, C being filled and sorted, C of
// merge space. When that much memory cannot be had, C halves, down to ceil(sqrt(N))
// entries. Returns C.
std::size_t allocate_sort_area(std::uint64_t n, std::size_t k, const NtxBuildOptions& options,
                               std::vector<std::uint8_t>& area) {
  const std::size_t e = k + 4;
  std::size_t cap =
      options.sort_capacity != 0
          ? static_cast<std::size_t>(std::min<std::uint64_t>(options.sort_capacity, n))
          : ntx_sort_capacity(n, static_cast<int>(k));
  const std::size_t least = static_cast<std::size_t>(std::ceil(std::sqrt(static_cast<double>(n))));
  for (;;) {
    try {
      area.resize(2 * cap * e);
      return cap;
    } catch (const std::bad_alloc&) {
      if (cap <= least) throw;
      cap = std::max(least, cap / 2);
    }
  }
}

// Reads every key of the source into the sort area, spilling each full area as a
// sorted run, and hands the entries to the emitter in key order: straight from the
// area when all fitted, else by merging the runs.
bool sort_into(NtxKeySource& source, std::vector<std::uint8_t>& area, std::size_t cap,
               const EntryOrder& order, Emitter& emitter, NtxBuildStats& st) {
  const std::size_t k = order.k;
  const std::size_t e = k + 4;
  RunStore store;
  std::size_t filled = 0;
  std::uint8_t* sorted = nullptr;
  std::vector<std::uint8_t> entry(e);
  for (;;) {
    std::uint32_t rec = 0;
    NtxKeySource::Next got = source.next(entry.data(), rec);
    if (got == NtxKeySource::Next::Failed) return false;
    if (got == NtxKeySource::Next::End) break;
    // A full area is spilled only when another entry comes, so a table that fits the
    // area never touches the temporary file.
    if (filled == cap) {
      sorted = sort_entries(area.data(), area.data() + cap * e, filled, e, order);
      if (!store.append(sorted, filled, e)) return false;
      filled = 0;
    }
    std::uint8_t* slot = area.data() + filled * e;
    std::memcpy(slot, entry.data(), k);
    put_le32(slot + k, rec);
    ++filled;
  }
  if (store.runs() == 0) {
    sorted = sort_entries(area.data(), area.data() + cap * e, filled, e, order);
    for (std::size_t i = 0; i < filled; ++i) {
      if (!emitter.emit(sorted + i * e)) return false;
    }
    return true;
  }
  if (filled > 0) {
    sorted = sort_entries(area.data(), area.data() + cap * e, filled, e, order);
    if (!store.append(sorted, filled, e)) return false;
  }
  st.runs = store.runs();
  return merge_runs(store, area.data(), 2 * cap, e, order, emitter);
}

}  // namespace

std::size_t ntx_sort_capacity(std::uint64_t n, int key_size) {
  std::uint64_t e = static_cast<std::uint64_t>(key_size) + 4;
  std::uint64_t c =
      128 * static_cast<std::uint64_t>(std::ceil(std::sqrt(static_cast<double>(n) / e)));
  const std::uint64_t floor_entries = 1048576 / e;
  if (c == 0) c = 1;
  while (c < floor_entries) c *= 2;
  return static_cast<std::size_t>(std::min(c, n));
}

bool build_ntx_tree(NtxFile& file, NtxKeySource& source, const NtxBuildOptions& options,
                    NtxBuildStats* stats) {
  NtxBuildStats local;
  NtxBuildStats& st = stats != nullptr ? *stats : local;
  st = NtxBuildStats{};
  const NtxHeader& h = file.header();
  const std::size_t k = h.key_size;
  const EntryOrder order{k, h.descending};
  const std::uint64_t n = source.record_count();

  if (n == 0) {
    NtxAddr root = file.new_page();
    if (root == 0) return false;
    file.header().root = root;
    st.pages = 1;
    return true;  // the page reaches the file with the header write that follows
  }

  std::vector<std::uint8_t> area;
  const std::size_t cap = allocate_sort_area(n, k, options, area);
  st.capacity = cap;

  PageWriter writer(file);
  PageFiller filler(file, writer);
  Emitter emitter(filler, k, h.unique);
  if (!sort_into(source, area, cap, order, emitter, st)) return false;
  std::vector<std::uint8_t>().swap(area);

  bool needs_balance = false;
  NtxAddr root = filler.finish(needs_balance);
  if (root == 0) return false;
  file.header().root = root;
  st.entries = emitter.count();
  st.pages = writer.pages();
  st.balanced = needs_balance;
  if (needs_balance && !balance_right_edge(file)) return false;
  return true;
}

bool create_ntx_index(NtxFile& file, const NtxHeader& definition, NtxKeySource& source,
                      const NtxBuildOptions& options, NtxBuildStats* stats) {
  NtxHeader& h = file.header();
  h = definition;
  if (h.key_expr.size() > kNtxExprSize) h.key_expr.resize(kNtxExprSize);
  if (h.for_expr.size() > kNtxExprSize) h.for_expr.resize(kNtxExprSize);
  if (h.order_name.size() > kNtxOrderNameMax) h.order_name.resize(kNtxOrderNameMax);
  h.set_geometry(definition.key_size, definition.key_dec);
  if (!file.reset()) return false;
  if (!build_ntx_tree(file, source, options, stats)) return false;
  file.header_changed(true);
  return file.flush();
}

}  // namespace lum
