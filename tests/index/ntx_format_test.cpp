// The NTX header and page codec: page geometry, the acceptance test of a header, and the
// slot table that moves entries instead of items.
#include "index/ntx_format.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace lum {
namespace {

TEST(NtxFormat, MaximumKeysPerPage) {
  struct Case {
    int k, m;
  } cases[] = {{5, 66}, {8, 54}, {10, 50}, {256, 2}, {1, 90}, {12, 44}, {100, 8}, {40, 18}};
  for (const Case& c : cases) EXPECT_EQ(c.m, ntx_max_keys(c.k)) << "K = " << c.k;
  // Every page of every key size fits its table and items into 1024 bytes.
  for (int k = 1; k <= 256; ++k) {
    int m = ntx_max_keys(k);
    EXPECT_LE(2 * m + 4 + (m + 1) * (k + 8), 1024) << "K = " << k;
  }
}

NtxHeader sample_header() {
  NtxHeader h;
  h.set_geometry(10, 0);
  h.root = 3072;
  h.free_head = 0;
  h.version = 7;
  h.key_expr = "coditem";
  return h;
}

TEST(NtxFormat, HeaderBytes) {
  NtxHeader h = sample_header();
  h.unique = true;
  h.order_name = "CODITEM";
  std::array<std::uint8_t, 1024> b{};
  b.fill(0xEE);
  encode_ntx_header(h, b.data());
  const std::uint8_t head[] = {0x06, 0x00, 0x07, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00,
                               0x00, 18,   0,    10,   0,    0,    0,    50,   0,    25,   0};
  for (std::size_t i = 0; i < sizeof head; ++i) EXPECT_EQ(head[i], b[i]) << "offset " << i;
  EXPECT_EQ(std::string("coditem"), std::string(reinterpret_cast<char*>(&b[22]), 7));
  EXPECT_EQ(0, b[29]);
  EXPECT_EQ(1, b[278]);
  EXPECT_EQ(0, b[280]);
  EXPECT_EQ(0, b[282]);
  EXPECT_EQ(std::string("CODITEM"), std::string(reinterpret_cast<char*>(&b[538]), 7));
  EXPECT_EQ(0, b[545]);
  EXPECT_EQ(0, b[550]);
  for (std::size_t i = 551; i < 1024; ++i) ASSERT_EQ(0, b[i]) << "offset " << i;

  NtxHeader back;
  ASSERT_TRUE(decode_ntx_header(b.data(), back));
  EXPECT_EQ(3072u, back.root);
  EXPECT_EQ(7, back.version);
  EXPECT_EQ("coditem", back.key_expr);
  EXPECT_EQ("CODITEM", back.order_name);
  EXPECT_TRUE(back.unique);
  EXPECT_EQ(50, back.max_keys);
}

TEST(NtxFormat, LongExpressionIsCutAndForFlagSet) {
  NtxHeader h = sample_header();
  h.key_expr = std::string(300, 'x');
  h.for_expr = "DELETED()";
  std::array<std::uint8_t, 1024> b{};
  encode_ntx_header(h, b.data());
  EXPECT_EQ(0x07, b[0]);  // FOR condition flag
  NtxHeader back;
  ASSERT_TRUE(decode_ntx_header(b.data(), back));
  EXPECT_EQ(std::string(256, 'x'), back.key_expr);
  EXPECT_EQ("DELETED()", back.for_expr);
}

TEST(NtxFormat, HeaderAcceptance) {
  struct Case {
    const char* what;
    std::size_t at;
    std::uint8_t value;
    bool accepted;
  } cases[] = {
      {"plain", 0, 0x06, true},
      {"FOR flag", 0, 0x07, true},
      {"word 0x0003", 0, 0x03, true},
      {"only 0x0002", 0, 0x02, false},
      {"only 0x0004", 0, 0x04, false},
      {"partial index bit", 0, 0x0E, true},
      {"bit 0x0800", 1, 0x08, false},
      {"bit 0x1000", 1, 0x10, false},
      {"bit 0x4000", 1, 0x40, false},
      {"multi-order bit 0x8000", 1, 0x80, true},
      {"expression starts with 0x1F", 22, 0x1F, false},
      {"expression starts with a blank", 22, ' ', true},
      {"key size 0", 14, 0, false},
      {"item size not K + 8", 12, 17, false},
      {"too many keys for a page", 18, 60, false},
      {"root off the block grid", 4, 0x10, false},
  };
  for (const Case& c : cases) {
    std::array<std::uint8_t, 1024> b{};
    encode_ntx_header(sample_header(), b.data());
    b[c.at] = c.value;
    NtxHeader h;
    std::string why;
    EXPECT_EQ(c.accepted, decode_ntx_header(b.data(), h, &why)) << c.what << ": " << why;
    if (!c.accepted) {
      EXPECT_FALSE(why.empty()) << c.what;
    }
  }
}

TEST(NtxFormat, FreshPageSlotTable) {
  std::array<std::uint8_t, 1024> b{};
  b.fill(0xAB);
  NtxPageView v(b.data(), 50, 10);
  v.init_fresh();
  EXPECT_EQ(0, v.count());
  for (int i = 0; i <= 50; ++i) EXPECT_EQ(104 + i * 18, v.slot(i)) << i;
  EXPECT_EQ(0u, v.child(0));
  EXPECT_TRUE(v.check());
}

TEST(NtxFormat, SlotTableMovesEntriesNotItems) {
  std::array<std::uint8_t, 1024> b{};
  NtxPageView v(b.data(), 4, 2);
  v.init_fresh();  // items at 12, 22, 32, 42, 52
  const std::uint8_t ka[] = {'a', 'a'}, kb[] = {'b', 'b'}, kc[] = {'c', 'c'};
  v.insert_slot(0);
  v.set_entry(0, 0, 1, kb);
  v.insert_slot(0);
  v.set_entry(0, 0, 2, ka);
  v.insert_slot(2);
  v.set_entry(2, 0, 3, kc);
  ASSERT_EQ(3, v.count());
  // Each insert took the spare item after the used part; the rightmost entry (item 12,
  // the fresh page's entry 0) moved right with the entries after the new slot.
  const int after_inserts[] = {32, 22, 42, 12, 52};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(after_inserts[i], v.slot(i)) << i;
  v.remove_slot(0);  // "a" leaves: its item is rotated to the end of the used part
  ASSERT_EQ(2, v.count());
  const int after_remove[] = {22, 42, 12, 32, 52};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(after_remove[i], v.slot(i)) << i;
  EXPECT_EQ(1u, v.record(0));
  EXPECT_EQ(3u, v.record(1));
}

TEST(NtxFormat, PageCheckFindsImpossibleBytes) {
  std::array<std::uint8_t, 1024> b{};
  NtxPageView v(b.data(), 50, 10);
  v.init_fresh();
  v.set_count(51);
  EXPECT_FALSE(v.check()) << "count above M";
  v.init_fresh();
  put_le16(b.data() + 2 + 2 * 7, 1020);
  EXPECT_FALSE(v.check()) << "item runs past the page";
  v.init_fresh();
  put_le16(b.data() + 2 + 2 * 50, 10);
  EXPECT_FALSE(v.check()) << "item inside the slot table";
}

}  // namespace
}  // namespace lum
