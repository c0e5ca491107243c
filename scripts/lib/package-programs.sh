# shellcheck shell=bash
# The two programs that a Windows package holds, for the tests of the packages:
#   package_programs SCRATCH
# exports QUELDA_WINDOWS_BIN naming the folder of the last Windows build (build-windows/bin,
# or build-windows-x86_64/bin where only the 64-bit program is built) when it has both programs; otherwise two small programs of the probe build (no Qt needed)
# stand in for the pair, copied into SCRATCH/bin. Sets `programs` to what they are.
# Callers source this file and set $root and $name (the program's name without .exe).
# shellcheck disable=SC2034,SC2154 # $root and $name come from the caller, `programs` goes to it

package_programs() { # scratch
    local bin="$root/build-windows/bin" probes="$root/build-windows-probes"
    programs="the program and openAlertLink.exe"
    if [ ! -f "$bin/$name.exe" ] && [ -f "$root/build-windows-x86_64/bin/$name.exe" ]; then
        bin="$root/build-windows-x86_64/bin"
        programs="the 64-bit program and openAlertLink.exe"
        export QUELDA_WINDOWS_ARCH=x86_64
    fi
    if [ ! -f "$bin/$name.exe" ] || [ ! -f "$bin/openAlertLink.exe" ]; then
        [ -f "$probes/build.ninja" ] ||
            cmake -S "$root" -B "$probes" -G Ninja \
                -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DQUELDA_GUI=OFF >/dev/null
        cmake --build "$probes" --target openAlertLink openAlertLink_testbrowser >/dev/null
        bin="$1/bin"
        mkdir -p "$bin"
        cp "$probes/bin/openAlertLink.exe" "$bin/"
        cp "$probes/bin/openAlertLink_testbrowser.exe" "$bin/$name.exe"
        programs="two probe-build programs (no Windows build of the program here)"
    fi
    export QUELDA_WINDOWS_BIN=$bin
}
