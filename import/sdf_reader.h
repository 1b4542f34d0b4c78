// The SDF reader: walks a fixed-width text file one record per line, each field taking
// its table width, and hands out each record as a record image (a blank deletion flag
// and the record bytes, every byte value kept) or as field values. A record ends at the
// first line end within its record length + line end + 2 bytes; a longer line is cut
// to the record length and the next record begins after its line end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "import/byte_source.h"
#include "import/transfer.h"
#include "runtime/value.h"

namespace lum {

// How the lines of a text file compare with the record length L they are read at: a
// line is its bytes before the line end (the last line: before the end of the file and
// a final 0x1A). Counted as the reader meets them.
struct LineTally {
  static constexpr std::size_t kFirstKept = 5;

  std::uint64_t lines = 0;
  std::uint64_t shorter = 0;  // lines below L bytes, short by min_short..max_short
  std::uint64_t min_short = 0, max_short = 0;
  std::uint64_t longer = 0;  // lines above L bytes, long by min_long..max_long
  std::uint64_t min_long = 0, max_long = 0;
  std::vector<std::uint64_t> first;  // numbers (from 1) of the first lines not L long

  bool all_fit() const { return shorter == 0 && longer == 0; }
  // Takes the length of the next line.
  void add(std::uint64_t length, std::uint64_t record_length);
};

// One field of the table that a text record is laid out from.
struct SdfFieldDesc {
  std::string name;
  char type = 'C';  // the table's type letter
  int width = 0;    // the table's field width
  int dec = 0;
};

// How a field stands in the text.
enum class SdfKind : std::uint8_t { Character, Numeric, Date, Logical, Memo, None };

struct SdfField {
  std::string name;
  SdfKind kind = SdfKind::Character;
  std::size_t width = 0;   // bytes in the text record
  std::size_t offset = 0;  // from the record's first byte
  int dec = 0;
};

// The text record of a table structure: field kinds and widths, offsets as running sums,
// the record length L. `whole_image` stays true only when every field stands in the text
// exactly as in the table record (types C, N, F, D of width 8, L), so that the record
// image can replace a table record byte for byte.
struct SdfLayout {
  std::vector<SdfField> fields;
  std::size_t record_length = 0;
  bool whole_image = true;

  static SdfLayout from_structure(const std::vector<SdfFieldDesc>& structure);
};

// Reads records through a ByteSource (wrap a file in a ReadAhead). Read failures of the
// host raise "Read error" (subsystem "SDF", sub-code 1010, retry and default) and make the
// move fail; content never does.
class SdfReader final : public TransferSource {
 public:
  // An empty `eol` means CR LF. REQUIRES: `source` outlives the reader.
  SdfReader(SdfLayout layout, std::string eol, ByteSource& source, std::string filename);

  // Goes to the first record (offset 0, record number 1). False when a read failed.
  bool go_top() override;
  // Moves forward by one record; at the last record it reaches end of file. False when
  // a read failed.
  bool skip() override;
  // Goes to the first record and forward to record n (end of file when there are fewer).
  bool go_to(std::uint32_t recno) override;

  bool eof() const override { return eof_; }
  bool deleted() const override { return false; }
  bool positioned() const { return positioned_; }
  std::uint32_t recno() const { return recno_; }
  const SdfLayout& layout() const { return layout_; }
  // The lines met since the last go_top(); a line longer than the span is counted once
  // the skip past it has found its end.
  const LineTally& tally() const { return tally_; }

  // The record image: the blank deletion flag and the L record bytes; at end of file L
  // blanks.
  std::string_view image() const override { return {buf_.data(), 1 + layout_.record_length}; }
  // The value of field i of the current record (character: the bytes as they stand;
  // numeric: the number text read as VAL reads it; date: YYYYMMDD or the empty date;
  // logical: T, t, Y, y; memo: ""; none: NIL). REQUIRES: i < layout().fields.size().
  Value field_value(std::size_t i) const;
  Value field(std::size_t i) const override { return field_value(i); }

 private:
  static constexpr std::int64_t kNextUnknown = 0;
  static constexpr std::int64_t kNoFurther = -1;

  bool read_record();
  bool scan_for_next();
  void set_eof();
  std::size_t find_eol(const char* p, std::size_t n) const;
  // Reads until n bytes or the end of the bytes; a host failure is raised, and its
  // retry repeats the read. False when the failure was not retried.
  bool read_at(std::uint64_t offset, char* data, std::size_t n, std::size_t& got);

  SdfLayout layout_;
  std::string eol_;
  ByteSource& source_;
  std::string filename_;
  std::vector<char> buf_;    // deletion flag, L record bytes, line end, 2 spare
  std::vector<char> chunk_;  // the long-line scan's chunk
  std::uint64_t current_ = 0;
  std::int64_t next_ = kNextUnknown;
  std::uint32_t recno_ = 0;
  LineTally tally_;
  bool positioned_ = false;
  bool eof_ = true;
};

}  // namespace lum
