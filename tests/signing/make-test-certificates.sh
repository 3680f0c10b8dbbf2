#!/usr/bin/env bash
# Makes a throwaway code-signing chain for the build's signing step and its
# tests, into OUTDIR (never into the source tree: the keys are made fresh on
# every machine and never committed).
#
#   make-test-certificates.sh OUTDIR
#
#   root.pem          the chain's own root; trusted only where a test says so
#   signing.pfx       a valid code-signing leaf under root.pem, with its key
#                     and root; password in OUTDIR/password
#   expired.pfx       the same kind of leaf, valid only in the past
#   not-yet-valid.pfx the same kind of leaf, valid only from next year on
#   server-only.pfx   a current leaf for TLS servers, not for code signing
#   tsa.pem, tsa.key  a timestamping authority under root.pem, for a local
#                     timestamp server
#   publisher         the leaves' common name (the signer's name a verifier sees)
#
# A chain that exists is kept while its signing certificate has a day left,
# so that a second run (CI, a developer) signs with the same certificate and
# the build is not made to sign again.
set -euo pipefail
out=${1:?usage: make-test-certificates.sh OUTDIR}
publisher="Miravell Test Build Signer"
mkdir -p "$out"
cd "$out"
if [ -s signing.pfx ] && openssl pkcs12 -in signing.pfx -passin file:password -nokeys -clcerts 2>/dev/null |
    openssl x509 -noout -checkend 86400 >/dev/null 2>&1; then
  exit 0
fi
umask 077
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

openssl rand -hex 16 > password
printf '%s\n' "$publisher" > publisher
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/root.key" 2>/dev/null
openssl req -x509 -new -key "$work/root.key" -sha256 -days 3650 -subj "/O=Miravell Test/CN=Miravell Test Build Root" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" -out root.pem

# openssl ca, unlike x509 -req, can set validity dates in the past or future.
mkdir -p "$work/ca"
: > "$work/ca/index.txt"
openssl rand -hex 16 > "$work/ca/serial"
cat > "$work/ca.cnf" <<CNF
[ca]
default_ca=test
[test]
database=$work/ca/index.txt
new_certs_dir=$work/ca
serial=$work/ca/serial
certificate=$PWD/root.pem
private_key=$work/root.key
default_md=sha256
policy=any
unique_subject=no
copy_extensions=none
[any]
commonName=supplied
organizationName=optional
[codesign]
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
[tsa]
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=critical,timeStamping
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
[server]
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
CNF

# issue NAME EXTENSIONS START END: $work/NAME.key and its certificate
# $work/NAME.pem (UTC times as YYYYMMDDHHMMSSZ).
issue() {
  openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/$1.key" 2>/dev/null
  openssl req -new -key "$work/$1.key" -subj "/O=Miravell Test/CN=$publisher" -out "$work/$1.csr"
  openssl ca -batch -config "$work/ca.cnf" -extensions "$2" -startdate "$3" -enddate "$4" \
    -rand_serial -notext -in "$work/$1.csr" -out "$work/$1.pem" 2>"$work/ca.log" || { cat "$work/ca.log" >&2; exit 1; }
}

# leaf NAME EXTENSIONS START END: NAME.pfx holding a new key, its
# certificate and the root.
leaf() {
  issue "$@"
  openssl pkcs12 -export -inkey "$work/$1.key" -in "$work/$1.pem" -certfile root.pem \
    -passout file:password -out "$1.pfx"
}
year=$(date -u +%Y)
leaf expired codesign "$((year - 3))0101000000Z" "$((year - 2))0101000000Z"
leaf not-yet-valid codesign "$((year + 1))0101000000Z" "$((year + 2))0101000000Z"
leaf server-only server "$((year - 1))0101000000Z" "$((year + 2))0101000000Z"
issue tsa tsa "$((year - 1))0101000000Z" "$((year + 2))0101000000Z"
cp "$work/tsa.pem" "$work/tsa.key" .
# Last: its presence says the folder is complete.
leaf signing codesign "$((year - 1))0101000000Z" "$((year + 2))0101000000Z"
