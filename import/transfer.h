// The record-by-record transfer of an append-from: walks a source area within the scope
// (single record, NEXT count, WHILE and FOR conditions, REST) and appends each
// qualifying record to the destination, either as a whole record image or field by
// field. The source and destination are seen through two small interfaces, so the loop
// is the same whatever driver reads the source.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/value.h"

namespace lum {

// The area records are taken from.
class TransferSource {
 public:
  virtual ~TransferSource() = default;
  virtual bool go_top() = 0;
  virtual bool go_to(std::uint32_t recno) = 0;
  // Skip forward by one record.
  virtual bool skip() = 0;
  virtual bool eof() const = 0;
  virtual bool deleted() const = 0;
  virtual Value field(std::size_t index) const = 0;
  // The record image, deletion flag first.
  virtual std::string_view image() const = 0;
};

// The area records are appended to. Each operation reports success; a failure has been
// raised already.
class TransferTarget {
 public:
  virtual ~TransferTarget() = default;
  virtual bool append_blank() = 0;
  virtual bool replace_image(std::string_view image) = 0;
  virtual bool put_field(std::size_t index, const Value& value) = 0;
  virtual bool mark_deleted() = 0;
};

// The transfer description, scope included. Conditions answer true or false; they are
// evaluated while the source area is selected (the caller's business).
struct TransferPlan {
  std::function<bool()> for_condition;
  std::function<bool()> while_condition;
  std::optional<std::int64_t> next;
  std::optional<std::uint32_t> record;
  bool rest = false;
  bool whole_image = false;
  // (source field, destination field), 0-based, in transfer order.
  std::vector<std::pair<std::size_t, std::size_t>> pairs;
};

// Runs the transfer loop. True when every step succeeded; a failing step leaves the
// record it appended marked deleted and ends the loop with false. Polls for an interrupt
// once per record, so an interrupt ends the run at a record boundary.
bool run_transfer(TransferSource& source, TransferTarget& target, const TransferPlan& plan);

}  // namespace lum
