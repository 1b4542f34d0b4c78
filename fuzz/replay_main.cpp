// Without libFuzzer (a compiler other than clang): runs the fuzz entry point over the
// files named on the command line, so the target stays buildable and a corpus or a
// crash input can be replayed.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    std::printf("%s: %zu bytes\n", argv[i], bytes.size());
  }
  return 0;
}
