#!/usr/bin/env bash
# Makes the certificates the mock service presents to test how the player
# judges a server it does not trust. Leaves the pinned PKI of make-certs.sh
# (service-ca, service-leaf, backup keys, pins.txt) untouched: it only reads
# service-ca to sign with and to copy its name from.
#
#   attacker-ca, attacker-leaf   another CA; leaf for the service's host names
#   other-host-leaf              signed by service-ca, for other.localhost only
#   expired-leaf                 signed by service-ca, validity wholly past
#   selfsigned-leaf              self-signed, for the service's host names
#   forged-ca, forged-leaf       forged-ca copies service-ca's subject name and
#                                key identifier but has its own key
#   forged-leaf2                 issuer named service-ca but signed by forged-ca's
#                                key; served with the real service-ca.pem
#   public-ca, public-leaf       a root a test installs as trusted in the Wine
#                                prefix; leaf for public.localhost
#
# Run once; the results are committed. Existing outputs are kept unless
# --force is given. Writes the pin of every new key to test-pins.txt.
set -euo pipefail
cd "$(dirname "$0")"
days=7300
service_hosts="DNS:miravell.localhost,DNS:*.miravell.localhost"
service_ca_subject="/O=Miravell Test/CN=Miravell Local Service CA"

if [ -e test-pins.txt ] && [ "${1:-}" != "--force" ]; then
  echo "test certificates exist (test-pins.txt); pass --force to make new ones" >&2
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

newkey() { openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1" 2>/dev/null; }

# selfsign KEY SUBJECT EXTENSIONS_FILE OUT: a certificate the key signs itself.
selfsign() {
  { printf '[req]\ndistinguished_name=dn\n[dn]\n[v3]\n'; cat "$3"; } > "$work/req.cnf"
  openssl req -x509 -new -key "$1" -sha256 -days "$days" -subj "$2" \
    -config "$work/req.cnf" -extensions v3 -out "$4"
}

# make_ca NAME SUBJECT [SUBJECT_KEY_IDENTIFIER]
make_ca() {
  newkey "$1.key"
  cat > "$work/$1.ext" <<EXT
basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign,cRLSign
subjectKeyIdentifier=${3:-hash}
authorityKeyIdentifier=keyid:always
EXT
  selfsign "$1.key" "$2" "$work/$1.ext" "$1.pem"
}

leaf_ext() {
  cat <<EXT
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
subjectAltName=$1
EXT
}

# make_leaf NAME CN SAN ISSUER_PEM ISSUER_KEY
make_leaf() {
  newkey "$1.key"
  openssl req -new -key "$1.key" -sha256 -subj "/O=Miravell Test/CN=$2" -out "$work/$1.csr"
  leaf_ext "$3" > "$work/$1.ext"
  openssl x509 -req -in "$work/$1.csr" -CA "$4" -CAkey "$5" -set_serial "0x$(openssl rand -hex 16)" \
    -days "$days" -sha256 -extfile "$work/$1.ext" -out "$1.pem" 2>/dev/null
}

# 1. A different CA with a leaf for the service's names.
make_ca attacker-ca "/O=Miravell Test Attacker/CN=Miravell Attacker CA"
make_leaf attacker-leaf miravell.localhost "$service_hosts" attacker-ca.pem attacker-ca.key

# 2. The pinned CA's leaf for another host.
make_leaf other-host-leaf other.localhost "DNS:other.localhost" service-ca.pem service-ca.key

# 3. Signed by the pinned CA, expired long ago (openssl ca sets past dates).
newkey expired-leaf.key
openssl req -new -key expired-leaf.key -sha256 -subj "/O=Miravell Test/CN=miravell.localhost" -out "$work/expired.csr"
leaf_ext "$service_hosts" > "$work/expired.ext"
mkdir -p "$work/ca/new"
: > "$work/ca/index.txt"
openssl rand -hex 16 > "$work/ca/serial"
cat > "$work/ca/ca.cnf" <<CNF
[ca]
default_ca=local
[local]
dir=$work/ca
database=\$dir/index.txt
new_certs_dir=\$dir/new
serial=\$dir/serial
default_md=sha256
policy=any
unique_subject=no
copy_extensions=none
[any]
organizationName=optional
commonName=supplied
CNF
openssl ca -batch -notext -config "$work/ca/ca.cnf" -cert service-ca.pem -keyfile service-ca.key \
  -startdate 20200101000000Z -enddate 20210101000000Z -extfile "$work/expired.ext" \
  -in "$work/expired.csr" -out expired-leaf.pem 2>/dev/null

# 4. Self-signed leaf.
newkey selfsigned-leaf.key
leaf_ext "$service_hosts,DNS:selfsigned.localhost" > "$work/selfsigned.ext"
selfsign selfsigned-leaf.key "/O=Miravell Test/CN=selfsigned.localhost" "$work/selfsigned.ext" selfsigned-leaf.pem

# 5. A CA named exactly like service-ca (same subject, same key identifier),
#    with its own key, and a leaf it signed.
service_ca_skid=$(openssl x509 -in service-ca.pem -noout -ext subjectKeyIdentifier | tail -n 1 | tr -d ' ')
make_ca forged-ca "$service_ca_subject" "$service_ca_skid"
make_leaf forged-leaf miravell.localhost "$service_hosts" forged-ca.pem forged-ca.key

# 6. Issuer name and key identifier are service-ca's, the signature is not;
#    the mock serves it with the real service-ca.pem as the chain.
make_leaf forged-leaf2 miravell.localhost "$service_hosts" forged-ca.pem forged-ca.key

# 7. A root a test trusts in the Wine prefix, for public.localhost.
make_ca public-ca "/O=Miravell Test/CN=Miravell Test Public Root"
make_leaf public-leaf public.localhost "DNS:public.localhost,DNS:*.public.localhost" public-ca.pem public-ca.key

chmod 600 ./*.key
pin() { openssl pkey -in "$1" -pubout -outform DER | openssl dgst -sha256 -binary | base64; }
for name in attacker-ca attacker-leaf other-host-leaf expired-leaf selfsigned-leaf \
            forged-ca forged-leaf forged-leaf2 public-ca public-leaf; do
  echo "$name $(pin "$name.key")"
done > test-pins.txt
# make-outside-certs.sh's leaf is not made here; its pin stays listed.
[ -e outside-leaf.key ] && echo "outside-leaf $(pin outside-leaf.key)" >> test-pins.txt

# Fail loudly if a certificate did not come out as meant.
expect() { if [ "$1" != "$2" ]; then echo "make-test-certs: $3: got '$1', wanted '$2'" >&2; exit 1; fi; }
verify() { openssl verify -CAfile "$1" "$2" 2>&1 || true; }
expect "$(verify service-ca.pem other-host-leaf.pem)" "other-host-leaf.pem: OK" other-host-leaf
expect "$(verify attacker-ca.pem attacker-leaf.pem)" "attacker-leaf.pem: OK" attacker-leaf
expect "$(verify public-ca.pem public-leaf.pem)" "public-leaf.pem: OK" public-leaf
expect "$(verify forged-ca.pem forged-leaf.pem)" "forged-leaf.pem: OK" forged-leaf
expect "$(openssl x509 -in forged-ca.pem -noout -subject)" "$(openssl x509 -in service-ca.pem -noout -subject)" forged-ca
expect "$(openssl x509 -in forged-leaf2.pem -noout -issuer)" "$(openssl x509 -in service-leaf.pem -noout -issuer)" forged-leaf2
verify service-ca.pem expired-leaf.pem | grep -q "expired" || { echo "make-test-certs: expired-leaf is not expired" >&2; exit 1; }
verify service-ca.pem forged-leaf2.pem | grep -q "signature failure" || { echo "make-test-certs: forged-leaf2 verifies" >&2; exit 1; }
cat test-pins.txt
