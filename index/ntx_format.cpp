#include "index/ntx_format.h"

#include <algorithm>

namespace lum {

namespace {

void put_text(std::uint8_t* dst, std::size_t width, const std::string& text) {
  std::size_t n = std::min(width, text.size());
  std::memcpy(dst, text.data(), n);
}

// Text of a zero-padded field: up to the first zero byte.
std::string get_text(const std::uint8_t* src, std::size_t width) {
  std::size_t n = 0;
  while (n < width && src[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(src), n);
}

bool fail(std::string* why, const char* text) {
  if (why != nullptr) *why = text;
  return false;
}

}  // namespace

void NtxHeader::set_geometry(int key_size_in, int key_dec_in) {
  key_size = static_cast<std::uint16_t>(key_size_in);
  key_dec = static_cast<std::uint16_t>(key_dec_in);
  item_size = static_cast<std::uint16_t>(key_size_in + 8);
  max_keys = static_cast<std::uint16_t>(ntx_max_keys(key_size_in));
  half_page = static_cast<std::uint16_t>(max_keys / 2);
}

void encode_ntx_short_header(const NtxHeader& h, std::uint8_t* first12) {
  std::uint16_t sig = h.signature;
  if (!h.for_expr.empty()) sig |= kNtxForFlag;
  put_le16(first12 + kNtxOffSignature, sig);
  put_le16(first12 + kNtxOffVersion, h.version);
  put_le32(first12 + kNtxOffRoot, h.root);
  put_le32(first12 + kNtxOffFree, h.free_head);
}

void encode_ntx_header(const NtxHeader& h, std::uint8_t* block) {
  std::memset(block, 0, kNtxBlockSize);
  encode_ntx_short_header(h, block);
  put_le16(block + kNtxOffItemSize, h.item_size);
  put_le16(block + kNtxOffKeySize, h.key_size);
  put_le16(block + kNtxOffKeyDec, h.key_dec);
  put_le16(block + kNtxOffMaxKeys, h.max_keys);
  put_le16(block + kNtxOffHalfPage, h.half_page);
  put_text(block + kNtxOffKeyExpr, kNtxExprSize, h.key_expr);
  block[kNtxOffUnique] = h.unique ? 1 : 0;
  block[kNtxOffDescending] = h.descending ? 1 : 0;
  put_text(block + kNtxOffForExpr, kNtxExprSize, h.for_expr);
  put_text(block + kNtxOffOrderName, kNtxOrderNameMax, h.order_name);
  block[kNtxOffCustom] = h.custom ? 1 : 0;
}

bool decode_ntx_header(const std::uint8_t* block, NtxHeader& h, std::string* why) {
  std::uint16_t sig = get_le16(block + kNtxOffSignature);
  if ((sig & kNtxRejectMask) != 0) return fail(why, "signature has an unsupported layout bit");
  if ((sig & kNtxSignature) != kNtxSignature && sig != 0x0003) {
    return fail(why, "signature lacks the index bits");
  }
  if (block[kNtxOffKeyExpr] < 32) return fail(why, "key expression starts below a blank");

  h.signature = static_cast<std::uint16_t>(sig & ~kNtxForFlag);
  h.version = get_le16(block + kNtxOffVersion);
  h.root = get_le32(block + kNtxOffRoot);
  h.free_head = get_le32(block + kNtxOffFree);
  h.item_size = get_le16(block + kNtxOffItemSize);
  h.key_size = get_le16(block + kNtxOffKeySize);
  h.key_dec = get_le16(block + kNtxOffKeyDec);
  h.max_keys = get_le16(block + kNtxOffMaxKeys);
  h.half_page = get_le16(block + kNtxOffHalfPage);
  h.key_expr = get_text(block + kNtxOffKeyExpr, kNtxExprSize);
  h.unique = block[kNtxOffUnique] != 0;
  h.descending = block[kNtxOffDescending] != 0;
  h.for_expr = get_text(block + kNtxOffForExpr, kNtxExprSize);
  h.order_name = get_text(block + kNtxOffOrderName, kNtxOrderNameMax);
  h.custom = block[kNtxOffCustom] != 0;

  // The page geometry is used for every later read; a bad one would send slot offsets
  // outside the page.
  if (h.key_size < 1 || h.key_size > kNtxMaxKeySize) return fail(why, "key size out of range");
  if (h.item_size != h.key_size + 8) return fail(why, "item size is not key size + 8");
  std::size_t m = h.max_keys;
  if (m < 1 || 2 * m + 4 + (m + 1) * h.item_size > kNtxBlockSize) {
    return fail(why, "maximum keys per page do not fit a page");
  }
  if (h.root % kNtxBlockSize != 0 || h.free_head % kNtxBlockSize != 0) {
    return fail(why, "page address not on a block boundary");
  }
  return true;
}

void NtxPageView::init_fresh() {
  std::memset(p_, 0, kNtxBlockSize);
  int base = 2 * m_ + 4;
  for (int i = 0; i <= m_; ++i) set_slot(i, base + i * (k_ + 8));
}

bool NtxPageView::check() const {
  if (count() > m_) return false;
  int lo = 2 * m_ + 4;
  int hi = static_cast<int>(kNtxBlockSize) - (k_ + 8);
  for (int i = 0; i <= m_; ++i) {
    int off = slot(i);
    if (off < lo || off > hi) return false;
  }
  return true;
}

void NtxPageView::insert_slot(int i) {
  int n = count();
  int spare = slot(n + 1);
  for (int j = n + 1; j > i; --j) set_slot(j, slot(j - 1));
  set_slot(i, spare);
  set_count(n + 1);
}

void NtxPageView::remove_slot(int i) {
  int n = count();
  int freed = slot(i);
  for (int j = i; j < n; ++j) set_slot(j, slot(j + 1));
  set_slot(n, freed);
  set_count(n - 1);
}

void NtxPageView::clear_rightmost_payload() {
  std::uint8_t* it = item(count());
  std::memset(it + kNtxItemRecord, 0, static_cast<std::size_t>(4 + k_));
}

}  // namespace lum
