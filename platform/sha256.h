// SHA-256 of byte streams, for the undo snapshot: each saved file's digest goes into the
// manifest, and a file put back is read again and checked against it. Uses the
// processor's SHA instructions where it has them, the portable rounds otherwise; both
// give the same digest.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lum {

class Sha256 {
 public:
  Sha256();
  // Adds bytes to the message.
  void update(const void* data, std::size_t n);
  void update(std::string_view s) { update(s.data(), s.size()); }
  // The digest of everything added, as 64 lower-case hexadecimal digits. The object is
  // then spent: make a new one for the next message.
  std::string hex_digest();

  // The digest of one whole message.
  static std::string of(std::string_view s) {
    Sha256 h;
    h.update(s);
    return h.hex_digest();
  }
  // Tests: the portable rounds even where the processor has SHA instructions.
  static void force_portable(bool on);

 private:
  void blocks(const std::uint8_t* p, std::size_t n);

  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t length_ = 0;  // bytes added
};

}  // namespace lum
