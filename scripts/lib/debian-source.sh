# shellcheck shell=bash
# Fetches a source package of the installed Debian release from the system's own Debian
# archive, through a private deb-src list (the system's apt sources stay as they are).
#   debian_source_download PACKAGE VERSION DIR  -> the .dsc, .orig and .debian files in DIR
# Needs dpkg-dev. Callers source this file.

debian_source_lists() { # writes a deb-src list for the system's archive and suites to $1
    local list=$1 sources uri suites
    sources=/etc/apt/sources.list.d/debian.sources
    uri=$(sed -n 's/^URIs:[[:space:]]*//p' "$sources" 2>/dev/null | head -1 | cut -d' ' -f1)
    suites=$(sed -n 's/^Suites:[[:space:]]*//p' "$sources" 2>/dev/null | head -1)
    if [ -z "$uri" ]; then
        read -r uri suites < <(awk '$1 == "deb" && $2 !~ /^\[/ { print $2, $3; exit }' \
            /etc/apt/sources.list 2>/dev/null)
    fi
    [ -n "$uri" ] || { echo "no Debian archive in the apt sources" >&2; return 1; }
    [ -n "$suites" ] || suites=$(. /etc/os-release && echo "$VERSION_CODENAME")
    for s in $suites; do
        echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri $s main"
    done >"$list"
}

debian_source_download() { # PACKAGE VERSION DIR
    local pkg=$1 version=$2 dir=$3 state
    state=$(mktemp -d)
    mkdir -p "$state/lists/partial" "$dir"
    debian_source_lists "$state/sources.list" || { rm -rf "$state"; return 1; }
    local apt_opts=(-o "Dir::Etc::SourceList=$state/sources.list"
                    -o Dir::Etc::SourceParts=/dev/null -o "Dir::State::Lists=$state/lists"
                    -o APT::Sandbox::User=root -qq)
    local status=0
    apt-get "${apt_opts[@]}" update >/dev/null &&
        (cd "$dir" && apt-get "${apt_opts[@]}" source --download-only "$pkg=$version" \
            >/dev/null) || status=1
    rm -rf "$state"
    return $status
}
