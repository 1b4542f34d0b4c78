#include "table/table_scan.h"

#include <algorithm>

#include "platform/text.h"
#include "runtime/error.h"
#include "runtime/runtime.h"

namespace lum {

std::string with_default_extension(std::string name, std::string_view ext) {
  const std::size_t cut = name.find_last_of("\\/:");
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || (cut != std::string::npos && dot < cut)) name += ext;
  return name;
}

bool TableScan::open(std::string_view name) { return open_file(name, false); }

bool TableScan::open_original(std::string_view name) { return open_file(name, true); }

bool TableScan::open_file(std::string_view name, bool original) {
  name_ = with_default_extension(std::string(name), ".dbf");
  const int rc = original ? file_.open_original(name_)
                          : file_.open(name_, FileAccess::ReadOnly, FileShare::Shared);
  if (rc != kOsOk) {
    why_ = rc == kOsFileInUse ? "is in use by another program"
                              : "cannot be opened " + dos_error_explained(rc);
    return false;
  }
  why_ = "is not a readable table";
  std::uint8_t head[dbf::kHeaderSize];
  IoResult r = file_.read_at(0, head, sizeof head);
  if (dbf::decode_header(std::span<const std::uint8_t>(head, r.bytes), h_) != dbf::Status::Ok) {
    return false;
  }
  std::vector<std::uint8_t> block(dbf::descriptor_block_size(h_));
  r = file_.read_at(dbf::kHeaderSize, block.data(), block.size());
  if (r.bytes != block.size() || dbf::decode_descriptors(block, h_) != dbf::Status::Ok) {
    return false;
  }
  count_ = dbf::get_le32(head + 4);
  why_.clear();
  return true;
}

const dbf::Field* TableScan::field(std::string_view name) const {
  for (const dbf::Field& f : h_.fields) {
    if (equal_case_blind(f.name, name)) return &f;
  }
  return nullptr;
}

bool TableScan::each(const std::function<void(std::uint32_t, std::string_view)>& each) {
  const std::size_t len = h_.record_len;
  const std::uint32_t per_block =
      static_cast<std::uint32_t>(std::max<std::size_t>(1, (1u << 20) / len));
  std::string buf;
  for (std::uint32_t first = 1; first <= count_; first += per_block) {
    const std::uint32_t n = std::min(per_block, count_ - first + 1);
    buf.resize(static_cast<std::size_t>(n) * len);
    IoResult r = file_.read_at(h_.header_len + static_cast<std::uint64_t>(first - 1) * len,
                               buf.data(), buf.size());
    if (r.bytes != buf.size()) return false;
    for (std::uint32_t k = 0; k < n; ++k) {
      if (Runtime::interrupt_pending()) return false;
      each(first + k, std::string_view(buf).substr(static_cast<std::size_t>(k) * len, len));
    }
  }
  return true;
}

}  // namespace lum
