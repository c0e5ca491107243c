# shellcheck shell=bash
# The DLLs a Windows program imports, against those that come with Windows itself (Windows 7
# and later): a program that needs any other DLL beside it does not start on a plain system.
#   windows_foreign_imports EXE -> prints the imports not on the list, one a line; fails when
#                                  EXE has no import table that objdump can read
# Callers source this file.

windows_system_dlls=(advapi32 comctl32 comdlg32 crypt32 d2d1 d3d9 d3d11 dnsapi dwmapi dwrite
                     dxgi gdi32 imm32 iphlpapi kernel32 mpr msvcrt netapi32 ole32 oleaut32
                     setupapi shell32 shlwapi user32 userenv uxtheme version winmm winspool.drv
                     ws2_32 wtsapi32)

windows_foreign_imports() { # exe
    local table dll known found_kernel32=0
    table=$(i686-w64-mingw32-objdump -p "$1" 2>/dev/null) || return 1
    while read -r dll; do
        dll=${dll,,}
        [ "$dll" != kernel32.dll ] || found_kernel32=1
        for known in "${windows_system_dlls[@]}"; do
            [ "${dll%.dll}" = "$known" ] && continue 2
        done
        echo "$dll"
    done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$table")
    # Every Win32 program imports kernel32: without it the table was not read at all.
    [ "$found_kernel32" = 1 ]
}
