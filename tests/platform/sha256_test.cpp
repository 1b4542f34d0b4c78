// SHA-256 against the standard's test vectors, fed whole and in pieces of every
// length, with the processor's SHA instructions and with the portable rounds.
#include "platform/sha256.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace lum {
namespace {

struct Vector {
  std::string message;
  const char* digest;
};

std::vector<Vector> vectors() {
  return {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
}

TEST(Sha256, StandardVectorsInEveryPieceSizeOnBothPaths) {
  for (bool portable : {false, true}) {
    Sha256::force_portable(portable);
    for (const Vector& v : vectors()) {
      SCOPED_TRACE(std::string(portable ? "portable, " : "") + v.message.substr(0, 10));
      EXPECT_EQ(v.digest, Sha256::of(v.message));
      for (std::size_t piece : {1u, 3u, 63u, 64u, 65u, 1000u}) {
        if (v.message.size() > 100000 && piece < 63) continue;
        Sha256 h;
        for (std::size_t at = 0; at < v.message.size(); at += piece) {
          h.update(std::string_view(v.message).substr(at, piece));
        }
        EXPECT_EQ(v.digest, h.hex_digest()) << piece;
      }
    }
  }
  Sha256::force_portable(false);
}

TEST(Sha256, BothPathsAgreeOnRandomMessagesOfEveryLengthAroundABlock) {
  std::mt19937 rng(7);
  for (std::size_t n = 0; n < 300; ++n) {
    std::string m(n, '\0');
    for (char& c : m) c = static_cast<char>(rng());
    Sha256::force_portable(true);
    const std::string portable = Sha256::of(m);
    Sha256::force_portable(false);
    EXPECT_EQ(portable, Sha256::of(m)) << n;
  }
}

}  // namespace
}  // namespace lum
