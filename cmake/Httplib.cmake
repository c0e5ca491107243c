# cpp-httplib, compiled into the project from its single header: Debian's compiled library
# reads 4 KiB per receive call, fixed when it is built, which halves the download rate of
# large installers; and it exists for Linux only. scripts/setup unpacks the header of
# Debian's source package (the version of libcpp-httplib-dev, with Debian's patches) here.
set(QUELDA_HTTPLIB_SOURCE_DIR /usr/local/src/cpp-httplib
    CACHE PATH "cpp-httplib sources (the folder holding httplib.h), for every platform")
if(NOT EXISTS ${QUELDA_HTTPLIB_SOURCE_DIR}/httplib.h)
    message(FATAL_ERROR "cpp-httplib: no httplib.h in ${QUELDA_HTTPLIB_SOURCE_DIR} "
                        "(run scripts/setup, or set QUELDA_HTTPLIB_SOURCE_DIR)")
endif()

# The receive buffer of one read from the socket. It lives on the reading thread's stack,
# so it stays well below the 1 MiB that Windows gives a thread.
set(QUELDA_HTTPLIB_RECV_BUFSIZ 131072
    CACHE STRING "Bytes that cpp-httplib receives per read call")

# Connections waiting to be accepted. The library's 5 is too few for a burst: with 16 clients
# connecting at once, some got no answer (the support server's uploads, bench_support).
set(QUELDA_HTTPLIB_LISTEN_BACKLOG 128 CACHE STRING "Listen backlog of cpp-httplib's servers")

# Every target that includes httplib.h must see the same settings (one definition rule),
# so they come with this target and nowhere else.
add_library(httplib INTERFACE)
target_include_directories(httplib SYSTEM INTERFACE ${QUELDA_HTTPLIB_SOURCE_DIR})
target_compile_definitions(httplib
                           INTERFACE "CPPHTTPLIB_RECV_BUFSIZ=size_t(${QUELDA_HTTPLIB_RECV_BUFSIZ}u)"
                                     CPPHTTPLIB_LISTEN_BACKLOG=${QUELDA_HTTPLIB_LISTEN_BACKLOG})
target_link_libraries(httplib INTERFACE Threads::Threads)
if(WIN32)
    target_link_libraries(httplib INTERFACE ws2_32)
else()
    # HTTPS on Linux: the client of engine/transport verifies servers with OpenSSL (Debian's
    # libssl-dev). Windows has no OpenSSL in the build; its transport is the system's own.
    find_package(OpenSSL 1.1.1 REQUIRED)
    target_compile_definitions(httplib INTERFACE CPPHTTPLIB_OPENSSL_SUPPORT)
    target_link_libraries(httplib INTERFACE OpenSSL::SSL OpenSSL::Crypto)
endif()
