// std::source_location for clang before 15 with libstdc++: the library defines the type
// only when the compiler has __builtin_source_location, which clang gained in 15. The
// file, function and line builtins that clang 14 has give the same answers at the call
// site. The root CMakeLists.txt includes this header ahead of every source for such a
// compiler (the fuzz build), and for no other.
#pragma once

#include <cstdint>
#include <version>

#if !defined(__cpp_lib_source_location)
namespace std {
struct source_location {
  static constexpr source_location current(const char* file = __builtin_FILE(),
                                           const char* function = __builtin_FUNCTION(),
                                           std::uint_least32_t line = __builtin_LINE()) noexcept {
    source_location here;
    here.file_ = file;
    here.function_ = function;
    here.line_ = line;
    return here;
  }
  constexpr source_location() noexcept = default;
  constexpr const char* file_name() const noexcept { return file_; }
  constexpr const char* function_name() const noexcept { return function_; }
  constexpr std::uint_least32_t line() const noexcept { return line_; }
  constexpr std::uint_least32_t column() const noexcept { return 0; }

 private:
  const char* file_ = "";
  const char* function_ = "";
  std::uint_least32_t line_ = 0;
};
}  // namespace std
#endif
