#include "table/memo_file.h"

#include <algorithm>
#include <cstring>

namespace lum {

namespace {

constexpr std::size_t kMemoHeader = 512;
constexpr std::size_t kFlexHeader = 1024;

bool has_at(std::span<const std::uint8_t> bytes, std::size_t at, std::string_view text) {
  if (bytes.size() < at + text.size()) return false;
  return std::memcmp(bytes.data() + at, text.data(), text.size()) == 0;
}

}  // namespace

std::string memo_extension(dbf::MemoKind kind, std::string_view fpt_override) {
  switch (kind) {
    case dbf::MemoKind::Dbt:
      return ".dbt";
    case dbf::MemoKind::Fpt:
      return fpt_override.empty() ? ".fpt" : std::string(fpt_override);
    case dbf::MemoKind::Smt:
      return ".smt";
    case dbf::MemoKind::None:
      break;
  }
  return {};
}

MemoHeader parse_memo_header(dbf::MemoKind kind, std::span<const std::uint8_t> bytes) {
  MemoHeader h;
  if (kind == dbf::MemoKind::Dbt) {
    h.block_size = 512;
    return h;
  }
  if (bytes.size() < kMemoHeader) return h;
  std::uint32_t bs = kind == dbf::MemoKind::Fpt ? dbf::get_be32(bytes.data() + 4)
                                                : dbf::get_le32(bytes.data() + 4);
  if (bs > 65536 && (bs & 0xFFFF) != 0) bs &= 0xFFFF;
  h.block_size = bs;
  if (has_at(bytes, 8, "SIxMemo")) {
    h.variant = MemoVariant::SixMemo;
  } else if (has_at(bytes, 8, "Made by CLIP")) {
    h.variant = MemoVariant::Clip;
  } else if (has_at(bytes, 512, "FlexFile3")) {
    h.variant = MemoVariant::FlexFile;
  }
  return h;
}

std::vector<std::uint8_t> empty_memo_file(dbf::MemoKind kind, const MemoHeader& h) {
  std::size_t header = h.variant == MemoVariant::FlexFile ? kFlexHeader : kMemoHeader;
  std::uint32_t next = static_cast<std::uint32_t>((header + h.block_size - 1) / h.block_size);
  std::vector<std::uint8_t> out(static_cast<std::size_t>(next) * h.block_size, 0);
  if (kind == dbf::MemoKind::Fpt) {
    dbf::put_be32(out.data(), next);
    dbf::put_be32(out.data() + 4, h.block_size);
  } else {
    dbf::put_le32(out.data(), next);
    dbf::put_le32(out.data() + 4, h.block_size);
  }
  std::string_view sig = h.variant == MemoVariant::SixMemo ? "SIxMemo" : "Tessera";
  std::memcpy(out.data() + 8, sig.data(), sig.size());
  if (h.variant == MemoVariant::FlexFile) {
    std::memcpy(out.data() + 512, "FlexFile3", 9);
    out[512 + 9] = 0x03;
  }
  return out;
}

std::uint32_t memo_block_of(std::span<const std::uint8_t> ref) {
  if (ref.size() == 4) return dbf::get_le32(ref.data());
  std::uint64_t n = 0;
  for (std::uint8_t c : ref) {
    if (c >= '0' && c <= '9') {
      n = n * 10 + (c - '0');
      if (n > 0xFFFFFFFFu) return 0;
    }
  }
  return static_cast<std::uint32_t>(n);
}

}  // namespace lum
