# shellcheck shell=bash
# Which Windows build the scripts make and run: QUELDA_WINDOWS_ARCH, i686 (the program as
# shipped, 32-bit) by default, or x86_64, the same program for 64-bit Windows, which the Wine
# tests run on machines whose kernel cannot run 32-bit programs (and so no 32-bit Wine).
# Sets windows_arch, windows_triplet, windows_build_dir (the build folder, under $root) and
# windows_package (the name of the zip that scripts/package-windows writes under dist/).
# The sourcing script sets $root and reads the variables set here:
# shellcheck disable=SC2034,SC2154
windows_arch=${QUELDA_WINDOWS_ARCH:-i686}
case $windows_arch in
i686) windows_build_dir="$root/build-windows" windows_package=quelda-envcheck-win32 ;;
x86_64) windows_build_dir="$root/build-windows-x86_64" windows_package=quelda-envcheck-win64 ;;
*)
    echo "QUELDA_WINDOWS_ARCH: i686 or x86_64, not '$windows_arch'" >&2
    exit 2
    ;;
esac
windows_triplet=$windows_arch-w64-mingw32
