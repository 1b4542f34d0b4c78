// Without libFuzzer (a compiler other than clang): runs the fuzz entry point over the
// files named on the command line, and over every file of a directory named there, so
// the target stays buildable and a corpus or a crash input can be replayed. With
// -runs=N it then runs N more inputs made from those by seeded mutations (byte flips,
// interesting values, inserted, erased, copied and spliced ranges, cuts), so that CI
// goes a little beyond the corpus with the same inputs every time.
//   <target> [-runs=N] [-seed=S] [-max_len=M] <file or directory>...
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes read_input(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), {});
}

void run(const Bytes& b) { LLVMFuzzerTestOneInput(b.data(), b.size()); }

class Mutator {
 public:
  Mutator(const std::vector<Bytes>& corpus, std::uint32_t seed, std::size_t max_len)
      : corpus_(corpus), rng_(seed), max_len_(max_len) {}

  Bytes next() {
    Bytes b = corpus_.empty() ? Bytes() : corpus_[below(corpus_.size())];
    for (std::size_t k = 1 + below(4); k > 0; --k) mutate(b);
    if (b.size() > max_len_) b.resize(max_len_);
    return b;
  }

 private:
  std::size_t below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(rng_() % n); }
  std::uint8_t any_byte() { return static_cast<std::uint8_t>(rng_()); }

  void mutate(Bytes& b) {
    static constexpr std::uint8_t kBytes[] = {0x00, 0x01, 0x0A, 0x0D, 0x1A, 0x20, 0x2A,
                                              0x30, 0x39, 0x7F, 0x80, 0xFE, 0xFF};
    static constexpr std::uint32_t kWords[] = {0,     1,     2,          8,         10,   255,
                                               256,   512,   1023,       1024,      1025, 2048,
                                               65535, 65536, 0x7FFFFFFF, 0xFFFFFFFF};
    const std::size_t at = below(b.size() + 1);
    switch (below(9)) {
      case 0:
        if (!b.empty()) b[at % b.size()] ^= static_cast<std::uint8_t>(1u << below(8));
        break;
      case 1:
        if (!b.empty()) b[at % b.size()] = any_byte();
        break;
      case 2:
        if (!b.empty()) b[at % b.size()] = kBytes[below(std::size(kBytes))];
        break;
      case 3: {
        const std::uint32_t w = kWords[below(std::size(kWords))];
        const std::size_t width = below(2) == 0 ? 2 : 4;
        for (std::size_t i = 0; i < width && at + i < b.size(); ++i) {
          b[at + i] = static_cast<std::uint8_t>(w >> (8 * i));
        }
        break;
      }
      case 4: {
        Bytes ins(1 + below(8));
        for (std::uint8_t& c : ins) c = below(2) ? any_byte() : kBytes[below(std::size(kBytes))];
        b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), ins.begin(), ins.end());
        break;
      }
      case 5:
        if (at < b.size()) {
          const std::size_t n = 1 + below(std::min<std::size_t>(b.size() - at, 64));
          b.erase(b.begin() + static_cast<std::ptrdiff_t>(at),
                  b.begin() + static_cast<std::ptrdiff_t>(at + n));
        }
        break;
      case 6:
        if (!b.empty()) {
          const std::size_t from = below(b.size());
          const std::size_t n = 1 + below(std::min<std::size_t>(b.size() - from, 64));
          const Bytes piece(b.begin() + static_cast<std::ptrdiff_t>(from),
                            b.begin() + static_cast<std::ptrdiff_t>(from + n));
          for (std::size_t i = 0; i < n && at + i < b.size(); ++i) b[at + i] = piece[i];
        }
        break;
      case 7:
        b.resize(at);
        break;
      default:
        if (!corpus_.empty()) {
          const Bytes& other = corpus_[below(corpus_.size())];
          const std::size_t from = below(other.size() + 1);
          b.resize(at);
          b.insert(b.end(), other.begin() + static_cast<std::ptrdiff_t>(from), other.end());
        }
        break;
    }
  }

  const std::vector<Bytes>& corpus_;
  std::mt19937 rng_;
  std::size_t max_len_;
};

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  long runs = 0;
  std::uint32_t seed = 1;
  std::size_t max_len = 0;
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a.rfind("-runs=", 0) == 0) {
      runs = std::strtol(a.c_str() + 6, nullptr, 10);
    } else if (a.rfind("-seed=", 0) == 0) {
      seed = static_cast<std::uint32_t>(std::strtoul(a.c_str() + 6, nullptr, 10));
    } else if (a.rfind("-max_len=", 0) == 0) {
      max_len = std::strtoul(a.c_str() + 9, nullptr, 10);
    } else if (fs::is_directory(a)) {
      std::vector<fs::path> in_dir;
      for (const fs::directory_entry& e : fs::directory_iterator(a)) {
        if (e.is_regular_file()) in_dir.push_back(e.path());
      }
      std::sort(in_dir.begin(), in_dir.end());
      files.insert(files.end(), in_dir.begin(), in_dir.end());
    } else {
      files.emplace_back(a);
    }
  }
  std::vector<Bytes> corpus;
  for (const fs::path& p : files) {
    corpus.push_back(read_input(p));
    run(corpus.back());
    std::printf("%s: %zu bytes\n", p.string().c_str(), corpus.back().size());
  }
  if (runs > 0) {
    std::size_t longest = 4096;
    for (const Bytes& b : corpus) longest = std::max(longest, b.size());
    Mutator m(corpus, seed, max_len != 0 ? max_len : longest);
    for (long i = 0; i < runs; ++i) run(m.next());
    std::printf("%ld inputs made from %zu (seed %u)\n", runs, corpus.size(), seed);
  }
  return 0;
}
