#!/usr/bin/env bash
# The set-up's package installs on a bad day of the archive (scripts/lib/apt.sh): a package set
# that apt cannot satisfy only because of its optional part is installed without it and says
# so; any other package that cannot be installed fails, named; an update whose indexes cannot
# be fetched is a warning. Installs are apt's simulations, so nothing on the machine changes.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
export QUELDA_APT_SIMULATE=1 QUELDA_APT_RETRY_PAUSE=0
# shellcheck source=../../scripts/lib/apt.sh
. "$root/scripts/lib/apt.sh"
apt_sudo="" # simulations and private lists need no root
passes=0 failures=0
check() { # description, condition...
    local what=$1
    shift
    if "$@"; then
        echo "ok: $what"
        passes=$((passes + 1))
    else
        echo "FAILED: $what"
        failures=$((failures + 1))
    fi
}
present=cmake # in the project's package list, so apt knows it wherever the set-up ran
absent=quelda-no-such-package

out=$(apt_install "$absent:i386" -- "$present" "$absent:i386" 2>&1)
status=$?
check "an unsatisfiable optional set is left out (exit $status)" [ "$status" -eq 0 ]
check "the left-out packages and the cost are named: $out" \
    grep -q "left out $absent:i386, which apt could not install (.*)" <<<"$out"

out=$(apt_install "$absent:i386" -- "$present" "$absent" "$absent:i386" 2>&1)
status=$?
check "a package outside the optional set still fails (exit $status)" [ "$status" -ne 0 ]
check "and is named: $(tail -1 <<<"$out")" grep -qx ".*cannot be installed: $absent " <<<"$out"

out=$(apt_install "" -- "$present" 2>&1)
check "an installable set installs without a word" [ "$?" -eq 0 ] && [ -z "$out" ]

# An archive that cannot be reached: private lists, so that the machine's stay as they are.
lists=$(mktemp -d)
trap 'rm -rf "$lists"' EXIT
mkdir -p "$lists/partial"
echo "deb [trusted=yes] http://127.0.0.1:9/debian bookworm main" >"$lists/sources.list"
apt_opts+=(-o Acquire::Retries=0 -o "Dir::Etc::SourceList=$lists/sources.list" -o Dir::Etc::SourceParts=/dev/null
           -o "Dir::State::Lists=$lists" -o APT::Sandbox::User=root)
out=$(apt_update 2>&1)
status=$?
check "failed indexes are a warning (exit $status)" [ "$status" -eq 0 ]
check "that names them: $(head -1 <<<"$out")" grep -q 'warning: apt-get update still reports' <<<"$out"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
