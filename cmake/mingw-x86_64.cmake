# Cross build for 64-bit Windows with Debian's MinGW-w64 (package g++-mingw-w64-x86-64).
# The product is 32-bit; this build exists to run the probe tests and the program under a
# 64-bit-only Wine, on hosts whose kernel cannot execute 32-bit code (and so cannot run wine32).
set(QUELDA_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
