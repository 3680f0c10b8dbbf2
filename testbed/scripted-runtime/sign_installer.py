"""Signs a test installer the way its publisher would, after each link, and
writes the copies the player must refuse to run.

    sign_installer.py OSSLSIGNCODE CERTS_DIR PROGRAM [VARIANTS_DIR]

PROGRAM is signed in place with codesign-leaf (chain: codesign-ca). With
VARIANTS_DIR, these are written there too:

    unsigned.exe         PROGRAM as linked
    untrusted-ca.exe     the publisher's name, from a CA nothing trusts
    other-publisher.exe  from the trusted CA, under another name
    other-root.exe       the publisher's name, from another root the tests
                         trust (the mock service's CA)
    tampered.exe         the signed PROGRAM with one byte changed afterwards

The changed byte is in the DOS stub's message: the signature covers it, and
the program still runs, so a test sees whether a refused copy was started.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

STUB_MESSAGE = b"This program cannot be run in DOS mode"


def signed(path):
    """Whether the file already carries a signature (its certificate table is not empty)."""
    with open(path, "rb") as handle:
        data = handle.read(4096)
    header = struct.unpack_from("<I", data, 0x3C)[0]
    magic = struct.unpack_from("<H", data, header + 24)[0]
    directories = header + 24 + (112 if magic == 0x20B else 96)
    return struct.unpack_from("<II", data, directories + 4 * 8)[1] != 0


def sign(tool, certs, leaf, ca, source, target):
    """Signs source into target (replaced when it exists; the tool never overwrites)."""
    fresh = target + ".new"
    if os.path.exists(fresh):
        os.remove(fresh)
    subprocess.run([tool, "sign", "-certs", os.path.join(certs, leaf + ".pem"),
                    "-key", os.path.join(certs, leaf + ".key"), "-ac", os.path.join(certs, ca + ".pem"),
                    "-h", "sha256", "-in", source, "-out", fresh],
                   check=True, stdout=subprocess.DEVNULL)
    os.replace(fresh, target)


def main(tool, certs, program, variants=None):
    with tempfile.TemporaryDirectory() as work:
        plain = os.path.join(work, "plain.exe")
        if signed(program):
            subprocess.run([tool, "remove-signature", "-in", program, "-out", plain],
                           check=True, stdout=subprocess.DEVNULL)
        else:
            shutil.copyfile(program, plain)
        result = os.path.join(work, "signed.exe")
        sign(tool, certs, "codesign-leaf", "codesign-ca", plain, result)
        if variants:
            os.makedirs(variants, exist_ok=True)
            shutil.copyfile(plain, os.path.join(variants, "unsigned.exe"))
            sign(tool, certs, "codesign-attacker-leaf", "attacker-ca", plain, os.path.join(variants, "untrusted-ca.exe"))
            sign(tool, certs, "codesign-other-leaf", "codesign-ca", plain, os.path.join(variants, "other-publisher.exe"))
            sign(tool, certs, "codesign-foreign-leaf", "service-ca", plain, os.path.join(variants, "other-root.exe"))
            with open(result, "rb") as handle:
                data = bytearray(handle.read())
            at = data.find(STUB_MESSAGE)
            if at < 0 or at > 0x200:
                sys.exit(f"sign_installer: no DOS stub message in {program}")
            data[at] ^= 0x20  # "This" -> "this"
            with open(os.path.join(variants, "tampered.exe"), "wb") as handle:
                handle.write(data)
        shutil.copyfile(result, program)


if __name__ == "__main__":
    if len(sys.argv) not in (4, 5):
        sys.exit(__doc__)
    main(*sys.argv[1:])
