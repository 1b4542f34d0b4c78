#include "table/dbf_format.h"
#include "platform/text.h"

#include <algorithm>
#include <cstring>

namespace lum::dbf {

namespace {

bool name_is(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ascii_upper(a[i]) != ascii_upper(b[i])) return false;
  }
  return true;
}

// The rules of the binary type letters (numbers, times, stamps, system fields), for
// apply_type. False when the letter or its length is not accepted.
bool apply_binary_type(std::uint8_t b16, std::uint8_t b17, Field& f) {
  f.binary = true;
  switch (f.type) {
    case 'I':
      f.len = (b16 == 1 || b16 == 2 || b16 == 3 || b16 == 4 || b16 == 8) ? b16 : 4;
      f.dec = b17;
      return true;
    case '2':
    case '4':
      f.len = static_cast<std::uint32_t>(f.type - '0');
      return true;
    case 'B':
    case '8':
    case 'O':
      if (b16 != 8) return false;
      f.len = 8;
      f.dec = b17;
      return true;
    case 'Y':
      f.len = ((b16 >= 1 && b16 <= 4) || b16 == 8) ? b16 : 8;
      f.dec = b17;
      return true;
    case 'T':
      if (b16 != 4 && b16 != 8) return false;
      f.len = b16;
      return true;
    case '@':
    case '=':
    case '^':
      if (b16 != 8) return false;
      f.len = 8;
      return true;
    case '+':
      if (b16 != 4) return false;
      f.len = 4;
      f.autoinc = true;
      return true;
    case 'V':
    case 'Q':
      f.len = b16;
      return true;
    case '0':
      if (!name_is(f.name, "_NullFlags") && !name_is(f.name, "_DBASELOCK")) return false;
      f.len = b16;
      f.flags |= kFieldHidden;
      return true;
    default:
      return false;
  }
}

// Applies the type-letter rules to one descriptor. False when the letter or its length
// is not accepted.
bool apply_type(const std::uint8_t* d, const Header& h, Field& f) {
  std::uint8_t b16 = d[16], b17 = d[17];
  f.type = static_cast<char>(d[11]);
  f.dec = 0;
  switch (f.type) {
    case 'C':
      f.len = static_cast<std::uint32_t>(b16 | (b17 << 8));
      return true;
    case 'N':
    case 'F':
      f.len = b16;
      f.dec = b17;
      return true;
    case 'D':
      f.len = (b16 == 3 || b16 == 4) ? b16 : 8;
      f.binary = (f.len != 8);
      return true;
    case 'L':
      f.len = 1;
      return true;
    case 'B':
      // In a level-four table a B field of 10 bytes is a binary memo reference, stored
      // as text like M; otherwise a binary double.
      if (h.info.kind != TableKind::LevelFour || b16 != 10) return apply_binary_type(b16, b17, f);
      [[fallthrough]];
    case 'M':
    case 'W':
    case 'P':
    case 'G':
      f.len = b16;
      f.memo_ref = true;
      f.binary = (f.len != 10);
      return true;
    default:
      return apply_binary_type(b16, b17, f);
  }
}

}  // namespace

VersionInfo classify_version(std::uint8_t version, std::uint8_t table_flags) {
  VersionInfo v;
  v.known = true;
  switch (version) {
    case 0x02:
    case 0x03:
      break;
    case 0x04:
    case 0x7B:
    case 0x8B:
      v.kind = TableKind::LevelFour;
      v.memo = MemoKind::Dbt;
      v.has_memo = true;
      break;
    case 0x06:
      v.encrypted = true;
      break;
    case 0x31:
    case 0x32:
      v.autoinc = true;
      [[fallthrough]];
    case 0x30:
      v.kind = TableKind::Extended;
      v.memo = (table_flags & 0x02) != 0 ? MemoKind::Fpt : MemoKind::None;
      break;
    case 0x83:
      v.memo = MemoKind::Dbt;
      break;
    case 0x86:
      v.memo = MemoKind::Dbt;
      v.encrypted = true;
      break;
    case 0xE5:
      v.memo = MemoKind::Smt;
      break;
    case 0xE6:
      v.memo = MemoKind::Smt;
      v.encrypted = true;
      break;
    case 0xF5:
      v.memo = MemoKind::Fpt;
      break;
    case 0xF6:
      v.memo = MemoKind::Fpt;
      v.encrypted = true;
      break;
    default:
      v.known = false;
      break;
  }
  return v;
}

std::string_view status_text(Status s) {
  switch (s) {
    case Status::Ok:
      return "ok";
    case Status::ShortHeader:
      return "header shorter than 32 bytes";
    case Status::BadVersion:
      return "unknown version byte";
    case Status::ShortDescriptors:
      return "descriptor block cut short";
    case Status::BadDescriptor:
      return "descriptor with a bad type or length";
    case Status::NoFields:
      return "no field descriptors";
    case Status::RecordTooLong:
      return "record length above 65535";
    case Status::ShortFile:
      return "file shorter than its header length";
  }
  return "unknown";
}

Status decode_header(std::span<const std::uint8_t> bytes, Header& out) {
  if (bytes.size() < kHeaderSize) return Status::ShortHeader;
  std::copy_n(bytes.begin(), kHeaderSize, out.raw.begin());
  out.version = out.raw[0];
  out.info = classify_version(out.version, out.raw[28]);
  if (!out.info.known) return Status::BadVersion;
  out.header_len = get_le16(&out.raw[8]);
  out.structural_index = (out.raw[28] & 0x01) != 0;
  out.has_memo = out.info.has_memo;
  out.has_autoinc = out.info.autoinc;
  out.fields.clear();
  out.record_len = 1;
  return Status::Ok;
}

std::size_t descriptor_block_size(const Header& h) {
  if (h.header_len < kHeaderSize + kDescriptorSize) return 0;
  return (h.header_len - kHeaderSize) / kDescriptorSize * kDescriptorSize;
}

Status decode_descriptors(std::span<const std::uint8_t> block, Header& out) {
  out.fields.clear();
  std::uint64_t record_len = 1;
  for (std::size_t at = 0; at + kDescriptorSize <= block.size(); at += kDescriptorSize) {
    const std::uint8_t* d = block.data() + at;
    if (d[0] == kTerminator) break;
    Field f;
    char name[11];
    std::memcpy(name, d, 10);
    name[10] = '\0';
    f.name.assign(name, ::strnlen(name, 10));
    for (char& c : f.name) c = ascii_upper(c);
    while (!f.name.empty() && f.name.back() == ' ') f.name.pop_back();
    if (out.info.kind == TableKind::Extended) f.flags = d[18];
    if (!apply_type(d, out, f)) return Status::BadDescriptor;
    if (out.info.kind == TableKind::Extended && (f.flags & kFieldAutoinc) != 0) f.autoinc = true;
    if (f.autoinc) {
      f.autoinc_next = get_le32(d + 19);
      f.autoinc_step = d[23];
      out.has_autoinc = true;
    }
    if (f.memo_ref || (f.type == 'V' && out.info.kind != TableKind::Extended && f.len > 5)) {
      out.has_memo = true;
    }
    f.offset = static_cast<std::uint32_t>(record_len);
    record_len += f.len;
    out.fields.push_back(std::move(f));
  }
  if (out.fields.empty()) return Status::NoFields;
  if (record_len > kMaxRecordLength) return Status::RecordTooLong;
  out.record_len = static_cast<std::uint32_t>(record_len);
  return Status::Ok;
}

Status record_count_for_size(const Header& h, std::uint64_t file_size, std::uint32_t& count,
                             int last_byte) {
  count = 0;
  if (file_size < h.header_len) return Status::ShortFile;
  std::uint64_t n = (file_size - h.header_len) / h.record_len;
  if (h.record_len == 1 && n > 0 && last_byte == kEofByte) --n;
  count = n > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(n);
  return Status::Ok;
}

Status decode_table(std::span<const std::uint8_t> file, Header& out, std::uint32_t& count) {
  count = 0;
  Status s = decode_header(file, out);
  if (s != Status::Ok) return s;
  std::size_t block = descriptor_block_size(out);
  if (file.size() < kHeaderSize + block) return Status::ShortDescriptors;
  s = decode_descriptors(file.subspan(kHeaderSize, block), out);
  if (s != Status::Ok) return s;
  return record_count_for_size(out, file.size(), count, file.empty() ? -1 : file.back());
}

int codepage_byte(std::string_view cp) {
  struct Entry {
    std::string_view name;
    int byte;
  };
  static constexpr Entry kTable[] = {
      {"cp437", 0x01},  {"cp850", 0x02},  {"cp1252", 0x03},    {"cp852", 0x64},  {"cp866", 0x65},
      {"cp865", 0x66},  {"cp861", 0x67},  {"kamenicky", 0x68}, {"plmaz", 0x69},  {"cp737", 0x6A},
      {"cp857", 0x6B},  {"cp874", 0x7C},  {"cp1255", 0x7D},    {"cp1256", 0x7E}, {"cp1250", 0xC8},
      {"cp1251", 0xC9}, {"cp1254", 0xCA}, {"cp1253", 0xCB},
  };
  for (const Entry& e : kTable) {
    if (name_is(e.name, cp)) return e.byte;
  }
  return -1;
}

std::array<std::uint8_t, kHeaderSize> encode_header(const Header& h, const HeaderWrite& w) {
  std::array<std::uint8_t, kHeaderSize> out = h.raw;
  std::uint8_t flags = h.structural_index ? 0x01 : 0x00;
  std::uint8_t version = 0x03;
  switch (h.info.kind) {
    case TableKind::Standard:
      if (h.has_memo) {
        switch (h.info.memo) {
          case MemoKind::Dbt:
            version = 0x83;
            break;
          case MemoKind::Fpt:
            version = 0xF5;
            break;
          case MemoKind::Smt:
            version = 0xE5;
            break;
          case MemoKind::None:
            break;
        }
      }
      if (h.info.encrypted) version = static_cast<std::uint8_t>((version & 0xF0) | 0x06);
      break;
    case TableKind::LevelFour:
      version = h.has_memo ? 0x8B : 0x03;
      break;
    case TableKind::Extended: {
      version = h.has_autoinc ? 0x31 : 0x30;
      if (h.info.memo == MemoKind::Fpt) flags |= 0x02;
      int cp = codepage_byte(w.codepage);
      if (cp >= 0) out[29] = static_cast<std::uint8_t>(cp);
      break;
    }
  }
  out[0] = version;
  out[1] = static_cast<std::uint8_t>((w.year - 1900) & 0xFF);
  out[2] = static_cast<std::uint8_t>(w.month);
  out[3] = static_cast<std::uint8_t>(w.day);
  put_le32(&out[4], w.record_count);
  put_le16(&out[8], h.header_len);
  put_le16(&out[10], static_cast<std::uint16_t>(h.record_len));
  out[28] = flags;
  return out;
}

std::vector<std::uint8_t> blank_record(const Header& h) {
  std::vector<std::uint8_t> rec(h.record_len, ' ');
  for (const Field& f : h.fields) {
    if (f.binary) std::fill_n(rec.begin() + f.offset, f.len, std::uint8_t{0});
  }
  return rec;
}

std::array<std::uint8_t, kDescriptorSize> encode_descriptor(std::string_view name, char type,
                                                            std::uint32_t len, std::uint8_t dec,
                                                            std::uint8_t flags) {
  std::array<std::uint8_t, kDescriptorSize> d{};
  std::memcpy(d.data(), name.data(), std::min<std::size_t>(name.size(), 11));
  d[11] = static_cast<std::uint8_t>(type);
  if (type == 'C') {
    d[16] = static_cast<std::uint8_t>(len & 0xFF);
    d[17] = static_cast<std::uint8_t>((len >> 8) & 0xFF);
  } else {
    d[16] = static_cast<std::uint8_t>(len);
    d[17] = dec;
  }
  d[18] = flags;
  return d;
}

}  // namespace lum::dbf
