# The Windows side of the GUI executable `quelda-envcheck` (included by app/CMakeLists.txt
# once the target exists): a 32-bit GUI-subsystem program named after the product, whose
# manifest requests administrator rights, with its run-time files installed beside it.

if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
    # The 64-bit build runs the Wine tests where 32-bit programs cannot run; never shipped.
    message(STATUS "A 64-bit build of the program: for tests only, the program is shipped as a "
                   "32-bit Windows executable (cmake/mingw-i686.cmake)")
endif()

if(NOT QUELDA_EXE_NAME)
    set(QUELDA_EXE_NAME "Quelda运行环境检测工具")
endif()
set_target_properties(quelda-envcheck PROPERTIES WIN32_EXECUTABLE ON OUTPUT_NAME ${QUELDA_EXE_NAME})

# Version information and the manifest.
set(QUELDA_MANIFEST_FILE ${PROJECT_SOURCE_DIR}/app/windows/app.manifest)
configure_file(${PROJECT_SOURCE_DIR}/app/windows/app.rc.in ${CMAKE_CURRENT_BINARY_DIR}/app.rc
               @ONLY)
target_sources(quelda-envcheck PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/app.rc)
if(MSVC)
    # The linker writes the manifest: merge ours and let it add no UAC entry of its own.
    target_sources(quelda-envcheck PRIVATE ${QUELDA_MANIFEST_FILE})
    target_link_options(quelda-envcheck PRIVATE /MANIFESTUAC:NO)
    target_compile_options(quelda-envcheck PRIVATE /utf-8)
else()
    set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/app.rc PROPERTIES
                                COMPILE_DEFINITIONS QUELDA_EMBED_MANIFEST)
endif()

# MinGW release builds ship without the symbol table of the static Qt libraries (a third of
# the file).
if(MINGW)
    target_link_options(quelda-envcheck PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)
endif()

# The Windows libraries the program calls: the registry (advapi32), version resources
# (version), the shell (shell32), files and processes (kernel32), and the HTTP client's
# sockets (ws2_32).
target_link_libraries(quelda-envcheck PRIVATE advapi32 version shell32 kernel32 ws2_32)

# Installed layout: the executable with image/, openIE.bat and config.json beside it, since
# the program loads them relative to its current directory.
install(TARGETS quelda-envcheck RUNTIME DESTINATION .)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/image DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/app/dist/openIE.bat ${PROJECT_SOURCE_DIR}/app/dist/config.json
        DESTINATION .)

# Qt's DLLs, its platform plug-in and the compiler's run-time DLLs beside the executable, when Qt's deployment tool is there.
if(TARGET Qt5::qmake)
    get_target_property(_quelda_qmake Qt5::qmake IMPORTED_LOCATION)
endif()
if(_quelda_qmake)
    get_filename_component(_quelda_qt_bin ${_quelda_qmake} DIRECTORY)
    find_program(QUELDA_WINDEPLOYQT windeployqt HINTS ${_quelda_qt_bin})
    if(QUELDA_WINDEPLOYQT)
        install(CODE "execute_process(COMMAND \"${QUELDA_WINDEPLOYQT}\" --no-translations
                      \"\${CMAKE_INSTALL_PREFIX}/${QUELDA_EXE_NAME}.exe\")")
    endif()
endif()
