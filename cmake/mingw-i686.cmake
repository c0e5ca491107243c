# Cross build for 32-bit Windows with Debian's MinGW-w64 (package g++-mingw-w64-i686):
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
# The -posix compilers: the win32 thread model has no std::mutex or std::thread.
set(QUELDA_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
