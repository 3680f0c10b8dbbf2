#!/usr/bin/env bash
# Makes the code-signing certificates of the tests: the runtime installer the
# mock service hands out is signed with them, and the player checks that
# signature before it runs the installer elevated. Reads attacker-ca (made by
# make-test-certs.sh) and service-ca (make-certs.sh) to sign with; touches
# nothing else.
#
#   codesign-ca              the root a test trusts in the Wine prefix while it runs
#   codesign-leaf            signed by codesign-ca; its name is the local
#                            profile's expected installer publisher
#   codesign-other-leaf      signed by codesign-ca, under another name
#   codesign-attacker-leaf   the expected publisher's name, signed by
#                            attacker-ca, which nothing trusts
#   codesign-foreign-leaf    the expected publisher's name, signed by
#                            service-ca (made by make-certs.sh), a root the
#                            tests trust for other reasons: trusted, but not
#                            the publisher's root
#
# Run once; the results are committed. Existing outputs are kept unless
# --force is given.
set -euo pipefail
cd "$(dirname "$0")"
days=7300
publisher="Miravell Test Publisher"

if [ -e codesign-leaf.pem ] && [ "${1:-}" != "--force" ]; then
  echo "code-signing certificates exist; pass --force to make new ones" >&2
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

newkey() { openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1" 2>/dev/null; }

newkey codesign-ca.key
printf '[req]\ndistinguished_name=dn\n[dn]\n[v3]\nbasicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\nsubjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid:always\n' \
  > "$work/ca.cnf"
openssl req -x509 -new -key codesign-ca.key -sha256 -days "$days" \
  -subj "/O=Miravell Test/CN=Miravell Test Code Signing CA" -config "$work/ca.cnf" -extensions v3 -out codesign-ca.pem

# make_leaf NAME CN ISSUER: a code-signing leaf issued by ISSUER (.pem/.key).
make_leaf() {
  newkey "$1.key"
  openssl req -new -key "$1.key" -sha256 -subj "/O=Miravell Test/CN=$2" -out "$work/$1.csr"
  cat > "$work/$1.ext" <<EXT
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
EXT
  openssl x509 -req -in "$work/$1.csr" -CA "$3.pem" -CAkey "$3.key" -set_serial "0x$(openssl rand -hex 16)" \
    -days "$days" -sha256 -extfile "$work/$1.ext" -out "$1.pem" 2>/dev/null
}

make_leaf codesign-leaf "$publisher" codesign-ca
make_leaf codesign-other-leaf "Miravell Test Other Publisher" codesign-ca
make_leaf codesign-attacker-leaf "$publisher" attacker-ca
make_leaf codesign-foreign-leaf "$publisher" service-ca
chmod 600 ./*.key

# Fail loudly if a certificate did not come out as meant.
expect() { if [ "$1" != "$2" ]; then echo "make-signing-certs: $3: got '$1', wanted '$2'" >&2; exit 1; fi; }
verify() { openssl verify -CAfile "$1" "$2" 2>&1 || true; }
expect "$(verify codesign-ca.pem codesign-leaf.pem)" "codesign-leaf.pem: OK" codesign-leaf
expect "$(verify codesign-ca.pem codesign-other-leaf.pem)" "codesign-other-leaf.pem: OK" codesign-other-leaf
expect "$(verify attacker-ca.pem codesign-attacker-leaf.pem)" "codesign-attacker-leaf.pem: OK" codesign-attacker-leaf
expect "$(verify service-ca.pem codesign-foreign-leaf.pem)" "codesign-foreign-leaf.pem: OK" codesign-foreign-leaf
expect "$(openssl x509 -in codesign-attacker-leaf.pem -noout -subject)" \
       "$(openssl x509 -in codesign-leaf.pem -noout -subject)" codesign-attacker-leaf
