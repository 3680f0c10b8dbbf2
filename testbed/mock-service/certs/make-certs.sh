#!/usr/bin/env bash
# Makes the local test PKI of the mock service: a certificate authority whose
# key the local build pins, and a leaf for the service's local host names.
# Run once; the results are committed so every machine pins the same keys.
set -euo pipefail
cd "$(dirname "$0")"
days=7300

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days "$days" \
  -keyout service-ca.key -out service-ca.pem \
  -subj "/O=Miravell Test/CN=Miravell Local Service CA" \
  -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign"

openssl req -newkey rsa:2048 -nodes -sha256 -keyout service-leaf.key -out service-leaf.csr \
  -subj "/O=Miravell Test/CN=miravell.localhost"
cat > service-leaf.ext <<EXT
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=DNS:miravell.localhost,DNS:*.miravell.localhost
EXT
openssl x509 -req -in service-leaf.csr -CA service-ca.pem -CAkey service-ca.key -CAcreateserial \
  -days "$days" -sha256 -extfile service-leaf.ext -out service-leaf.pem
rm -f service-leaf.csr service-leaf.ext service-ca.srl

# Two spare keys stand for the backup pins a real deployment keeps.
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out backup-1.key 2>/dev/null
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out backup-2.key 2>/dev/null

pin() { openssl pkey -pubout -outform DER | openssl dgst -sha256 -binary | base64; }
{
  echo "service-ca $(openssl x509 -in service-ca.pem -noout -pubkey | openssl pkey -pubin -outform DER | openssl dgst -sha256 -binary | base64)"
  echo "service-leaf $(pin < service-leaf.key)"
  echo "backup-1 $(pin < backup-1.key)"
  echo "backup-2 $(pin < backup-2.key)"
} > pins.txt
cat pins.txt
