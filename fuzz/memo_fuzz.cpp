// Fuzz target for memo headers: the first byte picks the memo kind (DBT, FPT or SMT)
// and the memo reference of the table's second record, the rest is the memo file. The
// table is opened with it, both memo fields are read, and the table is zapped, as the
// conversions empty a target table. The only errors allowed are "Corruption detected"
// (a block size of 0 or above 64 KiB, a reference beyond the file) and, for the SMT
// kind whose values this engine does not read, "Operation not supported". After a zap the
// memo file is the empty file of its kind: its first free block stands just after the
// header, the block size is the one it had, and the file ends at that block.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "index/index_commands.h"
#include "table/dbcmd.h"
#include "table/dbf_format.h"
#include "table/memo_file.h"
#include "table/workareas.h"
#include "tools/sample/dbf_builder.h"

namespace {

using namespace lum;

struct MemoChoice {
  std::uint8_t version;
  sample::MemoFile file;
  dbf::MemoKind memo;
  const char* name;
};
constexpr MemoChoice kKinds[] = {
    {0x83, sample::MemoFile::Dbt, dbf::MemoKind::Dbt, "t.dbt"},
    {0xF5, sample::MemoFile::Fpt, dbf::MemoKind::Fpt, "t.fpt"},
    {0xE5, sample::MemoFile::Smt, dbf::MemoKind::Smt, "t.smt"},
};

void check_emptied(const MemoChoice& k, const std::string& before) {
  const std::string after = fuzz::read_file(fuzz::scratch(k.name));
  auto bytes = [](const std::string& s) {
    return std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
  };
  const MemoHeader old =
      parse_memo_header(k.memo, bytes(before).first(std::min<std::size_t>(before.size(), 1024)));
  const MemoHeader now =
      parse_memo_header(k.memo, bytes(after).first(std::min<std::size_t>(after.size(), 1024)));
  fuzz::check(now.block_size == old.block_size, "the zap changed the block size");
  const std::uint8_t* p = bytes(after).data();
  fuzz::check(after.size() >= 512, "the emptied memo file is shorter than its header");
  const std::uint32_t next = k.memo == dbf::MemoKind::Fpt ? dbf::get_be32(p) : dbf::get_le32(p);
  const std::size_t header = now.variant == MemoVariant::FlexFile ? 1024 : 512;
  fuzz::check(next == (header + old.block_size - 1) / old.block_size,
              "the first free block is not the one after the header");
  fuzz::check(after.size() == std::uint64_t{next} * old.block_size,
              "the emptied memo file does not end at its first free block");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  const std::uint8_t choice = in.byte();
  const MemoChoice& k = kKinds[choice % 3];
  const std::string memo(in.rest());
  sample::DbfLayout layout;
  layout.version = k.version;
  layout.fields = {{"NAME", 'C', 8}, {"NOTE", 'M', 10}};
  const std::string ref = std::to_string(choice / 3 % 9);  // block 0 (none) to 8
  sample::write_dbf(fuzz::scratch("t.dbf"), layout,
                    {{{"ONE", "         1"}}, {{"TWO", std::string(10 - ref.size(), ' ') + ref}}});
  fuzz::write_file(fuzz::scratch(k.name), memo);  // replaces the memo file the builder wrote
  bool zapped = false;
  {
    fuzz::Run run({{kErrCorruption, 1012}, {kErrUnsupported, 1020}});
    register_ntx_driver();
    try {
      if (DBUSEAREA(true, {}, Value(fuzz::scratch("t.dbf")))) {
        for (DBGOTOP(); !DBEOF(); DBSKIP(1)) {
          Value note;
          if (WorkAreas::get().current()->get_field(1, note)) {
            fuzz::check(note.is_string(), "a memo field reads as no text");
          }
        }
        zapped = cmd::DBZAP();
      }
    } catch (const fuzz::Break&) {
    }
    try {
      DBCLOSEALL();
    } catch (const fuzz::Break&) {
    }
  }
  if (zapped) check_emptied(k, memo);
  return 0;
}
