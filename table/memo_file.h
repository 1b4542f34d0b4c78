// Memo file headers: the block size and variant found at open, the empty file that a
// zap re-creates, and the reading of one memo value. The record holds only a
// reference (block number); the text lives in blocks of the memo file.
//
// Memo header (512 bytes; 1024 for the FlexFile variant):
//   off width meaning
//    0   4   next free block (big-endian for FPT, little-endian for DBT and SMT)
//    4   4   block size (FPT big-endian, SMT little-endian; DBT written as 512, not read)
//    8   8   signature, NUL-padded: "SIxMemo" for that variant, else "Tessera"
//   16 496   zero
//  512  10   FlexFile variant only: "FlexFile3" and the byte 0x03
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "table/dbf_format.h"

namespace lum {

enum class MemoVariant : std::uint8_t { Plain, SixMemo, Clip, FlexFile };

struct MemoHeader {
  std::uint32_t block_size = 0;  // 0 means the header is corrupt
  MemoVariant variant = MemoVariant::Plain;
};

// The memo file's extension for a kind (".dbt", ".fpt", ".smt"); "" for none. For FPT a
// non-empty `fpt_override` (the memo-file-extension setting) replaces ".fpt".
std::string memo_extension(dbf::MemoKind kind, std::string_view fpt_override = {});

// Reads the header from the first bytes of the file (up to 1024). DBT always has 512;
// FPT and SMT take bytes 4..7 when at least 512 bytes are given, else 0. A block size
// above 65536 with low 16 bits not all zero is cut to its low 16 bits.
MemoHeader parse_memo_header(dbf::MemoKind kind, std::span<const std::uint8_t> bytes);

// The whole content of an emptied memo file: the header (512 bytes, 1024 for
// FlexFile) with next free block ceil(header / block size), zero-filled up to that
// block. REQUIRES: block_size > 0.
std::vector<std::uint8_t> empty_memo_file(dbf::MemoKind kind, const MemoHeader& h);

// The block number in a memo reference field: blanks or zeros mean no memo (0).
// Text references are digits; 4-byte references are little-endian binary.
std::uint32_t memo_block_of(std::span<const std::uint8_t> ref);

}  // namespace lum
