# Libraries of the Windows build that are not found as installed packages. On a Windows
# machine with GoogleTest and pugixml installed (vcpkg, MSYS2) find_package finds them;
# a MinGW cross build on Debian compiles them from the sources that Debian ships.

# GoogleTest: Debian's libgtest-dev ships its sources in /usr/src/googletest.
set(QUELDA_GOOGLETEST_SOURCE_DIR /usr/src/googletest
    CACHE PATH "GoogleTest sources to build for Windows when no installed package is found")
find_package(GTest QUIET)
if(NOT GTest_FOUND AND EXISTS ${QUELDA_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(${QUELDA_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest
                     EXCLUDE_FROM_ALL)
endif()

# pugixml: Debian has no MinGW build and libpugixml-dev has no sources; scripts/setup-windows
# unpacks Debian's pugixml source package (the version of libpugixml-dev) here.
set(QUELDA_PUGIXML_SOURCE_DIR /usr/local/src/pugixml
    CACHE PATH "pugixml sources (the folder holding src/pugixml.cpp) to build for Windows")
find_package(pugixml QUIET CONFIG)
if(NOT TARGET pugixml::pugixml)
    if(NOT EXISTS ${QUELDA_PUGIXML_SOURCE_DIR}/src/pugixml.cpp)
        message(FATAL_ERROR "pugixml: no installed package and no sources in "
                            "${QUELDA_PUGIXML_SOURCE_DIR} (run scripts/setup-windows, or set "
                            "QUELDA_PUGIXML_SOURCE_DIR)")
    endif()
    add_library(pugixml_static STATIC ${QUELDA_PUGIXML_SOURCE_DIR}/src/pugixml.cpp)
    target_include_directories(pugixml_static SYSTEM PUBLIC ${QUELDA_PUGIXML_SOURCE_DIR}/src)
    add_library(pugixml::pugixml ALIAS pugixml_static)
endif()

if(QUELDA_GUI)
    # Qt 5 built statically for Windows by scripts/setup-qt-windows (the prefix it prints).
    set(QUELDA_QT_WINDOWS_DIR "" CACHE PATH "Qt 5 for Windows (a static MinGW build)")
    if(QUELDA_QT_WINDOWS_DIR)
        list(APPEND CMAKE_FIND_ROOT_PATH ${QUELDA_QT_WINDOWS_DIR})
        set(Qt5_DIR ${QUELDA_QT_WINDOWS_DIR}/lib/cmake/Qt5)
    endif()

    # libsodium built statically for Windows by scripts/setup-libsodium-windows (the prefix it
    # prints), from Debian's libsodium source package.
    set(QUELDA_SODIUM_WINDOWS_DIR "" CACHE PATH "libsodium for Windows (a static MinGW build)")
    find_path(QUELDA_SODIUM_INCLUDE_DIR sodium.h HINTS ${QUELDA_SODIUM_WINDOWS_DIR}/include
              NO_CMAKE_FIND_ROOT_PATH)
    find_library(QUELDA_SODIUM_LIBRARY NAMES libsodium.a sodium
                 HINTS ${QUELDA_SODIUM_WINDOWS_DIR}/lib NO_CMAKE_FIND_ROOT_PATH)
    if(NOT QUELDA_SODIUM_INCLUDE_DIR OR NOT QUELDA_SODIUM_LIBRARY)
        message(FATAL_ERROR "libsodium for Windows not found in '${QUELDA_SODIUM_WINDOWS_DIR}' "
                            "(run scripts/setup-libsodium-windows and set "
                            "QUELDA_SODIUM_WINDOWS_DIR to the prefix it prints)")
    endif()
    add_library(sodium::sodium STATIC IMPORTED)
    set_target_properties(sodium::sodium PROPERTIES
        IMPORTED_LOCATION ${QUELDA_SODIUM_LIBRARY}
        INTERFACE_INCLUDE_DIRECTORIES ${QUELDA_SODIUM_INCLUDE_DIR}
        INTERFACE_COMPILE_DEFINITIONS SODIUM_STATIC)

    # Header-only libraries: Debian's headers serve every platform, but /usr/include itself
    # must stay out of a cross build, so only their folders are linked into one of ours.
    set(_quelda_host_include ${CMAKE_BINARY_DIR}/host-include)
    file(MAKE_DIRECTORY ${_quelda_host_include})
    foreach(dir spdlog fmt nlohmann)
        if(NOT EXISTS ${_quelda_host_include}/${dir})
            file(CREATE_LINK /usr/include/${dir} ${_quelda_host_include}/${dir} SYMBOLIC)
        endif()
    endforeach()
    add_library(spdlog::spdlog INTERFACE IMPORTED)
    set_target_properties(spdlog::spdlog PROPERTIES
        INTERFACE_INCLUDE_DIRECTORIES ${_quelda_host_include}
        INTERFACE_COMPILE_DEFINITIONS "SPDLOG_FMT_EXTERNAL;FMT_HEADER_ONLY")
    add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
    set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
        INTERFACE_INCLUDE_DIRECTORIES ${_quelda_host_include})

endif()
