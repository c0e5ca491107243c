#!/bin/sh
# Demo installer for .NET Framework 4.0: registers the key that marks it installed.
set -eu

# The machine folder of the Windows API stand-in; the tool passes it on to its installers.
machine="${QUELDA_MACHINE:-${XDG_DATA_HOME:-$HOME/.local/share}/quelda/machine}"

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
