"""Writes the header that tells the player which key signs it: the pin
(Base64 SHA-256 of the SubjectPublicKeyInfo) of the PFX's own certificate,
the same form as the connection pins.

    SignerKey.py OPENSSL PFX OUT      the PFX's pin
    SignerKey.py --unsigned OUT       an empty pin: a build that is not signed

The PFX's password comes from the environment (MIRAVELL_SIGN_PASSWORD), as
for signing. OUT is rewritten only when its text changes, so a second build
with the same key compiles nothing again.
"""
import base64
import hashlib
import os
import subprocess
import sys

from SignFile import Refused, leaf_certificate, run

HEADER = """#pragma once
// Made by the build (cmake/SignerKey.py): the pin of the key that signs this
// build's Miravell.exe; empty when the build does not sign.
#define MIRAVELL_SIGNER_KEY_PIN "{pin}"
"""


def pin_of(openssl, pfx):
    code, public_key, err = run([openssl, "x509", "-noout", "-pubkey"], leaf_certificate(openssl, pfx))
    if code != 0:
        raise Refused(f"cannot read the certificate's key: {err.strip()}")
    done = subprocess.run([openssl, "pkey", "-pubin", "-outform", "DER"], input=public_key.encode(),
                                        capture_output=True)
    if done.returncode != 0 or not done.stdout:
        raise Refused(f"cannot encode the certificate's key: {done.stderr.decode(errors='replace').strip()}")
    return base64.b64encode(hashlib.sha256(done.stdout).digest()).decode()


def write_if_changed(path, text):
    if os.path.isfile(path):
        with open(path, encoding="utf-8") as existing:
            if existing.read() == text:
                return
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path + ".new", "w", encoding="utf-8", newline="\n") as fresh:
        fresh.write(text)
    os.replace(path + ".new", path)


def main(arguments):
    if len(arguments) == 2 and arguments[0] == "--unsigned":
        pin, out = "", arguments[1]
    elif len(arguments) == 3:
        try:
            pin = pin_of(arguments[0], arguments[1])
        except Refused as refusal:
            print(f"error: no signer key for the player: {refusal}", file=sys.stderr)
            return 1
        out = arguments[2]
    else:
        sys.exit(__doc__)
    write_if_changed(out, HEADER.format(pin=pin))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
