// The generator's random source: SplitMix64, the same numbers on every platform, seeded
// per line from (seed, data set, line number) so that any line can be made alone.
// Used by the generator's own files only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lum::sample {

class Rng {
 public:
  explicit Rng(std::uint64_t seed) : s_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n); n > 0. The slight modulo bias does not matter for test data.
  std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(next() % n); }
  std::uint64_t below64(std::uint64_t n) { return next() % n; }
  bool one_in(std::uint32_t n) { return below(n) == 0; }
  template <typename T, std::size_t N>
  const T& pick(const T (&items)[N]) {
    return items[below(static_cast<std::uint32_t>(N))];
  }

 private:
  std::uint64_t s_;
};

// The seed of line `i` of data set `set` (100 and up: the records of a target table).
inline std::uint64_t line_seed(std::uint64_t seed, int set, std::size_t i) {
  Rng r(seed * 0x100000001B3ull + static_cast<std::uint64_t>(set) * 0x9E3779B97F4A7C15ull);
  return r.next() ^ (static_cast<std::uint64_t>(i) * 0xD6E8FEB86659FD93ull);
}

}  // namespace lum::sample
