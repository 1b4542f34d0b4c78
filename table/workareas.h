// The work-area table: numbered slots (1..65534) that hold the open tables, the current
// area, alias look-up, and the registry of table drivers. One per Runtime, kept in its
// WorkAreas service slot and created on first use; destroying it closes every table.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/runtime.h"
#include "table/area.h"

namespace lum {

inline constexpr AreaNumber kMaxArea = 65534;
inline constexpr AreaNumber kFirstFreeArea = 65535;  // "M": stands for the first free area

// --- drivers ---
using DriverFactory = std::function<std::unique_ptr<Area>()>;
// Registers (or replaces) a driver under its upper-case name. "DBF", "DBFFPT" and
// "DBFNTX" are present from the start; "DBFNTX" behaves as "DBFFPT" until the index
// layer registers its own.
void register_driver(std::string name, DriverFactory factory);
bool driver_registered(std::string_view name);
// The default driver: the first registered of "DBFNTX", "DBFCDX", "DBFFPT", "DBF".
std::string default_driver();
// A new, unopened area of that driver; nullptr for an unknown name.
std::unique_ptr<Area> make_area(std::string_view driver);

// What the error log shows of one open area.
struct AreaSummary {
  AreaNumber number = 0;
  std::string alias;
  std::string driver;
  RecNo recno = 0;
  std::string filter;
  std::string order;
};

class WorkAreas : public Service {
 public:
  WorkAreas();
  // Closes every table; never throws.
  ~WorkAreas() override;

  // The work areas of the current runtime, created on first use.
  static WorkAreas& get() {
    auto* wa = Runtime::current().service_as<WorkAreas>(ServiceSlot::WorkAreas);
    return wa != nullptr ? *wa : create();
  }
  // Changes whenever a table is put into or taken out of an area, never repeating a
  // value of any work-area table: what an alias resolved to is known good while it stays
  // the same.
  std::uint64_t generation() const { return generation_; }

  AreaNumber current_number() const { return current_; }
  // The table of the current area, or nullptr when the area is empty.
  Area* current() const { return at(current_); }
  Area* at(AreaNumber n) const {
    return n < pos_.size() && pos_[n] != 0 ? list_[pos_[n]].get() : nullptr;
  }
  // Makes n current, occupied or not. REQUIRES: 1 <= n <= kMaxArea.
  void select(AreaNumber n) { current_ = n; }
  // The lowest empty area, 0 when every area is taken.
  AreaNumber first_free() const;

  // Alias look-up for DBSELECTAREA: a leading number, a single letter A..K (M for the
  // first free area), else an open table's alias. 0 when not found. The last few texts
  // found are remembered for the current generation (a conversion selects the same two
  // aliases for every record).
  AreaNumber lookup_for_select(std::string_view text) const;
  // Alias look-up for alias-> access: an open table's alias first, then the letters.
  AreaNumber lookup_for_access(std::string_view text) const;
  // The area whose table carries this alias (upper case), or nullptr.
  Area* find_alias(std::string_view alias) const;

  // Puts an opened table in area n (which must be empty) and records its number.
  void attach(AreaNumber n, std::unique_ptr<Area> area);
  // Takes the table out of area n without closing it.
  std::unique_ptr<Area> detach(AreaNumber n);
  // Closes the table of area n (DBCLOSEAREA). On a failed close the table stays.
  bool close(AreaNumber n);
  // Closes every table in ascending area order, empties the table and selects 1.
  void close_all();
  // Writes everything pending of every table without raising errors: for the
  // internal-error hook and other last moments.
  void flush_all_quietly() noexcept;
  // The open areas in ascending order, for the error log.
  std::vector<AreaSummary> summary() const;
  // The open area numbers in ascending order.
  std::vector<AreaNumber> open_areas() const;

  bool neterr() const { return neterr_; }
  void set_neterr(bool v) { neterr_ = v; }

 private:
  static WorkAreas& create();
  void changed();
  AreaNumber lookup_text_for_select(std::string_view text) const;

  // pos_[n] is the index in list_ of area n's table (0: empty); list_ is sorted by area
  // number and its entry 0 is never used. Both grow in steps of 256.
  std::vector<std::uint32_t> pos_;
  std::vector<std::unique_ptr<Area>> list_;
  AreaNumber current_ = 1;
  bool neterr_ = false;
  std::uint64_t generation_ = 0;
  struct Found {
    std::string text;
    std::uint64_t generation = 0;
    AreaNumber number = 0;
  };
  mutable Found found_[4];
  mutable std::size_t next_found_ = 0;
};

// The previous selection restored when the scope ends, exceptions included.
class AreaSelectionGuard {
 public:
  AreaSelectionGuard() : saved_(WorkAreas::get().current_number()) {}
  ~AreaSelectionGuard() { WorkAreas::get().select(saved_); }
  AreaSelectionGuard(const AreaSelectionGuard&) = delete;
  AreaSelectionGuard& operator=(const AreaSelectionGuard&) = delete;

 private:
  AreaNumber saved_;
};

}  // namespace lum
