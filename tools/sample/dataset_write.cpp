// Writing a dataset into a directory: the text files, streamed line by line, and the
// table and memo files.
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/sample/dataset.h"
#include "tools/sample/dbf_builder.h"
#include "tools/sample/layouts.h"

namespace lum::sample {
namespace {

// Removes every file of `dir` whose name is `name` in any letter case, so that an
// earlier dataset in the same place leaves no second spelling (the run matches names
// without regard to case) and no text file that this dataset leaves out.
void remove_any_case(const std::filesystem::path& dir, std::string_view name) {
  std::vector<std::filesystem::path> doomed;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    if (same_name_any_case(e.path().filename().string(), name)) doomed.push_back(e.path());
  }
  for (const auto& p : doomed) std::filesystem::remove(p);
}

void write_file(const std::filesystem::path& path, const std::string& bytes) {
  remove_any_case(path.parent_path(), path.filename().string());
  write_bytes(path, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

}  // namespace

void Dataset::write(const std::filesystem::path& dir) const {
  std::filesystem::create_directories(target_dir(dir));

  // Text files: one line per record, CR LF after each, through a 1 MB buffer.
  std::string line_buf;
  std::vector<char> buffer(1 << 20);  // outlives the stream that uses it
  for (int s = 0; s < kTextSetCount; ++s) {
    TextSet set = static_cast<TextSet>(s);
    remove_any_case(dir, text_file_name(set));
    if (!text_present(set)) continue;
    std::filesystem::path path = dir / text_file_name(set);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.string().c_str(), "wb"),
                                                      &std::fclose);
    if (!f) throw std::runtime_error("cannot create " + path.string());
    std::setvbuf(f.get(), buffer.data(), _IOFBF, buffer.size());
    std::size_t n = line_count(set);
    for (std::size_t i = 0; i < n; ++i) {
      line(set, i, line_buf);
      line_buf.append("\r\n");
      if (std::fwrite(line_buf.data(), 1, line_buf.size(), f.get()) != line_buf.size()) {
        throw std::runtime_error("write failed on " + path.string());
      }
    }
    if (std::fclose(f.release()) != 0) throw std::runtime_error("write failed on " + path.string());
  }

  for (int s = 0; s < kTextSetCount; ++s) {
    write_file(dir / staging_[s].file_name, initial_staging_file(static_cast<TextSet>(s)));
  }
  for (int t = 0; t < kTargetCount; ++t) {
    const TableDef& d = targets_[t];
    write_file(target_dir(dir) / d.file_name, initial_table_file(static_cast<Target>(t)));
    if (d.memo != MemoKind::kNone) write_file(target_dir(dir) / d.memo_file_name, initial_memo_[t]);
  }
}

}  // namespace lum::sample
