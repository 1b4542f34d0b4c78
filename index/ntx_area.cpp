#include "index/ntx_area.h"

#include <algorithm>
#include <utility>

#include "platform/file.h"
#include "platform/text.h"
#include "runtime/runtime.h"
#include "table/workareas.h"

namespace lum {

namespace {

std::size_t name_start(std::string_view name) {
  std::size_t cut = name.find_last_of("\\/:");
  return cut == std::string_view::npos ? 0 : cut + 1;
}

// The position of the extension's dot in the name part, or npos.
std::size_t extension_dot(std::string_view name) {
  std::size_t dot = name.rfind('.');
  return dot != std::string_view::npos && dot >= name_start(name) ? dot : std::string_view::npos;
}

bool same_host_file(const std::string& a, const std::string& b) {
  return resolve_name(a).path == resolve_name(b).path;
}

// An index file name as given, with ".ntx" when it has no extension (and the
// default-extensions setting is on).
std::string index_file_name(std::string file) {
  if (extension_dot(file) == std::string::npos && Runtime::current().settings().defextensions) {
    file += ".ntx";
  }
  return file;
}

// The base name of a file name, without directory and extension, upper case, cut to
// the length of an order name.
std::string order_name_of(const std::string& file) {
  std::string base = file.substr(name_start(file));
  if (std::size_t dot = extension_dot(base); dot != std::string::npos) base.resize(dot);
  if (base.size() > kNtxOrderNameMax) base.resize(kNtxOrderNameMax);
  for (char& c : base) c = ascii_upper(c);
  return base;
}

}  // namespace

// The records of the table in physical order 1..N, each made current and its key
// computed; filter, hidden deleted records and deletion marks play no part.
class NtxArea::RecordSource : public NtxKeySource {
 public:
  RecordSource(NtxArea& area, Order& order) : a_(area), o_(order), n_(area.record_count()) {}

  std::uint64_t record_count() const override { return n_; }

  Next next(std::uint8_t* key, std::uint32_t& rec) override {
    if (next_ > n_) return Next::End;
    // Between two records of the build: a stop request ends the run here, and the
    // unfinished index file goes with it.
    Runtime::current().poll_interrupt();
    Value v;
    if (!a_.go_to(next_) || !a_.key_value(o_, v)) return Next::Failed;
    if (!make_key(v, o_.shape.size, o_.shape.dec, key)) {
      a_.raise_error(kErrDataType, kKeyKind, 0);
      return Next::Failed;
    }
    rec = next_++;
    return Next::Entry;
  }

 private:
  NtxArea& a_;
  Order& o_;
  RecNo n_;
  RecNo next_ = 1;
};

NtxArea::NtxArea() : DbfFptArea("DBFNTX") {}

NtxArea::~NtxArea() {
  if (is_open()) flush_quietly();
  drop_order();
}

void NtxArea::drop_order() noexcept {
  // The file's own destructor writes what is cached without raising.
  order_.reset();
  old_key_known_ = appended_ = false;
}

const std::string& NtxArea::order_name() const {
  static const std::string none;
  return order_ ? order_->name : none;
}

const std::string& NtxArea::key_text() const {
  static const std::string none;
  return order_ ? order_->key_text : none;
}

std::string NtxArea::order_info() const { return order_ ? order_->name : std::string(); }

// --- keys of records ---

bool NtxArea::key_value(const Order& o, Value& out) {
  if (o.field >= 0) return get_field(o.field, out);
  AreaSelectionGuard guard;
  if (number() >= 1 && number() <= kMaxArea) WorkAreas::get().select(number());
  out = o.key();
  // A run that is being ended cannot finish the evaluation.
  return !Runtime::current().quitting();
}

bool NtxArea::current_key(const Order& o, std::string& out) {
  Value v;
  if (!key_value(o, v)) return false;
  out.resize(static_cast<std::size_t>(o.shape.size));
  if (!make_key(v, o.shape.size, o.shape.dec, reinterpret_cast<std::uint8_t*>(out.data()))) {
    raise_error(kErrDataType, kKeyKind, 0);
    return false;
  }
  return true;
}

bool NtxArea::before_change() {
  if (!order_ || dirty() || appended_ || !positioned()) return true;
  old_key_known_ = current_key(*order_, old_key_);
  return old_key_known_;
}

bool NtxArea::put_field(int index, const Value& v) {
  return before_change() && DbfFptArea::put_field(index, v);
}

bool NtxArea::put_text(int index, std::string_view text) {
  return before_change() && DbfFptArea::put_text(index, text);
}

bool NtxArea::put_record_image(const std::uint8_t* image, std::size_t size) {
  return before_change() && DbfFptArea::put_record_image(image, size);
}

bool NtxArea::delete_record() { return before_change() && DbfFptArea::delete_record(); }

bool NtxArea::append(bool unlock_all) {
  if (!DbfFptArea::append(unlock_all)) return false;
  appended_ = true;
  old_key_known_ = false;
  return true;
}

bool NtxArea::write_back() {
  if (!dirty() || !order_) {
    if (!dirty()) return true;
    appended_ = old_key_known_ = false;
    return DbfFptArea::write_back();
  }
  RecNo rec = recno();
  std::string new_key;
  bool key_ok = current_key(*order_, new_key);
  if (!DbfFptArea::write_back()) return false;
  bool was_appended = std::exchange(appended_, false);
  bool had_old = std::exchange(old_key_known_, false);
  if (!key_ok) return false;
  NtxTree& t = order_->tree;
  auto key_bytes = [](const std::string& s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
  };
  bool changed = was_appended || (had_old && old_key_ != new_key);
  if (!changed) return true;
  if (!was_appended) {
    bool removed = false;
    if (!t.remove(key_bytes(old_key_), rec, removed)) return false;
  }
  if (order_->file.header().unique) {
    // Only the first record of a key value is indexed; a later one stays out.
    SearchKey sk;
    sk.bytes = new_key;
    sk.len = static_cast<int>(new_key.size());
    NtxTree::SeekResult r = t.seek(sk);
    if (r.step == TreeStep::Failed) return false;
    if (r.found) return order_->file.trim();
  }
  if (!t.insert(key_bytes(new_key), rec)) return false;
  return order_->file.trim();
}

// --- opening, flushing, closing ---

bool NtxArea::close() {
  if (!is_open()) return true;
  if (!write_back()) return false;
  if (order_ && !order_->file.flush()) return false;
  if (!DbfFptArea::close()) return false;
  if (order_) order_->file.close();
  drop_order();
  return true;
}

bool NtxArea::flush() {
  if (!DbfFptArea::flush()) return false;
  return !order_ || order_->file.flush();
}

void NtxArea::flush_quietly() noexcept {
  if (!order_) {
    DbfFptArea::flush_quietly();
    return;
  }
  order_->file.set_quiet(true);
  try {
    DbfFptArea::flush_quietly();
    order_->file.flush();
  } catch (...) {
    // Last moments of the process: nothing may escape.
  }
  order_->file.set_quiet(false);
}

bool NtxArea::zap() {
  if (!DbfFptArea::zap()) return false;
  appended_ = old_key_known_ = false;
  if (!order_) return true;
  // The index is built again over the now empty table: a header and one empty root.
  struct Empty : NtxKeySource {
    std::uint64_t record_count() const override { return 0; }
    Next next(std::uint8_t*, std::uint32_t&) override { return Next::End; }
  } none;
  NtxHeader def = order_->file.header();
  return create_ntx_index(order_->file, def, none);
}

// --- key-order movement ---

bool NtxArea::land(TreeStep step) {
  if (step == TreeStep::Failed) return false;
  // The walk is over: the cache gives back what it holds beyond its size.
  if (!order_->file.trim()) return false;
  if (step != TreeStep::Key) return go_to(0);
  RecNo rec = order_->tree.record();
  if (rec == 0 || rec > record_count()) {
    // Going there would silently end the walk at the phantom record.
    order_->tree.invalidate();
    return order_->file.report_corruption();
  }
  return go_to(rec);
}

bool NtxArea::go_top() {
  if (!order_) return DbfFptArea::go_top();
  top_ = true;
  bottom_ = false;
  if (!write_back()) return false;
  if (!land(order_->tree.top())) return false;
  return skip_filter(1);
}

bool NtxArea::go_bottom() {
  if (!order_) return DbfFptArea::go_bottom();
  top_ = false;
  bottom_ = true;
  if (!write_back()) return false;
  if (!land(order_->tree.bottom())) return false;
  return skip_filter(-1);
}

bool NtxArea::sync_cursor(bool& exact, TreeStep& step) {
  NtxTree& t = order_->tree;
  if (t.positioned() && t.record() == recno()) {
    exact = true;
    step = TreeStep::Key;
    return true;
  }
  std::string key;
  if (!current_key(*order_, key)) return false;
  step = t.locate(reinterpret_cast<const std::uint8_t*>(key.data()), recno(), exact);
  return step != TreeStep::Failed;
}

bool NtxArea::skip_raw(std::int64_t n) {
  if (!order_ || n == 0) return DbfFptArea::skip_raw(n);
  if (!write_back()) return false;
  NtxTree& t = order_->tree;
  std::uint64_t remaining =
      n > 0 ? static_cast<std::uint64_t>(n) : 0 - static_cast<std::uint64_t>(n);
  TreeStep s = TreeStep::End;
  if (!positioned()) {
    // From the phantom record forward stays there; backward starts at the last key.
    if (n > 0) return go_to(0);
    s = t.bottom();
    --remaining;
  } else {
    bool exact = false;
    if (!sync_cursor(exact, s)) return false;
    if (!exact) {
      // The record has no entry (a unique index left it out): the cursor stands on the
      // entry after it, which is one step forward; one step back is the entry before.
      if (n < 0) s = s == TreeStep::End ? t.bottom() : t.prev();
      --remaining;
    }
  }
  while (remaining > 0 && s == TreeStep::Key) {
    s = n > 0 ? t.next() : t.prev();
    --remaining;
  }
  if (s == TreeStep::Failed) return false;
  if (s == TreeStep::Key) return land(s);
  if (n > 0) return go_to(0);
  // Before the first key: the first key's record, with the beginning-of-file flag.
  bool ok = land(t.top());
  bof_ = true;
  return ok;
}

bool NtxArea::seek(const Value& key, bool soft_seek, bool find_last) {
  if (!write_back()) return false;
  if (!order_) return DbfFptArea::seek(key, soft_seek, find_last);
  top_ = bottom_ = false;
  eof_ = false;
  const NtxHeader& h = order_->file.header();
  bool last = find_last != h.descending;
  SearchKey sk = make_search_key(key, h.key_size, h.key_dec, last);
  NtxTree& t = order_->tree;
  NtxTree::SeekResult r = t.seek(sk);
  if (r.step == TreeStep::Failed) return false;
  auto to_end = [this] {
    bool ok = go_to(0);
    found_ = false;
    bof_ = record_count() == 0;
    return ok;
  };
  if (r.step == TreeStep::End || (!r.found && !soft_seek)) return to_end();
  RecNo landing = t.record();
  if (!land(r.step)) return false;
  if (positioned() && !skip_filter(last ? -1 : 1)) return false;
  if (!r.found) return true;
  bool match = positioned() && recno() == landing;
  if (!match && positioned() && t.positioned() && t.record() == recno()) {
    match = compare_keys(reinterpret_cast<const std::uint8_t*>(sk.bytes.data()),
                         static_cast<std::size_t>(sk.len),
                         reinterpret_cast<const std::uint8_t*>(t.key().data()), t.key().size(),
                         false) == 0;
  }
  if (match) {
    found_ = true;
    return true;
  }
  return soft_seek ? true : to_end();
}

// --- creating an order ---

bool NtxArea::blank_key_shape(Order& o) {
  // The key's type and size come from the blank record after the last one.
  RecNo saved = recno();
  if (!go_to(0)) return false;
  Value blank;
  if (!key_value(o, blank)) return false;
  if (!go_to(saved)) return false;
  switch (classify_key(blank, o.shape)) {
    case KeyClass::Ok:
      return true;
    case KeyClass::BadType:
      raise_error(kErrDataType, kKeyKind, 0);
      return false;
    case KeyClass::ZeroWidth:
      raise_error(kErrDataWidth, kKeyKind, 0);
      return false;
  }
  return false;
}

bool NtxArea::create_order(const OrderRequest& req) {
  if (!write_back()) return false;
  // The records an index will point at are in the file before the index is: an index
  // must never hold keys of records that a later failure keeps from the table.
  if (!flush_write_behind()) return false;

  auto o = std::make_unique<Order>();
  o->key_text = req.key_text;
  o->field = field_index(req.key_text);
  o->key = req.key;
  if (!o->key && o->field < 0) {
    // Only a key text that names a field can be compiled here; anything else is a
    // syntax error of the key expression (it has no sub-code of its own).
    raise_error(kErrSyntax, kNoSubcode, 0, {}, 0, req.key_text);
    return false;
  }

  if (!blank_key_shape(*o)) return false;

  // The file: the name given (".ntx" added when it has none), else the table's name
  // with ".ntx"; a name without a directory lands in the working directory.
  std::string file = req.file;
  if (file.empty()) {
    file = file_name();
    std::size_t dot = extension_dot(file);
    if (dot != std::string::npos) file.resize(dot);
    file += ".ntx";
  } else {
    file = index_file_name(file);
  }
  std::string order_name = req.order.empty() ? order_name_of(file) : req.order;
  if (order_name.size() > kNtxOrderNameMax) order_name.resize(kNtxOrderNameMax);
  for (char& c : order_name) c = ascii_upper(c);
  o->name = order_name;

  // The same file open in this area is closed before it is created again.
  if (order_ && same_host_file(order_->file.name(), file)) {
    order_->file.close();
    drop_order();
  }
  if (!o->file.create(file, shared())) return false;

  NtxHeader def;
  def.key_expr = req.key_text;
  def.key_size = static_cast<std::uint16_t>(o->shape.size);
  def.key_dec = static_cast<std::uint16_t>(o->shape.dec);
  def.unique = req.unique;
  if (!req.order.empty()) def.order_name = order_name;
  RecordSource source(*this, *o);
  // A build that fails, whether its error is answered or unwinds the run, leaves no
  // file: a partly written index would hold some of the keys or none of the tree.
  struct DropUnfinished {
    NtxFile& file;
    bool built = false;
    ~DropUnfinished() {
      if (!built) file.discard();
    }
  } unfinished{o->file};
  if (!create_ntx_index(o->file, def, source, NtxBuildOptions{build_capacity_})) return false;
  unfinished.built = true;

  if (order_) order_->file.close();
  order_ = std::move(o);
  old_key_known_ = appended_ = false;
  return go_top();
}

// --- opening an index file written before ---

bool NtxArea::open_order(std::string_view name) {
  if (!write_back()) return false;
  auto o = std::make_unique<Order>();
  std::string file = index_file_name(std::string(name));
  if (!o->file.open(file, read_only(), shared())) return false;
  const NtxHeader& h = o->file.header();
  o->key_text = h.key_expr;
  o->field = field_index(h.key_expr);
  if (o->field < 0 || !h.for_expr.empty()) {
    // Only a key that names a field can be evaluated here, and no FOR condition: the
    // index could not be kept up to date.
    raise_error(kErrSyntax, kNoSubcode, 0, {}, 0, o->field < 0 ? h.key_expr : h.for_expr);
    o->file.close();
    return false;
  }
  if (!blank_key_shape(*o)) {
    o->file.close();
    return false;
  }
  if (o->shape.size != h.key_size || o->shape.dec != h.key_dec) {
    // The pages would be read with one key size and compared with another.
    o->file.report_corruption();
    o->file.close();
    return false;
  }
  o->name = h.order_name.empty() ? order_name_of(file) : h.order_name;
  if (order_) order_->file.close();
  order_ = std::move(o);
  old_key_known_ = appended_ = false;
  return go_top();
}

}  // namespace lum
