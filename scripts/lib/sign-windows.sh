# shellcheck shell=bash
# Authenticode signing of Windows programs with osslsigncode, using an operator's PKCS#12
# certificate (.p12/.pfx) whose password is in the environment variable QUELDA_SIGN_PASSWORD.
#   sign_windows_check CERT                  -> fails with a message unless CERT can sign
#   sign_windows_exes CERT TIMESTAMP-URL EXE... -> signs every EXE in place, or none of them
# An empty TIMESTAMP-URL signs without a time stamp. Messages name the calling script.
# Callers source this file.

sign_windows_fail() { echo "${0##*/}: $*" >&2; return 1; }

sign_windows_check() { # cert
    local cert=$1 err
    if [ ! -f "$cert" ] || ! head -c 1 "$cert" >/dev/null 2>&1; then
        sign_windows_fail "cannot read the certificate file '$cert'"
        return 1
    fi
    [ -n "${QUELDA_SIGN_PASSWORD+set}" ] ||
        { sign_windows_fail "set QUELDA_SIGN_PASSWORD to the password of '$cert'"; return 1; }
    # -legacy: certificates exported by older tools use RC2 and 3DES, which OpenSSL 3 loads
    # only from its legacy provider (osslsigncode loads it too).
    if ! err=$(openssl pkcs12 -legacy -in "$cert" -noout -passin env:QUELDA_SIGN_PASSWORD \
                   2>&1 >/dev/null); then
        if grep -q 'Mac verify' <<<"$err"; then
            sign_windows_fail "wrong password for '$cert' (QUELDA_SIGN_PASSWORD)"
        else
            sign_windows_fail "'$cert' is not a PKCS#12 certificate file (.p12 or .pfx)"
        fi
        return 1
    fi
}

sign_windows_exes() { # cert timestamp-url exe...
    local cert=$1 timestamp=$2 exe out ok=1
    shift 2
    sign_windows_check "$cert" || return 1
    # The password goes through a pipe, never the command line (osslsigncode reads no empty
    # one from a pipe).
    local options=(-pkcs12 "$cert" -readpass - -h sha256)
    [ -n "$QUELDA_SIGN_PASSWORD" ] || options=(-pkcs12 "$cert" -pass "" -h sha256)
    [ -z "$timestamp" ] || options+=(-ts "$timestamp")
    # Each signed copy beside its original; the originals are replaced only once all are
    # signed.
    for exe in "$@"; do
        if ! out=$(printf '%s' "$QUELDA_SIGN_PASSWORD" |
                       osslsigncode sign "${options[@]}" -in "$exe" -out "$exe.signed" 2>&1); then
            sign_windows_fail "signing '${exe##*/}' failed:"
            echo "$out" >&2
            ok=0
            break
        fi
    done
    if [ "$ok" = 0 ]; then
        for exe in "$@"; do rm -f "$exe.signed"; done
        return 1
    fi
    for exe in "$@"; do mv -f "$exe.signed" "$exe" || return 1; done
    echo "${0##*/}: signed ${*##*/} with '$cert'${timestamp:+, time-stamped by $timestamp}"
}
