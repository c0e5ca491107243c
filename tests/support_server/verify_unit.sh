#!/bin/sh
# The systemd unit of quelda-support, checked by systemd-analyze verify with its ExecStart
# pointing at the built program (verify wants the program to exist).
set -eu
unit="$1" program="$2"
command -v systemd-analyze >/dev/null || { echo "SKIPPED: no systemd-analyze"; exit 0; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
sed "s#/usr/local/bin/quelda-support#$program#" "$unit" > "$dir/quelda-support.service"
out=$(systemd-analyze verify "$dir/quelda-support.service" 2>&1) || { echo "$out"; exit 1; }
# verify reports unknown or misplaced settings as warnings with status 0.
if [ -n "$out" ]; then echo "$out"; exit 1; fi
for option in NoNewPrivileges=yes ProtectSystem=strict PrivateTmp=yes StateDirectory=quelda-support User=quelda-support; do
    grep -qx "$option" "$unit" || { echo "missing: $option"; exit 1; }
done
echo "verified: $unit"
