#!/usr/bin/env bash
# Signs copies of a PE file with a throwaway test CA, for the installer signature tests:
#   make-signed-samples.sh OUT-DIR UNSIGNED-PE
# OUT-DIR gets roots/test-root.pem (the CA a test machine trusts) and
#   good.exe          signed by "Quelda Test Publisher", through an intermediate CA
#   other-signer.exe  signed by "Someone Else Ltd", same CA
#   unknown-root.exe  signed by "Quelda Test Publisher" of a CA nobody trusts
#   tampered.exe      good.exe with one byte of its DOS stub changed
#   unsigned.exe      the input as it is
#   revoked.exe, crls/  signed by a revoked "Quelda Test Publisher"; the CRLs that say so
#   nul-signer.exe    signed by "Quelda Test Publisher\0x" (a NUL inside its name), same CA
set -euo pipefail
out=$1
input=$2
rm -rf "$out"
mkdir -p "$out/ca" "$out/roots" "$out/crls"
ca="$out/ca"
cd "$ca"

days=30
key() { openssl genrsa -out "$1.key" 2048 2>/dev/null; }
cat >ext.cnf <<'CNF'
[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[leaf]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CNF
root() { # name subject
    key "$1"
    openssl req -x509 -new -key "$1.key" -sha256 -days "$days" -subj "$2" -out "$1.pem" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
}
issue() { # name subject issuer section
    key "$1"
    openssl req -new -key "$1.key" -subj "$2" -out "$1.csr"
    openssl x509 -req -in "$1.csr" -CA "$3.pem" -CAkey "$3.key" -set_serial "0x$(openssl rand -hex 8)" \
        -sha256 -days "$days" -extfile ext.cnf -extensions "$4" -out "$1.pem" 2>/dev/null
}
# A leaf whose common name holds a NUL, which no command line can spell: the request is
# made with a stand-in letter that is then turned into the NUL ("req -x509 -CA" issues it
# without checking the request's own signature).
issue_with_nul() { # name issuer
    key "$1"
    openssl req -new -key "$1.key" -subj "/CN=Quelda Test PublisherZx" -outform DER -out "$1.der"
    python3 -c 'import sys
p = sys.argv[1]
d = open(p, "rb").read()
assert d.count(b"PublisherZx") == 1
open(p, "wb").write(d.replace(b"PublisherZx", b"Publisher\x00x"))' "$1.der"
    openssl req -inform DER -in "$1.der" -x509 -CA "$2.pem" -CAkey "$2.key" -days "$days" \
        -set_serial "0x$(openssl rand -hex 8)" -addext "basicConstraints=critical,CA:FALSE" \
        -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
        -out "$1.pem" 2>/dev/null
}
sign() { # leaf chain-files... -> out
    local leaf=$1 target=$2
    shift 2
    cat "$leaf.pem" "$@" >"$leaf.chain.pem"
    osslsigncode sign -certs "$leaf.chain.pem" -key "$leaf.key" -h sha256 -n "Quelda test" \
        -in "$input" -out "$target" >/dev/null
}
crl() { # issuer revoked-cert-or-empty -> issuer.crl.pem
    local issuer=$1
    : >"$issuer.index"
    if [ -n "${2:-}" ]; then
        serial=$(openssl x509 -in "$2.pem" -noout -serial | cut -d= -f2)
        subject=$(openssl x509 -in "$2.pem" -noout -subject -nameopt compat | sed 's/^subject=//')
        printf 'R\t491231235959Z\t240101000000Z\t%s\tunknown\t%s\n' "$serial" "$subject" \
            >>"$issuer.index"
    fi
    cat >"$issuer.cnf" <<CNF
[ca]
default_ca = this
[this]
database = $issuer.index
crlnumber = $issuer.crlnumber
default_md = sha256
default_crl_days = $days
CNF
    echo 01 >"$issuer.crlnumber"
    openssl ca -config "$issuer.cnf" -gencrl -keyfile "$issuer.key" -cert "$issuer.pem" \
        -out "$out/crls/$issuer.pem" 2>/dev/null
}

root testroot "/CN=Quelda Test Root CA"
issue testca "/CN=Quelda Test Code Signing CA" testroot ca
issue publisher "/O=Quelda Test/CN=Quelda Test Publisher" testca leaf
issue someone "/CN=Someone Else Ltd" testca leaf
issue revoked "/CN=Quelda Test Publisher" testca leaf
issue_with_nul nulname testca
root foreignroot "/CN=Foreign Root CA"
issue foreign "/CN=Quelda Test Publisher" foreignroot leaf

sign publisher "$out/good.exe" testca.pem
sign someone "$out/other-signer.exe" testca.pem
sign foreign "$out/unknown-root.exe" foreignroot.pem
sign revoked "$out/revoked.exe" testca.pem
sign nulname "$out/nul-signer.exe" testca.pem
cp "$input" "$out/unsigned.exe"
cp "$out/good.exe" "$out/tampered.exe"
byte=$(xxd -s 0x50 -l 1 -p "$out/tampered.exe")
printf "%02x" $((0x$byte ^ 1)) | xxd -r -p | dd of="$out/tampered.exe" bs=1 seek=$((0x50)) \
    conv=notrunc status=none
crl testroot
crl testca revoked
cp testroot.pem "$out/roots/test-root.pem"
