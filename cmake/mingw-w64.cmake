# Cross build for Windows with Debian's mingw-w64 (the POSIX-threads variant, which has
# std::thread): static executables that need no DLL beside them, run here under wine.
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DLUM_BENCH=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LUM_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LUM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LUM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${LUM_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LUM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No libgcc, libstdc++ or winpthread DLL to ship.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests, and the test discovery of the build, run the .exe files under wine.
find_program(LUM_WINE NAMES wine64 wine)
if(LUM_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LUM_WINE})
endif()
# wine maps the Linux root to drive Z:, so Linux paths baked into the tests (the
# programs they run) get that drive; they stay valid after a test changes directory.
set(LUM_HOST_PATH_PREFIX "Z:")
