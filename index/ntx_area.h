// The "DBFNTX" driver: the memo-file driver with one NTX index kept for its work area.
// With an index controlling, go top, go bottom, raw skip and seek follow key order;
// a record whose key changes moves in the index when it is written back; a zap empties
// the index; flushing and closing the table flush and close the index.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "index/ntx_build.h"
#include "index/ntx_file.h"
#include "index/ntx_key.h"
#include "index/ntx_tree.h"
#include "table/fpt_area.h"

namespace lum {

// A code block of the program: evaluated with the work area selected.
using CodeBlock = std::function<Value()>;

// What ORDCREATE asks of the driver.
struct OrderRequest {
  std::string file;      // "" when not given
  std::string order;     // "" when not given
  std::string key_text;  // the key expression as written
  CodeBlock key;         // empty: compiled from key_text
  bool unique = false;
};

class NtxArea : public DbfFptArea {
 public:
  NtxArea();
  // Closes the index quietly when the table was not closed (nothing raised or thrown).
  ~NtxArea() override;

  bool close() override;
  bool flush() override;
  void flush_quietly() noexcept override;

  bool go_top() override;
  bool go_bottom() override;
  bool skip_raw(std::int64_t n) override;
  bool seek(const Value& key, bool soft_seek, bool find_last) override;

  bool append(bool unlock_all) override;
  bool zap() override;
  bool delete_record() override;
  bool put_record_image(const std::uint8_t* image, std::size_t size) override;
  bool put_field(int index, const Value& v) override;
  bool put_text(int index, std::string_view text) override;
  // Writes the record back, then moves its key in the index when it changed (an
  // appended record's key is inserted).
  bool write_back() override;

  std::string order_info() const override;

  // Builds an index file over the table and makes it the area's only and controlling
  // order, positioned at its top (the create-order steps). False when the order was not
  // created; the error has been raised and any earlier index stays as it was, unless it
  // was the file being replaced.
  bool create_order(const OrderRequest& req);
  // Opens an index file that exists already (".ntx" added to a name without an
  // extension) as the area's only and controlling order, positioned at its top. Its
  // key expression must name a field of the table, the one kind of key this engine
  // evaluates (else the syntax error of a key it cannot compile), and that field's key
  // must have the index's size and decimals (else "Corruption detected", 1012, naming
  // the index). The file's own open, read and corruption errors as NtxFile::open
  // raises them. False when the order was not opened; an earlier index stays then.
  bool open_order(std::string_view file);
  bool has_order() const { return order_ != nullptr; }
  const std::string& order_name() const;
  const std::string& key_text() const;

  // Tests: the sort-area capacity of the next build (0: sized from the table).
  void set_build_capacity(std::size_t entries) { build_capacity_ = entries; }

 private:
  struct Order {
    NtxFile file;
    NtxTree tree{file};
    std::string name;
    std::string key_text;
    CodeBlock key;
    int field = -1;  // the key is this field, read directly
    KeyShape shape;
  };
  class RecordSource;

  // The key value of the current record: the field read or the block evaluated with
  // this area selected.
  bool key_value(const Order& o, Value& out);
  // The key bytes of the current record; false after a raised error.
  bool current_key(const Order& o, std::string& out);
  // Makes the tree cursor stand on the current record's entry. `exact` false: it stands
  // on the entry after where the record would be (or is at the end).
  bool sync_cursor(bool& exact, TreeStep& step);
  // Goes to the record of the cursor's key, or to the phantom record. An entry that
  // names no record of the table is damage: "Corruption detected" on the index.
  bool land(TreeStep step);
  // The key's shape on the phantom record after the last one, where create and open
  // take it; false after a raised error.
  bool blank_key_shape(Order& o);
  // Remembers the current record's key before its first change.
  bool before_change();
  void drop_order() noexcept;

  std::unique_ptr<Order> order_;
  bool old_key_known_ = false;
  std::string old_key_;
  bool appended_ = false;
  std::size_t build_capacity_ = 0;
};

}  // namespace lum
