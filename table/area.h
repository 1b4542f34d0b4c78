// A work area's table as seen through its driver: the operations every driver offers
// (open, close, move, append, read and write fields, zap, flush), with the cursor flags
// and the record filter that belong to the area rather than to one driver. Drivers
// derive from one another and override the operations they change; every operation
// returns success or failure, a failure having been raised already.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "runtime/error.h"
#include "runtime/value.h"
#include "table/dbf_format.h"
#include "table/driver_subcodes.h"

namespace lum {

using RecNo = std::uint32_t;
using AreaNumber = std::uint32_t;

// What DBUSEAREA hands to a driver's open.
struct OpenInfo {
  std::string name;   // file name as the program gave it, extension added
  std::string alias;  // upper case
  bool shared = false;
  bool read_only = false;
  std::string codepage;  // "" for the program's own
};

class Area {
 public:
  explicit Area(std::string driver_name);
  virtual ~Area();
  Area(const Area&) = delete;
  Area& operator=(const Area&) = delete;

  // The driver's name: the subsystem of the errors it raises.
  const std::string& driver() const { return driver_; }
  AreaNumber number() const { return number_; }
  const std::string& alias() const { return alias_; }
  void set_number(AreaNumber n) { number_ = n; }
  void set_alias(std::string a) { alias_ = std::move(a); }
  // Changes with every open, so caches of field positions can tell tables apart.
  std::uint64_t serial() const { return serial_; }

  // --- opening and closing ---
  // Opens the table and positions at the top. On failure everything is closed again.
  virtual bool open(const OpenInfo& info) = 0;
  // Writes back, writes the header when it is marked, commits (hard commit) and closes.
  // On failure the table stays open.
  virtual bool close() = 0;
  virtual bool is_open() const = 0;
  // Commit: writes back the record, the header when marked, and flushes to disk.
  virtual bool flush() = 0;
  // For the process's last moments: writes everything pending without raising errors.
  virtual void flush_quietly() noexcept = 0;

  // --- movement ---
  virtual bool go_to(RecNo recno) = 0;
  virtual bool go_top();
  virtual bool go_bottom();
  // DBSKIP: raw skips, one record at a time under a filter or hidden deleted records.
  virtual bool skip(std::int64_t n);
  virtual bool skip_raw(std::int64_t n) = 0;
  // Passes over records the filter rejects (and deleted ones when they are hidden).
  virtual bool skip_filter(int direction);

  bool bof() const { return bof_; }
  bool eof() const { return eof_; }
  bool found() const { return found_; }
  virtual RecNo recno() const = 0;
  virtual RecNo record_count() = 0;
  // The current record's deletion mark (reads the record when needed).
  virtual bool deleted(bool& out) = 0;

  // --- update ---
  virtual bool append(bool unlock_all) = 0;
  virtual bool zap() = 0;
  virtual bool delete_record() = 0;
  // Replaces the current record by an image of record-length bytes (deletion byte
  // first; "D" becomes "*", "E" a blank). Nothing is stored on the phantom record.
  virtual bool put_record_image(const std::uint8_t* image, std::size_t size) = 0;
  virtual bool accepts_record_images() const { return true; }
  // Writes a changed record to its place (before every move, append, zap, close).
  virtual bool write_back() = 0;

  // --- fields ---
  int field_count() const { return static_cast<int>(fields_.size()); }
  const dbf::Field& field(int index) const { return fields_[static_cast<std::size_t>(index)]; }
  // The position of a field by name, case-blind; -1 when the table has none.
  int field_index(std::string_view name) const;
  virtual bool get_field(int index, Value& out) = 0;
  virtual bool put_field(int index, const Value& v) = 0;
  // The bytes of character field `index` as the current record stores them, when the
  // record has been read already and the field keeps its text in the record (not a
  // memo): what get_field would give as a text, without making the value. Nothing
  // otherwise; get_field then reads the field as usual.
  virtual std::optional<std::string_view> stored_text(int index) const {
    (void)index;
    return std::nullopt;
  }
  // put_field of a text, without making the value first. `text` may lie in this area's
  // own record.
  virtual bool put_text(int index, std::string_view text) {
    return put_field(index, Value::string(text));
  }

  // --- filter and orders ---
  // The filter is evaluated with this area selected; a logical false rejects a record.
  void set_filter(std::function<Value()> condition, std::string text);
  void clear_filter();
  bool has_filter() const { return static_cast<bool>(filter_); }
  const std::string& filter_text() const { return filter_text_; }
  // Seeks in the controlling order. Without an order: "Workarea not indexed" (1201).
  virtual bool seek(const Value& key, bool soft_seek, bool find_last);
  // A line on the controlling order for the error log; empty when there is none.
  virtual std::string order_info() const { return {}; }

  // While a sink is set, the first error of this area's operations is stored there
  // instead of reaching the handler, and the operation fails (the probe of TYPE).
  void record_errors(std::optional<ErrorObject>* sink) { sink_ = sink; }

 protected:
  // An error of this driver (subsystem = driver name), for raise_area.
  ErrorObject area_error(int gencode, int subcode, int flags, std::string filename = {},
                         int oscode = 0, std::string operation = {}) const;
  // Raises through the handler; while quiet, answers "break" without calling it.
  RaiseAnswer raise_area(ErrorObject& e);
  // area_error + raise_area, for errors that are not retried.
  RaiseAnswer raise_error(int gencode, int subcode, int flags, std::string filename = {},
                          int oscode = 0, std::string operation = {});
  // The core's with_retry (runtime/error.h) for one operation of this driver: its
  // error is raised through raise_area.
  template <class Error, class Attempt>
  bool with_retry(Error&& error, Attempt&& attempt) {
    return lum::with_retry(std::forward<Error>(error), std::forward<Attempt>(attempt),
                           [this](ErrorObject& e) { return raise_area(e); });
  }
  // While set, errors are not reported (flush_quietly).
  bool quiet_ = false;
  std::optional<ErrorObject>* sink_ = nullptr;
  // Installs the field list and its name map; bumps the serial.
  void set_fields(std::vector<dbf::Field> fields);
  void clear_fields();

  bool bof_ = true;
  bool eof_ = true;
  bool found_ = false;
  bool top_ = false;     // the last positioning was go top
  bool bottom_ = false;  // the last positioning was go bottom
  std::vector<dbf::Field> fields_;

 private:
  std::string driver_;
  AreaNumber number_ = 0;
  std::string alias_;
  std::uint64_t serial_ = 0;
  // Looked up by string_view without building a string.
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::unordered_map<std::string, int, NameHash, std::equal_to<>> field_map_;
  std::function<Value()> filter_;
  std::string filter_text_;
};

}  // namespace lum
