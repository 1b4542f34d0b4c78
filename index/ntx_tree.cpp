#include "index/ntx_tree.h"

#include <cstring>

namespace lum {

void ntx_rotate_right(NtxPageView& parent, int i, NtxPageView& left, NtxPageView& right) {
  int l = left.count() - 1;
  right.insert_slot(0);
  right.set_entry(0, left.child(l + 1), parent.record(i), parent.key(i));
  parent.set_record(i, left.record(l));
  parent.set_key(i, left.key(l));
  NtxAddr up_child = left.child(l);
  left.remove_slot(l);
  left.set_child(l, up_child);
}

void ntx_rotate_left(NtxPageView& parent, int i, NtxPageView& left, NtxPageView& right) {
  int n = left.count();
  NtxAddr rightmost = left.child(n);
  left.insert_slot(n);
  left.set_entry(n, rightmost, parent.record(i), parent.key(i));
  left.set_child(n + 1, right.child(0));
  parent.set_record(i, right.record(0));
  parent.set_key(i, right.key(0));
  right.remove_slot(0);
}

NtxPageView NtxTree::view(NtxAddr a, bool& ok) {
  std::uint8_t* p = f_.page(a);
  ok = p != nullptr;
  // On failure the view points at an empty page that the caller never touches.
  return f_.view(ok ? p : empty_page_.data());
}

bool NtxTree::push(NtxAddr a, int slot) {
  // A child address that leads back up the path would walk forever.
  if (path_.size() >= static_cast<std::size_t>(kNtxMaxLevels)) {
    f_.report_corruption();
    path_.clear();
    return false;
  }
  path_.push_back({a, slot});
  return true;
}

bool NtxTree::count_step(int dir) {
  // Depth is bounded by push(); this bounds length. Pages shared between parents, or a
  // cycle through keys other than the leftmost, would otherwise make a walk that
  // revisits the same entries for as long as the caller keeps stepping.
  if (dir != walk_dir_) {
    walk_dir_ = dir;
    walk_steps_ = 0;
  }
  if (++walk_steps_ <= walk_bound_) return true;
  walk_bound_ = f_.entry_bound();  // the file may have grown since the bound was taken
  if (walk_steps_ <= walk_bound_) return true;
  f_.report_corruption();
  return false;
}

TreeStep NtxTree::load_current() {
  bool ok = false;
  NtxPageView v = view(path_.back().page, ok);
  if (!ok) {
    path_.clear();
    return TreeStep::Failed;
  }
  int s = path_.back().slot;
  key_.assign(reinterpret_cast<const char*>(v.key(s)), static_cast<std::size_t>(v.key_size()));
  rec_ = v.record(s);
  gen_ = f_.generation();
  return TreeStep::Key;
}

// From the last level, follows child addresses down the left edge.
TreeStep NtxTree::descend_left() {
  for (;;) {
    bool ok = false;
    NtxPageView v = view(path_.back().page, ok);
    if (!ok) return lost();
    NtxAddr c = v.child(path_.back().slot);
    if (c == 0) return TreeStep::Key;
    if (!push(c, 0)) return TreeStep::Failed;
  }
}

// From the last level, follows rightmost children down the right edge.
TreeStep NtxTree::descend_right() {
  for (;;) {
    bool ok = false;
    NtxPageView v = view(path_.back().page, ok);
    if (!ok) return lost();
    NtxAddr c = v.child(path_.back().slot);
    if (c == 0) return TreeStep::Key;
    NtxPageView cv = view(c, ok);
    if (!ok) return lost();
    if (!push(c, cv.count())) return TreeStep::Failed;
  }
}

// Climbs while the last level points past its page's keys; the level reached then names
// the next key in order.
TreeStep NtxTree::settle_forward() {
  while (!path_.empty()) {
    bool ok = false;
    NtxPageView v = view(path_.back().page, ok);
    if (!ok) return lost();
    if (path_.back().slot < v.count()) return load_current();
    path_.pop_back();
  }
  return TreeStep::End;
}

// Climbs while the last level stands at slot 0, then steps one key back.
TreeStep NtxTree::settle_backward() {
  while (!path_.empty() && path_.back().slot == 0) path_.pop_back();
  if (path_.empty()) return TreeStep::End;
  --path_.back().slot;
  return load_current();
}

TreeStep NtxTree::top() {
  path_.clear();
  walk_dir_ = 0;
  if (!push(f_.header().root, 0)) return TreeStep::Failed;
  TreeStep s = descend_left();
  if (s == TreeStep::Failed) return s;
  return settle_forward();
}

TreeStep NtxTree::bottom() {
  path_.clear();
  walk_dir_ = 0;
  bool ok = false;
  NtxPageView v = view(f_.header().root, ok);
  if (!ok) return TreeStep::Failed;
  if (!push(f_.header().root, v.count())) return TreeStep::Failed;
  TreeStep s = descend_right();
  if (s == TreeStep::Failed) return s;
  return settle_backward();
}

TreeStep NtxTree::next() {
  if (!count_step(1)) return lost();
  ++path_.back().slot;
  TreeStep s = descend_left();
  if (s == TreeStep::Failed) return s;
  return settle_forward();
}

TreeStep NtxTree::prev() {
  if (!count_step(-1)) return lost();
  TreeStep s = descend_right();
  if (s == TreeStep::Failed) return s;
  return settle_backward();
}

NtxTree::SeekResult NtxTree::seek(const SearchKey& key) {
  SeekResult r;
  path_.clear();
  walk_dir_ = 0;
  const auto* sk = reinterpret_cast<const std::uint8_t*>(key.bytes.data());
  std::size_t len = static_cast<std::size_t>(key.len);
  std::size_t ks = f_.header().key_size;
  NtxAddr a = f_.header().root;
  for (;;) {
    bool ok = false;
    NtxPageView v = view(a, ok);
    if (!ok) {
      r.step = lost();
      return r;
    }
    // The lowest slot whose key is not below the search key (strictly above for the
    // last one); only the first `len` bytes take part.
    int lo = 0, hi = v.count();
    while (lo < hi) {
      int mid = (lo + hi) / 2;
      int c = compare(sk, len, v.key(mid), ks, false);
      if (key.last ? c < 0 : c <= 0) {
        hi = mid;
      } else {
        lo = mid + 1;
      }
    }
    if (!push(a, lo)) {
      r.step = TreeStep::Failed;
      return r;
    }
    a = v.child(lo);
    if (a == 0) break;
  }
  auto matches = [&] {
    return compare(sk, len, reinterpret_cast<const std::uint8_t*>(key_.data()), ks, false) == 0;
  };
  if (!key.last) {
    r.step = settle_forward();
    r.found = r.step == TreeStep::Key && matches();
    return r;
  }
  std::vector<Level> greater = path_;
  r.step = settle_backward();
  if (r.step == TreeStep::Failed) return r;
  if (r.step == TreeStep::Key && matches()) {
    r.found = true;
    return r;
  }
  path_ = std::move(greater);
  r.step = settle_forward();
  return r;
}

TreeStep NtxTree::locate(const std::uint8_t* key, std::uint32_t rec, bool& exact) {
  exact = false;
  SearchKey sk;
  sk.bytes.assign(reinterpret_cast<const char*>(key), f_.header().key_size);
  sk.len = f_.header().key_size;
  SeekResult r = seek(sk);
  if (r.step != TreeStep::Key) return r.step;
  // Equal keys normally lie in record order, but walk them all rather than trust that;
  // without the record, stop at the first equal key of a higher record number.
  std::vector<Level> after;
  while (std::memcmp(key_.data(), key, key_.size()) == 0) {
    if (rec_ == rec) {
      exact = true;
      return TreeStep::Key;
    }
    if (rec_ > rec && after.empty()) after = path_;
    TreeStep s = next();
    if (s == TreeStep::Failed) return s;
    if (s == TreeStep::End) break;
  }
  if (after.empty()) return path_.empty() ? TreeStep::End : TreeStep::Key;
  path_ = std::move(after);
  return load_current();
}

bool NtxTree::descend_to(const std::uint8_t* key, std::uint32_t rec) {
  path_.clear();
  std::size_t ks = f_.header().key_size;
  NtxAddr a = f_.header().root;
  for (;;) {
    bool ok = false;
    NtxPageView v = view(a, ok);
    if (!ok) return false;
    int lo = 0, hi = v.count();
    while (lo < hi) {
      int mid = (lo + hi) / 2;
      int c = compare(key, ks, v.key(mid), ks, true);
      if (c < 0 || (c == 0 && rec < v.record(mid))) {
        hi = mid;
      } else {
        lo = mid + 1;
      }
    }
    if (!push(a, lo)) return false;
    a = v.child(lo);
    if (a == 0) return true;
  }
}

void NtxTree::read_items(const NtxPageView& v, std::vector<Item>& items, NtxAddr& rightmost) const {
  items.clear();
  int n = v.count();
  for (int i = 0; i < n; ++i) {
    items.push_back({v.child(i), v.record(i),
                     std::string(reinterpret_cast<const char*>(v.key(i)),
                                 static_cast<std::size_t>(v.key_size()))});
  }
  rightmost = v.child(n);
}

void NtxTree::write_items(NtxPageView& v, const std::vector<Item>& items, std::size_t from,
                          std::size_t to, NtxAddr rightmost) const {
  v.init_fresh();
  int n = 0;
  for (std::size_t i = from; i < to; ++i, ++n) {
    v.set_entry(n, items[i].child, items[i].rec,
                reinterpret_cast<const std::uint8_t*>(items[i].key.data()));
  }
  v.set_count(n);
  v.set_child(n, rightmost);
}

bool NtxTree::insert(const std::uint8_t* key, std::uint32_t rec) {
  f_.bump_generation();
  if (!descend_to(key, rec)) return forget();
  Item item{0, rec, std::string(reinterpret_cast<const char*>(key), f_.header().key_size)};
  bool ok = split_insert(path_.size() - 1, std::move(item));
  path_.clear();
  return ok;
}

// Puts `item` at the path's slot of `level`; a full page is split around its middle
// key, the left half going to a new page, and the middle key moves up a level.
bool NtxTree::split_insert(std::size_t level, Item item) {
  for (;;) {
    NtxAddr a = path_[level].page;
    int slot = path_[level].slot;
    bool ok = false;
    NtxPageView v = view(a, ok);
    if (!ok) return false;
    const int m = v.max_keys();
    if (v.count() < m) {
      v.insert_slot(slot);
      v.set_entry(slot, item.child, item.rec,
                  reinterpret_cast<const std::uint8_t*>(item.key.data()));
      f_.touch(a);
      return true;
    }
    std::vector<Item> items;
    NtxAddr rightmost = 0;
    read_items(v, items, rightmost);
    items.insert(items.begin() + slot, std::move(item));
    std::size_t mid = items.size() / 2;
    NtxAddr left = f_.new_page();
    if (left == 0) return false;
    NtxPageView lv = view(left, ok);
    if (!ok) return false;
    v = view(a, ok);
    if (!ok) return false;
    write_items(lv, items, 0, mid, items[mid].child);
    write_items(v, items, mid + 1, items.size(), rightmost);
    f_.touch(a);
    Item up{left, items[mid].rec, std::move(items[mid].key)};
    if (level == 0) {
      NtxAddr root = f_.new_page();
      if (root == 0) return false;
      NtxPageView rv = view(root, ok);
      if (!ok) return false;
      rv.insert_slot(0);
      rv.set_entry(0, up.child, up.rec, reinterpret_cast<const std::uint8_t*>(up.key.data()));
      rv.set_child(1, a);
      f_.header().root = root;
      f_.header_changed();
      return true;
    }
    item = std::move(up);
    --level;
  }
}

bool NtxTree::remove(const std::uint8_t* key, std::uint32_t rec, bool& removed) {
  removed = false;
  bool exact = false;
  TreeStep s = locate(key, rec, exact);
  if (s == TreeStep::Failed) return false;
  if (!exact) {
    path_.clear();
    return true;
  }
  f_.bump_generation();
  bool ok = false;
  NtxAddr a = path_.back().page;
  int slot = path_.back().slot;
  NtxPageView v = view(a, ok);
  if (!ok) return forget();
  if (v.child(slot) != 0) {
    // A key in a branch page takes the place of its predecessor, the last key of the
    // leaf at the bottom of its left subtree, which is removed instead.
    if (descend_right() == TreeStep::Failed) return false;
    NtxAddr leaf = path_.back().page;
    NtxPageView lv = view(leaf, ok);
    if (!ok) return forget();
    int n = lv.count();
    if (n == 0) {
      // Only a damaged tree has an empty leaf under a key.
      f_.report_corruption();
      return forget();
    }
    v = view(a, ok);
    if (!ok) return forget();
    v.set_record(slot, lv.record(n - 1));
    v.set_key(slot, lv.key(n - 1));
    f_.touch(a);
    lv.remove_slot(n - 1);
    f_.touch(leaf);
  } else {
    v.remove_slot(slot);
    f_.touch(a);
  }
  removed = true;
  bool result = fix_underflow(path_.size() - 1);
  path_.clear();
  return result;
}

// Brings the page at `level` back to at least half a page of keys by borrowing through
// the parent or merging with a neighbour, then repeats for the parent; an emptied root
// branch hands the root to its only child.
bool NtxTree::fix_underflow(std::size_t level) {
  for (;;) {
    bool ok = false;
    NtxAddr a = path_[level].page;
    NtxPageView v = view(a, ok);
    if (!ok) return false;
    const int half = v.max_keys() / 2;
    if (level == 0) {
      if (v.count() == 0 && v.child(0) != 0) {
        f_.header().root = v.child(0);
        f_.header_changed();
        return f_.free_page(a);
      }
      return true;
    }
    if (v.count() >= half) return true;
    NtxAddr pa = path_[level - 1].page;
    int t = path_[level - 1].slot;  // v is child t of the parent
    NtxPageView pv = view(pa, ok);
    if (!ok) return false;
    int pn = pv.count();
    NtxAddr la = t > 0 ? pv.child(t - 1) : 0;
    NtxAddr ra = t < pn ? pv.child(t + 1) : 0;
    if (la != 0) {
      NtxPageView lv = view(la, ok);
      if (!ok) return false;
      if (lv.count() > half) {
        ntx_rotate_right(pv, t - 1, lv, v);
        f_.touch(pa), f_.touch(la), f_.touch(a);
        return true;
      }
    }
    if (ra != 0) {
      NtxPageView rv = view(ra, ok);
      if (!ok) return false;
      if (rv.count() > half) {
        ntx_rotate_left(pv, t, v, rv);
        f_.touch(pa), f_.touch(ra), f_.touch(a);
        return true;
      }
    }
    // Merge the pair around separator `sep` into its left page and free the right one.
    int sep = la != 0 ? t - 1 : t;
    NtxAddr left_a = la != 0 ? la : a;
    NtxAddr right_a = la != 0 ? a : ra;
    if (right_a == 0) return true;  // a lone child cannot merge; keep it as it is
    NtxPageView lv = view(left_a, ok);
    if (!ok) return false;
    NtxPageView rv = view(right_a, ok);
    if (!ok) return false;
    if (lv.count() + 1 + rv.count() > lv.max_keys()) return true;
    while (rv.count() > 0) ntx_rotate_left(pv, sep, lv, rv);
    // Bring the separator down as the last key of the left page, then let the left
    // page take over the right one's place under the parent.
    int n = lv.count();
    NtxAddr rightmost = lv.child(n);
    lv.insert_slot(n);
    lv.set_entry(n, rightmost, pv.record(sep), pv.key(sep));
    lv.set_child(n + 1, rv.child(0));
    pv.remove_slot(sep);
    pv.set_child(sep, left_a);
    f_.touch(pa), f_.touch(left_a);
    if (!f_.free_page(right_a)) return false;
    --level;
  }
}

}  // namespace lum
