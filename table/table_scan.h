// A table read straight from its file, for reports about a table rather than work on
// it: the header and field descriptors through the table format's own codec, then the
// records in file order, a large block at a time, under a shared open (nothing is
// locked against a reader, and nothing is written). It takes no work area and raises
// no error: what goes wrong is said in words by why().
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "table/dbf_format.h"

namespace lum {

class TableScan {
 public:
  // Opens the table of that name (".dbf" added when the name has no extension). False
  // when it cannot be read as a table; why() then says so ("is in use by another
  // program", "cannot be opened (DOS Error 2: file not found)", "is not a readable
  // table").
  bool open(std::string_view name);
  // The same for the operator's own file as it was before a dry run, passing by its
  // scratch copy (File::open_original).
  bool open_original(std::string_view name);
  // The name opened, with its extension.
  const std::string& name() const { return name_; }
  const std::string& why() const { return why_; }
  // The record count of the header.
  std::uint32_t count() const { return count_; }
  const std::vector<dbf::Field>& fields() const { return h_.fields; }
  // The field of that name, compared without case; nullptr when the table has none.
  const dbf::Field* field(std::string_view name) const;
  // A field's bytes in a record image.
  static std::string_view bytes(std::string_view record, const dbf::Field& f) {
    return record.substr(f.offset, f.len);
  }
  // Calls `each` with every record the header counts, in order (record number from 1,
  // the record's bytes with the deletion flag first). False when the file ends before
  // the header's count, or when a stop request is pending (the walk ends at the record
  // boundary where it sees it).
  bool each(const std::function<void(std::uint32_t, std::string_view)>& each);

 private:
  bool open_file(std::string_view name, bool original);

  std::string name_;
  std::string why_;
  File file_;
  dbf::Header h_;
  std::uint32_t count_ = 0;
};

// The name with `ext` when its last component has no extension.
std::string with_default_extension(std::string name, std::string_view ext);

}  // namespace lum
