# shellcheck shell=bash
# What the test stages under Wine share. Callers source this file.
#   wine32, wine64              the two loaders (the 32-bit one runs 32-bit programs in both
#                               kinds of prefix, as WOW64 in a 64-bit one)
#   wine_can_run32              succeeds when the 32-bit Wine runs here
#   wine32_cause                why it cannot (printed), failing when it can
#   kernel_runs32               succeeds when this kernel executes 32-bit programs
#   wine_program_arch           i686, or x86_64 where 32-bit programs cannot run
#   wine_prefer_64bit DIR       `wine` and `winepath` on PATH take the 64-bit loader
#   wine_test_env               the environment of every run: no Mono or Gecko prompts, no
#                               debug output, a Chinese system (code page 936), China's time
#   wine_boot_prefix DIR BITS   a fresh prefix in DIR (WINEARCH=win32|win64), booted
#   wait_for SECONDS CMD...     runs CMD again until it succeeds; fails after SECONDS
#   start_confserver DIR FILES DOCUMENT
#                               quelda-confserver (of $native/bin) on 127.0.0.1, port chosen
#                               by the system, serving DOCUMENT and the folder FILES: its
#                               address in $address, its pid added to the caller's $pids, its
#                               output in DIR/server.out and request log in DIR/server.log

. "$(dirname "${BASH_SOURCE[0]}")/start-server.sh"

wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64

# Whether the 32-bit Wine runs here, and if not, why: the package missing (it could not be
# installed on a bad day of the archive) and a kernel that does not execute 32-bit programs
# (booted with ia32_emulation off) need different remedies. A static i386 program of a few
# instructions, assembled here, tells the kernel's part apart from Wine's.
#   wine32_cause   prints why the 32-bit Wine cannot run; fails when it can
wine32_cause() {
    local out
    out=$("$wine32" --version 2>&1) && return 1
    if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed' ||
        [ ! -x "$wine32" ]; then
        echo "wine32 is not installed (or could not be: see the set-up's messages)"
    else
        local kernel=0
        kernel_runs32 || kernel=$?
        case $kernel in
        1) echo "wine32 is installed, but this kernel cannot run 32-bit programs" ;;
        0) echo "wine32 is installed and the kernel runs 32-bit programs, but wine32 fails:" \
                "${out:0:200}" ;;
        *) echo "wine32 is installed but fails (whether the kernel runs 32-bit programs could not" \
                "be checked: no i386 assembler): ${out:0:200}" ;;
        esac
    fi
}
wine_can_run32() { ! wine32_cause >/dev/null; }

# Runs a static 32-bit program that exits with 42 (the i386 exit system call through int 0x80):
# 0 when it did, 1 when the kernel would not run it, 2 when it could not be built (binutils).
kernel_runs32() {
    local dir status=0 result=2
    dir=$(mktemp -d)
    # shellcheck disable=SC2016 # assembler text, not shell
    printf '.globl _start\n_start: movl $1, %%eax\n movl $42, %%ebx\n int $0x80\n' >"$dir/exit42.s"
    if as --32 -o "$dir/exit42.o" "$dir/exit42.s" 2>/dev/null &&
        ld -m elf_i386 -static -o "$dir/exit42" "$dir/exit42.o" 2>/dev/null; then
        "$dir/exit42" 2>/dev/null || status=$?
        result=1
        [ "$status" -ne 42 ] || result=0
    fi
    rm -rf "$dir"
    return "$result"
}

# The build of the Windows program that Wine can run here (QUELDA_WINDOWS_ARCH's values):
# the 32-bit program as shipped, or where 32-bit programs cannot run, its 64-bit build.
wine_program_arch() { if wine_can_run32; then echo i686; else echo x86_64; fi; }

# Where 32-bit programs cannot run, Debian's `wine` and `winepath` scripts still take the
# 32-bit loader (installed, but it cannot start): commands of those names that take the
# 64-bit loader go first on PATH, for this script and the ones it starts.
wine_prefer_64bit() { # folder for the two commands
    mkdir -p "$1"
    printf '#!/bin/sh\nexec %s "$@"\n' "$wine64" >"$1/wine"
    printf '#!/bin/sh\nexec %s winepath "$@"\n' "$wine64" >"$1/winepath"
    chmod +x "$1/wine" "$1/winepath"
    export PATH="$1:$PATH" WINELOADER=$wine64
}

wine_test_env() {
    export WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
    # China Standard Time, written so that both sides read it alike: Wine passes TZ on to the
    # Windows environment, where the C runtime parses it ("Asia/Shanghai" would read as UTC
    # with daylight saving there); "CST-8" means UTC+8 without daylight saving to glibc and
    # msvcrt.
    export LC_ALL=zh_CN.UTF-8 TZ=CST-8
    unset WAYLAND_DISPLAY WINEPREFIX WINEARCH
}

wine_boot_prefix() { # dir bits
    local loader=$wine32
    [ "$2" = 64 ] && loader=$wine64
    WINEPREFIX="$1" WINEARCH=win$2 "$loader" wineboot --init >/dev/null 2>&1
}

wait_for() { # seconds, command... (the command is run again until it succeeds)
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.2
    done
}

start_confserver() { # dir files document
    # shellcheck disable=SC2034 # read by the caller
    address=''
    # shellcheck disable=SC2154 # $native: the caller's native build
    start_server address "configuration server" "$1/server.out" "$1/server.log" \
        "$native/bin/quelda-confserver" --port 0 --files "$2" "$3"
}
