# Shared part of the MinGW-w64 toolchain files; QUELDA_MINGW_TRIPLET names the target.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1) # Windows 7 and later
if(QUELDA_MINGW_TRIPLET STREQUAL "i686-w64-mingw32")
    set(CMAKE_SYSTEM_PROCESSOR x86)
else()
    set(CMAKE_SYSTEM_PROCESSOR AMD64)
endif()

set(CMAKE_C_COMPILER ${QUELDA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUELDA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUELDA_MINGW_TRIPLET}-windres)

# Only the MinGW sysroot: never let a header or library of the build machine in.
set(CMAKE_FIND_ROOT_PATH /usr/${QUELDA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static C++ runtime and winpthread: a program that needs libstdc++-6.dll or
# libwinpthread-1.dll beside it would not start on a plain Windows installation.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# CTest runs the test programs through Wine. The 32-bit loader needs a kernel that runs
# 32-bit code; scripts/test-windows picks the loader and passes it in.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
    find_program(QUELDA_WINE_PROGRAM NAMES wine)
    if(QUELDA_WINE_PROGRAM)
        set(CMAKE_CROSSCOMPILING_EMULATOR ${QUELDA_WINE_PROGRAM})
    endif()
endif()
