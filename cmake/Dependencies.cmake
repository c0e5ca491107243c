# Every library comes from Debian's packages (scripts/setup installs them).
find_package(Threads REQUIRED)

if(NOT WIN32)
    find_package(PkgConfig REQUIRED) # libsodium; OpenSSL and SQLite for the server-side tools
    find_package(Boost 1.74 REQUIRED COMPONENTS locale)
    find_package(pugixml REQUIRED)
else()
    include(${CMAKE_CURRENT_LIST_DIR}/WindowsDependencies.cmake)
endif()

if(QUELDA_GUI)
    set(CMAKE_AUTOMOC ON)
    # The Windows build of Qt has only the modules the program links (scripts/setup-qt-windows).
    if(QUELDA_TESTS)
        find_package(Qt5 5.11 REQUIRED COMPONENTS Core Gui Widgets Test)
    else()
        find_package(Qt5 5.11 REQUIRED COMPONENTS Core Gui Widgets)
    endif()
    if(NOT WIN32) # on Windows: cmake/WindowsDependencies.cmake
        find_package(spdlog REQUIRED)
        find_package(nlohmann_json 3 REQUIRED)
    endif()
    include(${CMAKE_CURRENT_LIST_DIR}/Httplib.cmake)
    # zlib unpacks the tool's own update (a zip); on Windows Debian's MinGW build of it,
    # linked statically as everything else there (Windows has no zlib1.dll).
    if(WIN32)
        set(ZLIB_USE_STATIC_LIBS ON)
    endif()
    find_package(ZLIB REQUIRED)
    # libsodium checks the server document's signature (on Windows: WindowsDependencies.cmake).
    if(NOT WIN32)
        pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
        add_library(sodium::sodium INTERFACE IMPORTED)
        target_link_libraries(sodium::sodium INTERFACE PkgConfig::SODIUM)
    endif()
endif()

if(NOT TARGET GTest::gtest)
    find_package(GTest REQUIRED)
endif()
include(GoogleTest)
