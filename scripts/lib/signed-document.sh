# shellcheck shell=bash
# A signed server document made the way an operator makes one, for the demo and the tests:
#   sign_document CONFSERVER DOCUMENT FILES BASE_URL WORK
# makes a key pair with minisign (no password; nothing of it is kept in the checkout),
# writes every installer's sha256 into a copy of DOCUMENT, exports it for BASE_URL into
# WORK/export and signs the exported document (GBK, as served) with serial 1, valid for
# 30 days. Sets signed_document (the exported document; its .minisig beside it),
# doc_key_file (the .pub file) and doc_key (its base64 line). Callers source this file.
# shellcheck disable=SC2034 # the variables set here are read by the caller

sign_document() { # confserver document files base-url work
    local confserver=$1 document=$2 files=$3 base=$4 work=$5
    rm -rf "$work/export"
    mkdir -p "$work"
    minisign -G -W -f -p "$work/doc-key.pub" -s "$work/doc-key.key" </dev/null >/dev/null ||
        return 1
    "$confserver" --fill-sha256 --files "$files" --output "$work/filled.json" "$document" \
        2>/dev/null || return 1
    "$confserver" --export "$work/export" --base-url "$base" --files "$files" \
        "$work/filled.json" 2>/dev/null || return 1
    signed_document="$work/export/envcheck/config.json"
    minisign -S -s "$work/doc-key.key" -m "$signed_document" \
        -t "serial=1 expires=$(date -u -d '+30 days' +%Y-%m-%dT%H:%M:%SZ) signed=$(date -u +%Y-%m-%dT%H:%M:%SZ)" \
        </dev/null >/dev/null || return 1
    doc_key_file="$work/doc-key.pub"
    doc_key=$(sed -n 2p "$doc_key_file")
}
