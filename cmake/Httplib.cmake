# cpp-httplib, compiled into the project from its header: Debian's compiled library
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

# Compiled once per build, not in every source that includes it: the header splits at its two
# marker lines into the declarations, kept as the header, and the definitions, compiled here
# without their "inline" (what the library's own split.py does). The generated pair lives in the
# build folder and is rewritten only when the header changes.
set(_httplib_split ${CMAKE_BINARY_DIR}/httplib-split)
file(READ ${QUELDA_HTTPLIB_SOURCE_DIR}/httplib.h _httplib_text)
# A new header (scripts/setup unpacks another version) configures the build again.
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${QUELDA_HTTPLIB_SOURCE_DIR}/httplib.h)
set(_httplib_border "// ----------------------------------------------------------------------------\n")
string(FIND "${_httplib_text}" "${_httplib_border}" _httplib_first)
string(FIND "${_httplib_text}" "${_httplib_border}" _httplib_last REVERSE)
if(_httplib_first EQUAL -1 OR _httplib_first EQUAL _httplib_last)
    message(FATAL_ERROR "cpp-httplib: ${QUELDA_HTTPLIB_SOURCE_DIR}/httplib.h lacks the two lines "
                        "that mark its definitions")
endif()
string(LENGTH "${_httplib_border}" _httplib_border_length)
math(EXPR _httplib_body_start "${_httplib_first} + ${_httplib_border_length}")
math(EXPR _httplib_body_length "${_httplib_last} - ${_httplib_body_start}")
math(EXPR _httplib_tail_start "${_httplib_last} + ${_httplib_border_length}")
string(SUBSTRING "${_httplib_text}" 0 ${_httplib_first} _httplib_head)
string(SUBSTRING "${_httplib_text}" ${_httplib_body_start} ${_httplib_body_length} _httplib_body)
string(SUBSTRING "${_httplib_text}" ${_httplib_tail_start} -1 _httplib_tail)
string(REPLACE "inline " "" _httplib_body "${_httplib_body}")
file(WRITE ${_httplib_split}/httplib.h.new "${_httplib_head}${_httplib_tail}")
file(WRITE ${_httplib_split}/httplib.cc.new
     "#include \"httplib.h\"\nnamespace httplib {\n${_httplib_body}} // namespace httplib\n")
foreach(_httplib_file httplib.h httplib.cc)
    file(COPY_FILE ${_httplib_split}/${_httplib_file}.new ${_httplib_split}/${_httplib_file}
         ONLY_IF_DIFFERENT)
    file(REMOVE ${_httplib_split}/${_httplib_file}.new)
endforeach()

# Every target that includes httplib.h must see the same settings (one definition rule),
# so they come with this target and nowhere else. Created before the project's warning flags:
# the library keeps its own.
add_library(httplib STATIC EXCLUDE_FROM_ALL ${_httplib_split}/httplib.cc)
set_target_properties(httplib PROPERTIES POSITION_INDEPENDENT_CODE ON AUTOMOC OFF)
target_include_directories(httplib SYSTEM PUBLIC ${_httplib_split})
target_compile_definitions(httplib
                           PUBLIC "CPPHTTPLIB_RECV_BUFSIZ=size_t(${QUELDA_HTTPLIB_RECV_BUFSIZ}u)"
                                  CPPHTTPLIB_LISTEN_BACKLOG=${QUELDA_HTTPLIB_LISTEN_BACKLOG})
target_link_libraries(httplib PUBLIC Threads::Threads)
if(WIN32)
    target_link_libraries(httplib PUBLIC ws2_32)
else()
    # HTTPS on Linux: the client of engine/transport verifies servers with OpenSSL (Debian's
    # libssl-dev). Windows has no OpenSSL in the build; its transport is the system's own.
    find_package(OpenSSL 1.1.1 REQUIRED)
    target_compile_definitions(httplib PUBLIC CPPHTTPLIB_OPENSSL_SUPPORT)
    target_link_libraries(httplib PUBLIC OpenSSL::SSL OpenSSL::Crypto)
endif()
