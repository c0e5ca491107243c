# shellcheck shell=bash
# Debian package installs that ride out a bad day of the archive. Callers source this file;
# messages start with the caller's name.
#   apt_update                     refreshes the package lists; tries again after a pause, and
#                                  where indexes still fail, warns and goes on (the install
#                                  that follows decides whether they mattered)
#   apt_install OPTIONAL -- PKG... installs the packages. Where the set cannot be installed as a
#                                  whole, tries again without the packages named in OPTIONAL
#                                  (a space-separated list) and says what was left out and
#                                  what that costs ($apt_optional_cost); a package outside
#                                  OPTIONAL that cannot be installed fails, named.
# QUELDA_APT_RETRY_PAUSE: seconds between update tries (default 20). QUELDA_APT_SIMULATE=1:
# installs are apt's simulations only (the tests of this file, which change nothing).

apt_label=${0##*/}
apt_sudo=""
[ "$(id -u)" -ne 0 ] && apt_sudo="sudo"
apt_opts=(-o Acquire::Retries=3 -o Acquire::http::Timeout=60 -o Acquire::https::Timeout=60)
apt_optional_cost=${apt_optional_cost:-}

apt_update() {
    local try out status pause=${QUELDA_APT_RETRY_PAUSE:-20}
    for try in 1 2 3; do
        status=0
        out=$($apt_sudo apt-get "${apt_opts[@]}" -qq update 2>&1) || status=$?
        # apt-get update ends with 0 even when some indexes failed ("W: Failed to fetch").
        if [ "$status" -eq 0 ] && ! grep -qE '^(E|W): (Failed to fetch|Some index files failed)' \
            <<<"$out"; then
            return 0
        fi
        [ "$try" -eq 3 ] || sleep "$pause"
    done
    echo "$apt_label: warning: apt-get update still reports failed indexes after 3 tries;" \
         "going on with the lists it has (the install decides):" >&2
    grep -E '^(E|W):' <<<"$out" | head -5 | sed 's/^/  /' >&2
    return 0
}

# Which of the packages apt cannot install (a simulated install of each alone).
apt_uninstallable() { # pkg...
    local p
    for p in "$@"; do
        apt-get -s -qq install --no-install-recommends "$p" >/dev/null 2>&1 || echo "$p"
    done
}

apt_try_install() { # pkg... (its output in $apt_log)
    local simulate=()
    [ "${QUELDA_APT_SIMULATE:-}" != 1 ] || simulate=(-s)
    DEBIAN_FRONTEND=noninteractive $apt_sudo apt-get "${apt_opts[@]}" install -y -qq \
        "${simulate[@]}" --no-install-recommends "$@" >"$apt_log" 2>&1
}

apt_install() { # optional -- pkg...
    local optional=" $1 " p status=0 bad reason
    shift 2
    local kept=() left=()
    apt_log=$(mktemp)
    apt_try_install "$@" || status=$?
    if [ "$status" -ne 0 ]; then
        reason=$(grep -E '^E:' "$apt_log" | tail -1 | sed 's/^E: //')
        for p in "$@"; do
            if [[ $optional == *" $p "* ]]; then left+=("$p"); else kept+=("$p"); fi
        done
        status=1
        if [ ${#left[@]} -gt 0 ]; then
            status=0
            [ ${#kept[@]} -eq 0 ] || apt_try_install "${kept[@]}" || status=$?
        fi
        if [ "$status" -eq 0 ]; then
            echo "$apt_label: left out ${left[*]}, which apt could not install" \
                 "(${reason:-apt failed})${apt_optional_cost:+: $apt_optional_cost}" >&2
        else
            sed 's/^/  /' "$apt_log" | tail -20 >&2
            bad=$(apt_uninstallable "${kept[@]}" | tr '\n' ' ')
            echo "$apt_label: these packages cannot be installed: ${bad:-${kept[*]}}" >&2
        fi
    fi
    rm -f "$apt_log"
    return "$status"
}
