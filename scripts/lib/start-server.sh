# shellcheck shell=bash
# Starts a server in the background and waits for its "listening on http://HOST:PORT" line:
#   start_server VAR NAME OUT LOG COMMAND...
# sets VAR to HOST:PORT and adds the server's pid to the caller's pids array. Fails, saying
# so (with the server's log when it ended), when no such line comes within 10 s.
start_server() {
    local var=$1 name=$2 out=$3 log=$4 found='' _
    shift 4
    # The file is there before the first look, not only once the server has opened it: a
    # look at a file not yet made fails, and under set -e ends the caller.
    : >"$out"
    "$@" >"$out" 2>"$log" &
    local pid=$!
    pids+=("$pid")
    for _ in $(seq 100); do
        found=$(sed -n 's|^listening on http://\([0-9.]*:[0-9]*\).*|\1|p' "$out")
        [ -n "$found" ] && { printf -v "$var" '%s' "$found"; return 0; }
        kill -0 "$pid" 2>/dev/null || { cat "$log" >&2; break; }
        sleep 0.1
    done
    echo "${0##*/}: the $name did not start" >&2
    return 1
}
