// A runtime with a scripted terminal, working in a fresh temporary directory, with the
// frame's diagnostics (what goes to standard error) captured.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "frame/frame_state.h"
#include "tests/console/console_fixture.h"
#include "tests/support/temp_dir.h"

namespace lum::testing_support {

// A fresh temporary directory, made the working directory for the life of the object.
struct TempDir : test::TempDir {
  TempDir() : test::TempDir(true) {}
};

inline std::string read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void write_file(const std::filesystem::path& p, std::string_view text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
}

// Writes a DBF table of one character field NAME, 5 wide, and no records.
inline void write_name_table(const std::filesystem::path& p) {
  std::string dbf(32 + 32 + 1, '\0');
  dbf[0] = 0x03;
  dbf[1] = 124;
  dbf[2] = 1;
  dbf[3] = 1;
  dbf[8] = 65;  // header length
  dbf[10] = 6;  // record length
  dbf.replace(32, 4, "NAME");
  dbf[32 + 11] = 'C';
  dbf[32 + 16] = 5;
  dbf[64] = 0x0D;
  dbf.push_back(0x1A);
  write_file(p, dbf);
}

// The record count in a DBF header.
inline std::uint32_t header_record_count(const std::string& dbf) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(dbf[4])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(dbf[5])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(dbf[6])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(dbf[7])) << 24;
}

class FrameTest : public ConsoleTest {
 protected:
  FrameTest() {
    frame_state().diagnostics = [this](std::string_view t) { diagnostics_ += t; };
  }
  // The whole screen, rows without trailing blanks, one per line.
  static std::string screen_text() {
    std::string out;
    for (int r = 0; r <= screen().max_row(); ++r) out += row(r) + "\n";
    return out;
  }

  TempDir dir_;
  std::string diagnostics_;
};

}  // namespace lum::testing_support
