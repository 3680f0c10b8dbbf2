#!/usr/bin/env bash
# Makes the leaf the mock presents for outside host names that lessons use
# (the video platform's page and image hosts), signed by the pinned test CA,
# so that a browser told to trust that CA (the Chromium runtime of
# testbed/chromium-runtime, installed with the test bed's --browser-args) loads
# those pages from the mock. Reads service-ca only; the player's pins stay as
# they are.
#
#   outside-leaf   youtube.com, youtube-nocookie.com, ytimg.com and their
#                  subdomains; served with service-ca.pem
#
# Run once; the results are committed. An existing leaf is kept unless
# --force is given. Writes its pin to test-pins.txt.
set -euo pipefail
cd "$(dirname "$0")"
days=7300
names="DNS:youtube.com,DNS:*.youtube.com,DNS:youtube-nocookie.com,DNS:*.youtube-nocookie.com,DNS:ytimg.com,DNS:*.ytimg.com"

if [ -e outside-leaf.pem ] && [ "${1:-}" != "--force" ]; then
  echo "outside-leaf exists; pass --force to make a new one" >&2
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out outside-leaf.key 2>/dev/null
chmod 600 outside-leaf.key
openssl req -new -key outside-leaf.key -sha256 -subj "/O=Miravell Test/CN=www.youtube.com" -out "$work/leaf.csr"
cat > "$work/leaf.ext" <<EXT
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
subjectAltName=$names
EXT
openssl x509 -req -in "$work/leaf.csr" -CA service-ca.pem -CAkey service-ca.key \
  -set_serial "0x$(openssl rand -hex 16)" -days "$days" -sha256 -extfile "$work/leaf.ext" \
  -out outside-leaf.pem 2>/dev/null

result=$(openssl verify -CAfile service-ca.pem outside-leaf.pem 2>&1 || true)
if [ "$result" != "outside-leaf.pem: OK" ]; then
  echo "make-outside-certs: outside-leaf does not verify: $result" >&2
  exit 1
fi
pin=$(openssl pkey -in outside-leaf.key -pubout -outform DER | openssl dgst -sha256 -binary | base64)
{ grep -v '^outside-leaf ' test-pins.txt || true; echo "outside-leaf $pin"; } > "$work/pins"
cat "$work/pins" > test-pins.txt
echo "outside-leaf $pin"
