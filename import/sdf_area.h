// The "SDF" driver: a work area over a fixed-width text file, read-only, one record per
// line. It lays its fields out from a table structure before it opens the file, reads
// through a read-ahead window, and moves forward only: skipping by anything but +1 fails
// without an error. The append-from transfer reads it; so can code blocks that run while
// it is selected.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "import/byte_source.h"
#include "import/sdf_reader.h"
#include "table/area.h"

namespace lum {

inline constexpr char kSdfDriver[] = "SDF";

// The text file name the import opens: `file` as given, with ".txt" appended when it has
// no extension and the default-extensions setting is on.
std::string sdf_file_name(std::string_view file);

// Opens a text file read-only and shared. When it cannot be opened, raises "Open error"
// (subsystem "SDF", generic 21, sub-code 1001, the file name, the OS code, retry and
// default; retry only without `allow_default`) and opens again for as long as the handler
// answers retry. False when it gave up.
bool sdf_open_file(const std::string& name, File& out, bool allow_default = true);

class SdfArea final : public Area {
 public:
  SdfArea();
  ~SdfArea() override;

  // Lays out the fields (kinds, text widths, offsets) from a table's structure.
  // REQUIRES: called before open().
  void set_structure(const std::vector<SdfFieldDesc>& structure);
  // The layout keeps whole record images (no field had its width or kind changed).
  bool whole_image() const { return layout_.whole_image; }
  // The code page of the text: the run's own.
  const std::string& codepage() const { return codepage_; }
  TransferSource& source() { return *reader_; }
  // The lines met so far. REQUIRES: open.
  const LineTally& tally() const { return reader_->tally(); }
  std::size_t record_length() const { return layout_.record_length; }
  // The text file's name as opened.
  const std::string& file_name() const { return filename_; }

  // Opens info.name (retrying as the handler asks) and goes to the first record.
  bool open(const OpenInfo& info) override;
  bool close() override;
  bool is_open() const override { return file_.has_value(); }
  bool flush() override { return true; }
  void flush_quietly() noexcept override {}

  bool go_to(RecNo recno) override;
  bool go_top() override;
  bool go_bottom() override { return false; }
  bool skip(std::int64_t n) override { return skip_raw(n); }
  bool skip_raw(std::int64_t n) override;
  bool skip_filter(int) override { return true; }
  RecNo recno() const override;
  RecNo record_count() override { return recno(); }
  bool deleted(bool& out) override {
    out = false;
    return true;
  }

  // The text area is read-only: every change fails with "Write not allowed".
  bool append(bool unlock_all) override;
  bool zap() override;
  bool delete_record() override;
  bool put_record_image(const std::uint8_t* image, std::size_t size) override;
  bool write_back() override { return true; }

  bool get_field(int index, Value& out) override;
  bool put_field(int index, const Value& v) override;

 private:
  bool refuse_write(const char* operation);
  void sync_flags();

  SdfLayout layout_;
  std::string codepage_;
  std::string filename_;
  std::optional<FileSource> file_;
  std::unique_ptr<ReadAhead> window_;
  std::unique_ptr<SdfReader> reader_;
};

}  // namespace lum
