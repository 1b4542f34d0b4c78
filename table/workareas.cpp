#include "table/workareas.h"

#include <algorithm>
#include <utility>

#include "platform/text.h"
#include "table/dbf_area.h"
#include "table/fpt_area.h"

namespace lum {

namespace {

struct DriverEntry {
  std::string name;
  DriverFactory factory;
};

std::vector<DriverEntry>& registry() {
  static std::vector<DriverEntry> drivers = [] {
    std::vector<DriverEntry> d;
    d.push_back({"DBF", [] { return std::make_unique<DbfArea>("DBF"); }});
    d.push_back({"DBFFPT", [] { return std::make_unique<DbfFptArea>("DBFFPT"); }});
    // Until the index layer registers its own, the default driver is the memo driver
    // under the default driver's name.
    d.push_back({"DBFNTX", [] { return std::make_unique<DbfFptArea>("DBFNTX"); }});
    return d;
  }();
  return drivers;
}

const DriverEntry* find_driver(std::string_view name) {
  for (const DriverEntry& e : registry()) {
    if (e.name == name) return &e;
  }
  return nullptr;
}

constexpr std::size_t kGrowStep = 256;

}  // namespace

void register_driver(std::string name, DriverFactory factory) {
  for (char& c : name) c = ascii_upper(c);
  for (DriverEntry& e : registry()) {
    if (e.name == name) {
      e.factory = std::move(factory);
      return;
    }
  }
  registry().push_back({std::move(name), std::move(factory)});
}

bool driver_registered(std::string_view name) { return find_driver(name) != nullptr; }

std::string default_driver() {
  for (std::string_view n : {"DBFNTX", "DBFCDX", "DBFFPT", "DBF"}) {
    if (driver_registered(n)) return std::string(n);
  }
  return "DBF";
}

std::unique_ptr<Area> make_area(std::string_view driver) {
  const DriverEntry* e = find_driver(driver);
  return e ? e->factory() : nullptr;
}

// --- the work-area table ---

namespace {
// One counter for the generations of every work-area table (see generation()).
std::uint64_t g_generation = 0;
}  // namespace

WorkAreas::WorkAreas() : list_(1) { changed(); }

void WorkAreas::changed() { generation_ = ++g_generation; }

WorkAreas::~WorkAreas() {
  try {
    close_all();
  } catch (...) {
    // A handler that unwinds while the runtime is going away: the tables still close
    // (quietly, through their destructors) below.
  }
  list_.clear();
}

WorkAreas& WorkAreas::create() {
  auto fresh = std::make_unique<WorkAreas>();
  WorkAreas& wa = *fresh;
  Runtime::current().set_service(ServiceSlot::WorkAreas, std::move(fresh));
  return wa;
}

AreaNumber WorkAreas::first_free() const {
  for (AreaNumber n = 1; n <= kMaxArea; ++n) {
    if (at(n) == nullptr) return n;
  }
  return 0;
}

Area* WorkAreas::find_alias(std::string_view alias) const {
  for (std::size_t i = 1; i < list_.size(); ++i) {
    if (list_[i]->alias() == alias) return list_[i].get();
  }
  return nullptr;
}

namespace {

std::string_view skip_blanks(std::string_view t) {
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
  return t;
}

// A single letter A..K (areas 1..11) or M (the first free area) followed by the end or
// a blank; 0 otherwise.
AreaNumber letter_area(std::string_view t) {
  if (t.empty() || (t.size() > 1 && t[1] != ' ' && t[1] != '\t')) return 0;
  char c = ascii_upper(t[0]);
  if (c >= 'A' && c <= 'K') return static_cast<AreaNumber>(c - 'A' + 1);
  if (c == 'M') return kFirstFreeArea;
  return 0;
}

// The upper-case alias text up to the first blank or tab, at most 63 characters, in
// a buffer of the caller's (alias-> access runs per field per record: no allocation).
struct AliasKey {
  char text[64];
  std::size_t size = 0;
  std::string_view view() const { return {text, size}; }
};

AliasKey alias_key(std::string_view t) {
  AliasKey key;
  for (char c : t) {
    if (c == ' ' || c == '\t' || key.size == 63) break;
    key.text[key.size++] = ascii_upper(c);
  }
  return key;
}

}  // namespace

AreaNumber WorkAreas::lookup_for_select(std::string_view text) const {
  for (const Found& f : found_) {
    if (f.generation == generation_ && f.text == text) return f.number;
  }
  AreaNumber n = lookup_text_for_select(text);
  if (n != 0) {
    // Only what was found: the answer holds until a table comes or goes.
    Found& f = found_[next_found_++ % std::size(found_)];
    f.text.assign(text);
    f.generation = generation_;
    f.number = n;
  }
  return n;
}

AreaNumber WorkAreas::lookup_text_for_select(std::string_view text) const {
  std::string_view t = skip_blanks(text);
  if (t.empty()) return 0;
  if (t[0] >= '0' && t[0] <= '9') {
    std::uint64_t n = 0;
    for (char c : t) {
      if (c < '0' || c > '9') break;
      n = std::min<std::uint64_t>(n * 10 + static_cast<std::uint64_t>(c - '0'), 0xFFFFFFFFu);
    }
    // A number outside 1..65534 stands for the first free area.
    return (n >= 1 && n <= kMaxArea) ? static_cast<AreaNumber>(n) : kFirstFreeArea;
  }
  if (AreaNumber n = letter_area(t)) return n;
  Area* a = find_alias(alias_key(t).view());
  return a ? a->number() : 0;
}

AreaNumber WorkAreas::lookup_for_access(std::string_view text) const {
  std::string_view t = skip_blanks(text);
  if (Area* a = find_alias(alias_key(t).view())) return a->number();
  return letter_area(t);
}

void WorkAreas::attach(AreaNumber n, std::unique_ptr<Area> area) {
  if (n >= pos_.size()) pos_.resize((n / kGrowStep + 1) * kGrowStep, 0);
  if (list_.size() == list_.capacity()) list_.reserve(list_.size() + kGrowStep);
  area->set_number(n);
  // Areas are mostly filled in ascending order: a number past the last goes at the end
  // without a search.
  std::size_t k = list_.size();
  if (k > 1 && list_.back()->number() > n) {
    k = 1;
    while (k < list_.size() && list_[k]->number() < n) ++k;
  }
  list_.insert(list_.begin() + static_cast<std::ptrdiff_t>(k), std::move(area));
  for (std::size_t i = k; i < list_.size(); ++i) {
    pos_[list_[i]->number()] = static_cast<std::uint32_t>(i);
  }
  changed();
}

std::unique_ptr<Area> WorkAreas::detach(AreaNumber n) {
  if (at(n) == nullptr) return nullptr;
  std::size_t k = pos_[n];
  std::unique_ptr<Area> area = std::move(list_[k]);
  list_.erase(list_.begin() + static_cast<std::ptrdiff_t>(k));
  pos_[n] = 0;
  for (std::size_t i = k; i < list_.size(); ++i) {
    pos_[list_[i]->number()] = static_cast<std::uint32_t>(i);
  }
  changed();
  return area;
}

bool WorkAreas::close(AreaNumber n) {
  Area* a = at(n);
  if (a == nullptr) return true;
  if (!a->close()) return false;
  detach(n);
  return true;
}

void WorkAreas::close_all() {
  for (AreaNumber n : open_areas()) {
    current_ = n;
    if (Area* a = at(n)) a->close();
  }
  // Every area is freed, also one whose close failed (its destructor flushes quietly).
  while (list_.size() > 1) list_.pop_back();
  std::fill(pos_.begin(), pos_.end(), 0);
  current_ = 1;
  changed();
}

void WorkAreas::flush_all_quietly() noexcept {
  for (std::size_t i = 1; i < list_.size(); ++i) list_[i]->flush_quietly();
}

std::vector<AreaNumber> WorkAreas::open_areas() const {
  std::vector<AreaNumber> out;
  out.reserve(list_.size());
  for (std::size_t i = 1; i < list_.size(); ++i) out.push_back(list_[i]->number());
  return out;
}

std::vector<AreaSummary> WorkAreas::summary() const {
  std::vector<AreaSummary> out;
  for (std::size_t i = 1; i < list_.size(); ++i) {
    const Area& a = *list_[i];
    AreaSummary s;
    s.number = a.number();
    s.alias = a.alias();
    s.driver = a.driver();
    s.recno = a.recno();
    s.filter = a.filter_text();
    s.order = a.order_info();
    out.push_back(std::move(s));
  }
  return out;
}

}  // namespace lum
