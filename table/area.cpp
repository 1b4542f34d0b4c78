#include "table/area.h"

#include <atomic>

#include "platform/text.h"
#include "runtime/runtime.h"
#include "table/workareas.h"

namespace lum {

namespace {

std::atomic<std::uint64_t> g_serial{0};

bool has_lower(std::string_view name) {
  for (char c : name) {
    if (ascii_upper(c) != c) return true;
  }
  return false;
}

}  // namespace

Area::Area(std::string driver_name) : driver_(std::move(driver_name)) {}

Area::~Area() = default;

void Area::set_fields(std::vector<dbf::Field> fields) {
  fields_ = std::move(fields);
  field_map_.clear();
  field_map_.reserve(fields_.size());
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    // The first field of a name wins, as a search in field order would find it.
    field_map_.emplace(fields_[i].name, static_cast<int>(i));
  }
  serial_ = ++g_serial;
}

void Area::clear_fields() {
  fields_.clear();
  field_map_.clear();
  serial_ = ++g_serial;
}

int Area::field_index(std::string_view name) const {
  // Field names are stored in upper case; most callers spell them so already.
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  if (name.empty() || name.size() > 10) return -1;
  char upper[10];
  if (has_lower(name)) {
    for (std::size_t i = 0; i < name.size(); ++i) {
      upper[i] = ascii_upper(name[i]);
    }
    name = std::string_view(upper, name.size());
  }
  auto it = field_map_.find(name);
  return it == field_map_.end() ? -1 : it->second;
}

bool Area::go_top() {
  top_ = true;
  bottom_ = false;
  if (!go_to(1)) return false;
  return skip_filter(1);
}

bool Area::go_bottom() {
  top_ = false;
  bottom_ = true;
  if (!go_to(record_count())) return false;
  return skip_filter(-1);
}

bool Area::skip(std::int64_t n) {
  top_ = bottom_ = false;
  if (n == 0) return skip_raw(0);
  bool hide_deleted = Runtime::current().settings().deleted;
  if (!has_filter() && !hide_deleted) {
    bool ok = skip_raw(n);
    // A backward skip that reaches the beginning lands on the top again, BOF kept.
    if (ok && bof_ && n < 0) {
      ok = go_top();
      bof_ = true;
    }
    if (n < 0) {
      eof_ = false;
    } else {
      bof_ = false;
    }
    return ok;
  }
  int dir = n > 0 ? 1 : -1;
  std::uint64_t count = n > 0 ? static_cast<std::uint64_t>(n) : 0 - static_cast<std::uint64_t>(n);
  while (count-- > 0) {
    if (!skip_raw(dir)) return false;
    if (!skip_filter(dir)) return false;
    if (bof_ || eof_) break;
  }
  if (dir < 0) {
    eof_ = false;
  } else {
    bof_ = false;
  }
  return true;
}

bool Area::skip_filter(int direction) {
  bool hide_deleted = Runtime::current().settings().deleted;
  if (!has_filter() && !hide_deleted) return true;
  int dir = direction > 0 ? 1 : -1;
  bool from_bottom = bottom_;
  while (!bof_ && !eof_) {
    // Each record passed over is a record boundary for a stop request.
    Runtime::current().poll_interrupt();
    if (hide_deleted) {
      bool del = false;
      if (!deleted(del)) return false;
      if (del) {
        if (!skip_raw(dir)) return false;
        continue;
      }
    }
    if (filter_) {
      Value result;
      {
        AreaSelectionGuard guard;
        WorkAreas::get().select(number_);
        result = filter_();
      }
      // A run that is being ended cannot complete the evaluation: the move fails.
      if (Runtime::current().quitting()) return false;
      if (result.is_logical() && !result.log()) {
        if (!skip_raw(dir)) return false;
        continue;
      }
    }
    break;
  }
  if (bof_ && dir < 0) {
    if (from_bottom) return go_to(0);
    bool ok = go_top();
    bof_ = true;
    return ok;
  }
  return true;
}

void Area::set_filter(std::function<Value()> condition, std::string text) {
  filter_ = std::move(condition);
  filter_text_ = std::move(text);
}

void Area::clear_filter() {
  filter_ = nullptr;
  filter_text_.clear();
}

bool Area::seek(const Value&, bool, bool) {
  raise_error(kErrNotIndexed, kNotIndexed, kCanDefault);
  return false;
}

ErrorObject Area::area_error(int gencode, int subcode, int flags, std::string filename, int oscode,
                             std::string operation) const {
  ErrorObject e = make_error(gencode, driver_, subcode, std::move(operation), flags);
  e.filename = std::move(filename);
  e.oscode = oscode;
  return e;
}

RaiseAnswer Area::raise_area(ErrorObject& e) {
  if (sink_ != nullptr) {
    if (!sink_->has_value()) *sink_ = e;
    return RaiseAnswer{};  // break
  }
  if (quiet_) return RaiseAnswer{};  // break
  return raise(e);
}

RaiseAnswer Area::raise_error(int gencode, int subcode, int flags, std::string filename, int oscode,
                              std::string operation) {
  ErrorObject e =
      area_error(gencode, subcode, flags, std::move(filename), oscode, std::move(operation));
  return raise_area(e);
}

}  // namespace lum
