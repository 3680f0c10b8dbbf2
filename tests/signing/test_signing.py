"""The build's signing step (cmake/SignFile.py) and policy (cmake/Signing.cmake)
with a throwaway chain from make-test-certificates.sh: which certificates it
refuses, that a refusal leaves no file behind, and that a build signed once
and built again with another certificate, a broken one or none never keeps a
stale signature. Needs osslsigncode, openssl, cmake and ninja on this machine;
SIGNING_INPUT names a Windows program of the build to sign copies of."""
import http.server
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))
SIGN_FILE = os.path.join(SOURCE, "cmake", "SignFile.py")
POLICY_PROJECT = os.path.join(HERE, "policy")


def run(command, env=None):
    """Runs command with env's variables set (None: removed)."""
    full_env = dict(os.environ)
    for name, value in (env or {}).items():
        if value is None:
            full_env.pop(name, None)
        else:
            full_env[name] = value
    return subprocess.run(command, capture_output=True, text=True, env=full_env)


def verify(path, *options):
    """osslsigncode on path's signature against the chain's root alone."""
    return run(["osslsigncode", "verify", "-CAfile", chain("root.pem"), *options, "-in", path])


class TimestampServer:
    """An RFC 3161 timestamp server on loopback answering with openssl ts,
    signing with the chain's timestamping certificate."""

    def __init__(self):
        config = chain("tsa.cnf")
        with open(config, "w", encoding="ascii") as handle:
            handle.write(f"""[tsa]
default_tsa=local
[local]
serial={chain("serial")}
signer_cert={chain("tsa.pem")}
signer_key={chain("tsa.key")}
signer_digest=sha256
default_policy=1.2.3.4.1
digests=sha256
ess_cert_id_alg=sha256
""")
        self.requests = 0
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                server.requests += 1
                query = chain("query")
                with open(query, "wb") as handle:
                    handle.write(self.rfile.read(int(self.headers["Content-Length"])))
                done = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", query],
                                      capture_output=True)
                self.send_response(200 if done.returncode == 0 else 500)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(done.stdout)))
                self.end_headers()
                self.wfile.write(done.stdout)

            def log_message(self, *args):
                pass

        self.http = http.server.HTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.http.server_address[1]}/"
        threading.Thread(target=self.http.serve_forever, daemon=True).start()

    def close(self):
        self.http.shutdown()
        self.http.server_close()


def setUpModule():
    # One chain for the whole module: making it takes a few seconds.
    global CHAIN
    CHAIN = tempfile.mkdtemp(prefix="signing-chain-")
    subprocess.run([os.path.join(HERE, "make-test-certificates.sh"), CHAIN], check=True)


def tearDownModule():
    shutil.rmtree(CHAIN, ignore_errors=True)


def chain(name):
    return os.path.join(CHAIN, name)


def password():
    with open(chain("password"), encoding="ascii") as handle:
        return handle.read().strip()


class SignStepTest(unittest.TestCase):
    def test_only_a_current_code_signing_certificate_signs_and_a_refusal_leaves_no_file(self):
        work = tempfile.mkdtemp(prefix="signing-step-")
        self.addCleanup(shutil.rmtree, work, True)
        target = os.path.join(work, "Miravell.exe")
        server = TimestampServer()
        self.addCleanup(server.close)
        cases = [
            # name, PFX, password, refusal (None: signed, and timestamped by the server given)
            ("current code-signing certificate", "signing.pfx", None, None),
            ("expired", "expired.pfx", None, "expired on"),
            ("not yet valid", "not-yet-valid.pfx", None, "is not valid before"),
            ("made for TLS servers only", "server-only.pfx", None, "not made for code signing"),
            ("wrong password", "signing.pfx", "not-the-password", "cannot read"),
            ("no such file", "absent.pfx", None, "does not exist"),
        ]
        for name, pfx, given, refusal in cases:
            with self.subTest(name):
                shutil.copyfile(os.environ["SIGNING_INPUT"], target)
                done = run([sys.executable, SIGN_FILE, "osslsigncode", "openssl", chain(pfx),
                            "--timestamp=" + server.url, "--description=Miravell", target],
                           env={"MIRAVELL_SIGN_PASSWORD": given or password()})
                if refusal is None:
                    self.assertEqual(done.returncode, 0, done.stderr)
                    self.assertEqual(server.requests, 1)
                    checked = verify(target, "-TSA-CAfile", chain("root.pem"))
                    self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
                    self.assertIn("Timestamp Server Signature verification: ok", checked.stdout)
                else:
                    self.assertNotEqual(done.returncode, 0)
                    self.assertIn(refusal, done.stderr)
                    self.assertFalse(os.path.exists(target), "a refused file must not stay behind")


class PolicyTest(unittest.TestCase):
    """Configures and builds the policy project with Ninja, as the product's
    build would, environment and all."""

    def setUp(self):
        self.build = tempfile.mkdtemp(prefix="signing-policy-")
        self.addCleanup(shutil.rmtree, self.build, True)
        self.product = os.path.join(self.build, "Product.exe")

    def configure(self, profile, pfx="", extra=()):
        """pfx None: MIRAVELL_SIGN_PFX not in the environment at all."""
        env = {"MIRAVELL_SIGN_PFX": pfx, "MIRAVELL_SIGN_TIMESTAMP_URL": ""}
        return run(["cmake", "-G", "Ninja", "-S", POLICY_PROJECT, "-B", self.build,
                    f"-DMIRAVELL_PROFILE={profile}", f"-DINPUT={os.environ['SIGNING_INPUT']}", *extra], env=env)

    def build_product(self):
        return run(["cmake", "--build", self.build], env={"MIRAVELL_SIGN_PASSWORD": password()})

    def test_a_certificate_is_required_where_the_build_ships(self):
        cases = [
            # name, profile, PFX, extra arguments, configures, text in the output
            ("production without a certificate", "production", "", (), False, "No code-signing certificate"),
            ("production made unsigned by hand", "production", "", ("-DMIRAVELL_SIGN_REQUIRED=OFF",), True,
             "stay unsigned"),
            ("local without a certificate", "local", None, (), True, "stay unsigned"),
            ("a certificate that is not there", "local", "/nonexistent/signing.pfx", (), False, "does not exist"),
        ]
        for name, profile, pfx, extra, configures, text in cases:
            with self.subTest(name):
                shutil.rmtree(self.build, ignore_errors=True)
                done = self.configure(profile, pfx, extra)
                self.assertEqual(done.returncode == 0, configures, done.stdout + done.stderr)
                self.assertIn(text, done.stdout + done.stderr)

    def test_each_build_leaves_the_file_signed_by_the_configured_certificate_or_not_at_all(self):
        signing, expired = chain("signing.pfx"), chain("expired.pfx")
        # The certificate file at a path of its own, to be replaced in place.
        replaced = os.path.join(self.build, "..", os.path.basename(self.build) + "-cert.pfx")
        shutil.copyfile(signing, replaced)
        self.addCleanup(os.remove, replaced)
        keep = object()
        steps = [
            # name, configure with (keep: no new configure), replace the certificate with, builds, file state
            ("signed", signing, None, True, "signed"),
            ("configured again without the variable", None, None, True, "signed"),
            ("an expired certificate", expired, None, False, "absent"),
            ("built again while it is still expired", keep, None, False, "absent"),
            ("a good certificate again", signing, None, True, "signed"),
            ("no certificate", "", None, True, "unsigned"),
            ("a certificate again", replaced, None, True, "signed"),
            ("the certificate file replaced by an expired one", keep, expired, False, "absent"),
        ]
        for name, pfx, replacement, builds, state in steps:
            with self.subTest(name):
                if pfx is not keep:
                    configured = self.configure("local", pfx)
                    self.assertEqual(configured.returncode, 0, configured.stdout + configured.stderr)
                if replacement is not None:
                    shutil.copyfile(replacement, replaced)
                built = self.build_product()
                self.assertEqual(built.returncode == 0, builds, built.stdout + built.stderr)
                present = os.path.exists(self.product)
                self.assertEqual(present, state != "absent")
                if present:
                    self.assertEqual(verify(self.product).returncode == 0, state == "signed")


if __name__ == "__main__":
    unittest.main()
