# shellcheck shell=bash
# The DLLs a Windows program imports, against those that come with Windows itself (Windows 7
# and later): a program that needs any other DLL beside it does not start on a plain system.
#   windows_foreign_imports EXE -> prints the imports not on the list, one a line; fails when
#                                  EXE has no import table that objdump can read
#   windows_winhttp_beyond_7 EXE -> prints the functions EXE imports from winhttp.dll that
#                                  Windows 7's winhttp.dll does not export (those of 8.1 and
#                                  later: WinHttpGetProxyForUrlEx, the WebSocket calls, ...)
# Callers source this file. The 64-bit objdump reads the PE images of both architectures.

windows_system_dlls=(advapi32 comctl32 comdlg32 crypt32 d2d1 d3d9 d3d11 dnsapi dwmapi dwrite
                     dxgi gdi32 imm32 iphlpapi kernel32 mpr msvcrt netapi32 ole32 oleaut32
                     setupapi shell32 shlwapi user32 userenv uxtheme version winhttp winmm
                     winspool.drv ws2_32 wtsapi32)

# What Windows 7 SP1's winhttp.dll exports.
windows7_winhttp_functions=(WinHttpAddRequestHeaders WinHttpCheckPlatform WinHttpCloseHandle
                            WinHttpConnect WinHttpCrackUrl WinHttpCreateUrl
                            WinHttpDetectAutoProxyConfigUrl WinHttpGetDefaultProxyConfiguration
                            WinHttpGetIEProxyConfigForCurrentUser WinHttpGetProxyForUrl
                            WinHttpOpen WinHttpOpenRequest WinHttpQueryAuthSchemes
                            WinHttpQueryDataAvailable WinHttpQueryHeaders WinHttpQueryOption
                            WinHttpReadData WinHttpReceiveResponse WinHttpSendRequest
                            WinHttpSetCredentials WinHttpSetDefaultProxyConfiguration
                            WinHttpSetOption WinHttpSetStatusCallback WinHttpSetTimeouts
                            WinHttpTimeFromSystemTime WinHttpTimeToSystemTime WinHttpWriteData)

windows_foreign_imports() { # exe
    local table dll known found_kernel32=0
    table=$(x86_64-w64-mingw32-objdump -p "$1" 2>/dev/null) || return 1
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

windows_winhttp_beyond_7() { # exe
    local name known
    while read -r name; do
        for known in "${windows7_winhttp_functions[@]}"; do
            [ "$name" = "$known" ] && continue 2
        done
        echo "$name"
    done < <(x86_64-w64-mingw32-objdump -p "$1" 2>/dev/null |
                 sed -n '/DLL Name: [Ww][Ii][Nn][Hh][Tt][Tt][Pp]\.dll/,/^$/p' |
                 awk 'NF == 3 && $3 ~ /^WinHttp/ { print $3 }')
}
