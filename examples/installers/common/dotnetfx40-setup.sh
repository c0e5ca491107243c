#!/bin/sh
# Demo installer for .NET Framework 4.0: registers the key that marks it installed.
set -eu

# The machine folder of the Windows API stand-in; the tool passes it on to its installers.
machine="${QUELDA_MACHINE:-${XDG_DATA_HOME:-$HOME/.local/share}/quelda/machine}"
# Every run notes the arguments it was started with (a repair with nobody at the screen
# passes the entry's silentArgs).
mkdir -p "$machine"
echo "dotnetfx40 args:$*" >>"$machine/installer-args.log"

# The exit code of this run: the first line of installer-exit-codes.txt in the machine
# folder, which this run takes away (how a test chooses; no line: 0). With 3010 or 1641 it
# installs and asks for a restart; with any other code but 0 it installs nothing.
code=0
codes="$machine/installer-exit-codes.txt"
if [ -s "$codes" ]; then
    code=$(head -n 1 "$codes" | tr -d '\r ')
    tail -n +2 "$codes" >"$codes.next" && mv "$codes.next" "$codes"
fi
case $code in '' | *[!0-9]*) code=0 ;; esac
# A Windows exit code has 32 bits, a POSIX exit status 8: the whole code goes to the file
# that the Windows API stand-in names (see winshim), the exit status keeps its low 8 bits.
finish() {
    if [ -n "${WINSHIM_EXIT_CODE_FILE:-}" ]; then
        echo "$code" >"$WINSHIM_EXIT_CODE_FILE"
    fi
    exit $((code % 256))
}
case $code in 0 | 3010 | 1641) ;; *) finish ;; esac

# quelda-reg and quelda-mkpe come from QUELDA_BIN when set, otherwise from PATH.
run() {
    name=$1
    shift
    if [ -n "${QUELDA_BIN:-}" ] && [ -x "$QUELDA_BIN/$name" ]; then
        "$QUELDA_BIN/$name" "$@" >/dev/null
    elif command -v "$name" >/dev/null 2>&1; then
        "$name" "$@" >/dev/null
    else
        echo "$0: $name not found (set QUELDA_BIN or PATH)" >&2
        exit 1
    fi
}

# In both registry views of a 64-bit Windows, as the real installer registers it.
key='HKLM\SOFTWARE\Microsoft\NET Framework Setup\NDP\v4\Full'
for view in /reg:64 /reg:32; do
    run quelda-reg add "$key" /v Install /t REG_DWORD /d 1 /f $view
    run quelda-reg add "$key" /v Version /t REG_SZ /d 4.0.30319 /f $view
    run quelda-reg add "$key" /v Release /t REG_DWORD /d 30319 /f $view
done

mkdir -p "$machine"
echo "dotnetfx40 4.0.30319" >>"$machine/installs.log"
finish
