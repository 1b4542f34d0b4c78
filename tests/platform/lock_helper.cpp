// A second process for the sharing tests. "try FILE MODE" opens FILE (MODE "exclusive"
// or "shared") and exits with the operating-system code of the open; "hold FILE READY
// RELEASE" holds FILE exclusively, creates READY, and exits once RELEASE exists.
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/file.h"

int main(int argc, char** argv) {
  using lum::File;
  if (argc == 4 && std::strcmp(argv[1], "try") == 0) {
    File f;
    bool excl = std::strcmp(argv[3], "exclusive") == 0;
    return f.open(argv[2], lum::FileAccess::ReadWrite,
                  excl ? lum::FileShare::Exclusive : lum::FileShare::Shared);
  }
  if (argc == 5 && std::strcmp(argv[1], "hold") == 0) {
    File f;
    int rc = f.open(argv[2], lum::FileAccess::ReadWrite, lum::FileShare::Exclusive);
    if (rc != 0) return rc;
    std::ofstream(argv[3]) << "ready";
    for (int i = 0; i < 3000 && !std::filesystem::exists(argv[4]); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
  }
  return 100;
}
