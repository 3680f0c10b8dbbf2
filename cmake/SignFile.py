"""Signs one file we ship with Authenticode, in place, as the last step of
the rule that made it (cmake/Signing.cmake).

    SignFile.py OSSLSIGNCODE OPENSSL PFX --timestamp=URL --description=TEXT FILE

The PFX's password comes from the environment (MIRAVELL_SIGN_PASSWORD), never
from the command line, which other users of the machine can read. Before
signing, the PFX's own certificate must be readable, valid now and made for
code signing: a signature from an expired or wrong certificate only fails
later, on a student's machine. URL may be empty (no timestamp).

When anything fails, FILE is deleted: the build fails and leaves no unsigned
or half-signed file where the signed one is expected, and the next build makes
it again.
"""
import datetime
import os
import subprocess
import sys

PASSWORD_VARIABLE = "MIRAVELL_SIGN_PASSWORD"


class Refused(Exception):
    pass


def run(command, stdin_text=None):
    done = subprocess.run(command, input=stdin_text, capture_output=True, text=True)
    return done.returncode, done.stdout, done.stderr


def leaf_certificate(openssl, pfx):
    """The PEM of the certificate that goes with the PFX's key."""
    if not os.path.isfile(pfx):
        raise Refused(f"the certificate {pfx} does not exist")
    if not os.access(pfx, os.R_OK):
        raise Refused(f"the certificate {pfx} cannot be read")
    code, out, err = run([openssl, "pkcs12", "-in", pfx, "-passin", "env:" + PASSWORD_VARIABLE,
                          "-nokeys", "-clcerts"])
    if code != 0 or "BEGIN CERTIFICATE" not in out:
        raise Refused(f"cannot read {pfx} (wrong {PASSWORD_VARIABLE}, or not a PKCS#12 file): {err.strip()}")
    return out


def openssl_time(text):
    # openssl's form: "Jan  1 00:00:00 2025 GMT"
    return datetime.datetime.strptime(" ".join(text.split()), "%b %d %H:%M:%S %Y GMT").replace(
        tzinfo=datetime.timezone.utc)


def check_certificate(openssl, pem, now):
    code, out, err = run([openssl, "x509", "-noout", "-subject", "-startdate", "-enddate",
                          "-ext", "extendedKeyUsage,keyUsage"], pem)
    if code != 0:
        raise Refused(f"cannot read the certificate: {err.strip()}")
    fields = {}
    extension = None
    for line in out.splitlines():
        if line.startswith(("notBefore=", "notAfter=", "subject=")):
            name, value = line.split("=", 1)
            fields[name] = value
        elif line.startswith("X509v3 "):
            extension = line.split(":")[0]
            fields[extension] = ""
        elif extension:
            fields[extension] += line.strip()
    subject = fields.get("subject", "?")
    start, end = openssl_time(fields["notBefore"]), openssl_time(fields["notAfter"])
    if now < start:
        raise Refused(f"the certificate ({subject}) is not valid before {start:%Y-%m-%d %H:%M} UTC")
    if now > end:
        raise Refused(f"the certificate ({subject}) expired on {end:%Y-%m-%d %H:%M} UTC")
    # Windows takes a certificate without these extensions for any use; a
    # certificate bought for signing code always names the use, so one that
    # does not is the wrong file.
    if "Code Signing" not in fields.get("X509v3 Extended Key Usage", ""):
        raise Refused(f"the certificate ({subject}) is not made for code signing (no Code Signing usage)")
    usage = fields.get("X509v3 Key Usage")
    if usage is not None and "Digital Signature" not in usage:
        raise Refused(f"the certificate ({subject}) may not make digital signatures (key usage: {usage})")
    return subject


def sign(osslsigncode, pfx, timestamp, description, path):
    fresh = path + ".signing"
    if os.path.exists(fresh):
        os.remove(fresh)
    command = [osslsigncode, "sign", "-pkcs12", pfx, "-readpass", "-", "-h", "sha256", "-n", description]
    if timestamp:
        command += ["-ts", timestamp]
    command += ["-in", path, "-out", fresh]
    code, out, err = run(command, os.environ.get(PASSWORD_VARIABLE, ""))
    if code != 0 or not os.path.isfile(fresh):
        if os.path.exists(fresh):
            os.remove(fresh)
        raise Refused(f"osslsigncode could not sign: {(out + err).strip()}")
    os.replace(fresh, path)


def main(osslsigncode, openssl, pfx, timestamp, description, path):
    # Given as --name=value, so that an empty value stays an argument.
    timestamp = timestamp.removeprefix("--timestamp=")
    description = description.removeprefix("--description=")
    name = os.path.basename(path)
    try:
        if not os.path.isfile(path):
            raise Refused("there is no such file to sign")
        subject = check_certificate(openssl, leaf_certificate(openssl, pfx),
                                    datetime.datetime.now(datetime.timezone.utc))
        sign(osslsigncode, pfx, timestamp, description, path)
    except Refused as refusal:
        if os.path.exists(path):
            os.remove(path)
        print(f"error: {name} not signed: {refusal}; {name} was removed so that no unsigned copy ships",
              file=sys.stderr)
        return 1
    stamp = f", timestamped by {timestamp}" if timestamp else ", not timestamped"
    print(f"{name}: signed by {subject}{stamp}")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 7:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
