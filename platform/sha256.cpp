#include "platform/sha256.h"

#include <atomic>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define LUM_SHA256_X86 1
#endif

namespace lum {

namespace {

constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
    0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
    0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
    0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
    0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
    0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
    0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
    0xc67178f2};

constexpr std::uint32_t rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void portable_blocks(std::uint32_t* s, const std::uint8_t* p, std::size_t n) {
  for (; n > 0; --n, p += 64) {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
      w[i] = static_cast<std::uint32_t>(p[4 * i]) << 24 | static_cast<std::uint32_t>(p[4 * i + 1]) << 16 |
             static_cast<std::uint32_t>(p[4 * i + 2]) << 8 | p[4 * i + 3];
    }
    for (int i = 16; i < 64; ++i) {
      const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = s[0], b = s[1], c = s[2], d = s[3], e = s[4], f = s[5], g = s[6], h = s[7];
    for (int i = 0; i < 64; ++i) {
      const std::uint32_t t1 =
          h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
      const std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    s[0] += a;
    s[1] += b;
    s[2] += c;
    s[3] += d;
    s[4] += e;
    s[5] += f;
    s[6] += g;
    s[7] += h;
  }
}

#ifdef LUM_SHA256_X86
// The rounds with the processor's SHA extensions: four rounds per sha256rnds2 pair,
// the message schedule with sha256msg1/msg2.
__attribute__((target("sha,sse4.1"))) void sha_ni_blocks(std::uint32_t* s, const std::uint8_t* p,
                                                        std::size_t n) {
  const __m128i kShuffle = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));       // DCBA
  __m128i state1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4));  // HGFE
  tmp = _mm_shuffle_epi32(tmp, 0xB1);                                          // CDAB
  state1 = _mm_shuffle_epi32(state1, 0x1B);                                    // EFGH
  __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);                            // ABEF
  state1 = _mm_blend_epi16(state1, tmp, 0xF0);                                 // CDGH

  for (; n > 0; --n, p += 64) {
    const __m128i abef_save = state0;
    const __m128i cdgh_save = state1;
    __m128i msg[4];
    for (int i = 0; i < 4; ++i) {
      msg[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i)),
                                kShuffle);
    }
    for (int r = 0; r < 16; ++r) {
      __m128i& m = msg[r & 3];
      if (r >= 4) {
        // w[4r..4r+3] from the four words before: msg1 on the one three back, then the
        // add of the one a word later, then msg2 with the last one.
        __m128i t = _mm_alignr_epi8(msg[(r - 1) & 3], msg[(r - 2) & 3], 4);
        m = _mm_sha256msg1_epu32(m, msg[(r - 3) & 3]);
        m = _mm_add_epi32(m, t);
        m = _mm_sha256msg2_epu32(m, msg[(r - 1) & 3]);
      }
      __m128i k = _mm_add_epi32(
          m, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRound + 4 * r)));
      state1 = _mm_sha256rnds2_epu32(state1, state0, k);
      k = _mm_shuffle_epi32(k, 0x0E);
      state0 = _mm_sha256rnds2_epu32(state0, state1, k);
    }
    state0 = _mm_add_epi32(state0, abef_save);
    state1 = _mm_add_epi32(state1, cdgh_save);
  }

  tmp = _mm_shuffle_epi32(state0, 0x1B);     // FEBA
  state1 = _mm_shuffle_epi32(state1, 0xB1);  // DCHG
  state0 = _mm_blend_epi16(tmp, state1, 0xF0);  // DCBA
  state1 = _mm_alignr_epi8(state1, tmp, 8);     // ABEF -> HGFE
  _mm_storeu_si128(reinterpret_cast<__m128i*>(s), state0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(s + 4), state1);
}

bool has_sha_instructions() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("sha") && __builtin_cpu_supports("sse4.1");
  }();
  return has;
}
#endif

std::atomic<bool> g_portable{false};

}  // namespace

Sha256::Sha256()
    : state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab,
             0x5be0cd19} {}

void Sha256::force_portable(bool on) { g_portable.store(on); }

void Sha256::blocks(const std::uint8_t* p, std::size_t n) {
#ifdef LUM_SHA256_X86
  if (!g_portable.load(std::memory_order_relaxed) && has_sha_instructions()) {
    sha_ni_blocks(state_.data(), p, n);
    return;
  }
#endif
  portable_blocks(state_.data(), p, n);
}

void Sha256::update(const void* data, std::size_t n) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  length_ += n;
  if (buffered_ > 0) {
    const std::size_t take = std::min(n, buffer_.size() - buffered_);
    std::memcpy(buffer_.data() + buffered_, p, take);
    buffered_ += take;
    p += take;
    n -= take;
    if (buffered_ < buffer_.size()) return;
    blocks(buffer_.data(), 1);
    buffered_ = 0;
  }
  if (n >= 64) {
    blocks(p, n / 64);
    p += n / 64 * 64;
    n %= 64;
  }
  std::memcpy(buffer_.data(), p, n);
  buffered_ = n;
}

std::string Sha256::hex_digest() {
  const std::uint64_t bits = length_ * 8;
  std::uint8_t pad[72] = {0x80};
  const std::size_t zeros = (buffered_ < 56 ? 56 : 120) - buffered_;
  for (int i = 0; i < 8; ++i) pad[zeros + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
  update(pad, zeros + 8);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (std::uint32_t w : state_) {
    for (int shift = 28; shift >= 0; shift -= 4) out += kHex[(w >> shift) & 0xF];
  }
  return out;
}

}  // namespace lum
