"""The service client against the mock service: the engine's transport rules
and the certificate matrix, as the player meets them under Wine."""
import json
import os
import re
import socket
import ssl
import tempfile
import threading
import unittest

import interceptproxy
import mockservice
import uidriver
import winerun
from programs import ALERT_CLASS

SERVICE = "https://desktop.miravell.localhost"
OPERATOR_HOST = "desktop.miravell.localhost"
BLOCKED = "Pre-flight SSL Pin validation FAILED for {}. MITM Attack Prevented!"


# The Windows programs run under Wine unless a runner for real Windows is
# configured instead of testbed/wine/run.sh.
UNDER_WINE = os.path.basename(os.path.dirname(os.environ.get("MIRAVELL_RUN_WINDOWS", "wine/run.sh"))) == "wine"


def origin(mock, host):
    """https://host, with the mock's port when it does not serve on 443."""
    return f"https://{host}" + ("" if mock.https_port == 443 else f":{mock.https_port}")


def probe(*args, timeout=60):
    """Runs net_probe and returns (exit code, list of JSON answers)."""
    result = winerun.run_program("net_probe.exe", [str(a) for a in args], timeout=timeout)
    answers = [json.loads(line) for line in result.stdout.splitlines() if line.startswith("{")]
    return result.exit_code, answers


class MockTestCase(unittest.TestCase):
    """Every case starts from the mock's default answers and certificates."""

    @classmethod
    def setUpClass(cls):
        cls.mock = mockservice.shared()
        cls.pins = mockservice.MockService.pins()

    def setUp(self):
        self.mock.reset()


class EngineTest(MockTestCase):

    def log(self, where=None):
        return [r for r in self.mock.requests() if where is None or where(r)]

    @staticmethod
    def header(request, name):
        values = [v for k, v in request["headers"] if k.lower() == name.lower()]
        return values[0] if values else None

    def test_one_head_preflight_per_https_host_and_client(self):
        code, answers = probe("--pins-builtin", "get", SERVICE + "/a", "get", SERVICE + "/b",
                              "get", "https://services.miravell.localhost/c")
        self.assertEqual(code, 0)
        seen = [(r["method"], r["host"], r["path"]) for r in self.log()]
        self.assertEqual(seen, [("HEAD", OPERATOR_HOST, "/"), ("GET", OPERATOR_HOST, "/a"),
                                ("GET", OPERATOR_HOST, "/b"),
                                ("HEAD", "services.miravell.localhost", "/"),
                                ("GET", "services.miravell.localhost", "/c")])
        self.assertEqual([a["status"] for a in answers], [404, 404, 404])

    def test_a_warm_up_leaves_one_connection_per_host_and_a_failed_one_changes_no_answer(self):
        host = "mrvl.localhost"
        url = origin(self.mock, host)
        pin = ("--pin", f"{host}={self.pins['service-leaf']}")
        # (the host's key, commands after the pin; the warm-ups come first and the
        # answers are those of the same commands without them)
        down = f"https://{host}:1"  # nothing listens there
        cases = (
            ("service", ["get", url + "/a", "get", url + "/b"]),
            ("attacker", ["get", url + "/a"]),
            ("service", ["get", down + "/a"]),
            ("service", ["preflight", host]),
            ("attacker", ["preflight", host]),
        )
        for key, commands in cases:
            with self.subTest(key=key, commands=commands):
                answers = {}
                for warm in (False, True):
                    self.mock.reset()
                    if key != "service":
                        self.mock.tls(host, key)
                    target = commands[1] if commands[0] == "get" else url + "/"
                    ahead = ["warm-browser" if commands[0] == "preflight" else "warm", target] if warm else []
                    code, got = probe(*pin, *ahead, *commands)
                    self.assertEqual(code, 0)
                    answers[warm] = got[1:] if warm else got
                    if warm and key == "service" and target.startswith(url + "/"):
                        sessions = [h for h in self.mock.handshakes() if h["sni"] == host and h["ok"]]
                        self.assertEqual(len(sessions), 1, "the warm-up's connection carries every request")
                    self.assertNotIn("GET", [r["method"] for r in self.log() if r["host"] == host and key != "service"])
                self.assertEqual(answers[True], answers[False])

    def test_redirect_and_error_statuses_are_returned_unchanged_with_their_bodies_and_not_followed(self):
        self.mock.route(method="GET", path="/moved", status=302, headers={"Location": SERVICE + "/target"})
        self.mock.route(method="GET", path="/missing", status=404, body='{"message":"gone"}',
                        headers={"Content-Type": "application/json"})
        _, answers = probe("--pins-builtin", "get", SERVICE + "/moved", "get", SERVICE + "/missing")
        self.assertEqual(answers, [{"status": 302, "success": False, "error": "", "body": ""},
                                   {"status": 404, "success": False, "error": "", "body": '{"message":"gone"}'}])
        self.assertEqual([r["path"] for r in self.log(lambda r: r["method"] == "GET")], ["/moved", "/missing"])

    def test_empty_body_and_content_type_send_neither(self):
        probe("--pins-builtin", "request", "POST", SERVICE + "/empty", "", "",
              "request", "PUT", SERVICE + "/form", "a=1&b=2", "application/x-www-form-urlencoded")
        empty, form = self.log(lambda r: r["method"] in ("POST", "PUT"))
        self.assertEqual(empty["body"], "")
        self.assertIsNone(self.header(empty, "Content-Type"))
        self.assertEqual(self.header(empty, "Content-Length"), "0")
        self.assertEqual(form["body"], "a=1&b=2")
        self.assertEqual(self.header(form, "Content-Type"), "application/x-www-form-urlencoded")

    def test_default_headers_and_device_headers_only_for_service_hosts(self):
        self.mock.tls("cdn.public.localhost", "public")
        # A look-alike that holds a service domain as text but is not under it.
        look_alike = "xmiravell.localhost"
        code, _ = probe("--trust-root", mockservice.MockService.cert_path("public-ca"),
                        "--pins-builtin", "--pin", f"{look_alike}={self.pins['service-leaf']}",
                        "--header", "X-Empty=", "--header", "X-Tag=one",
                        "get", SERVICE + "/svc", "get", "https://cdn.public.localhost/other",
                        "get", f"https://{look_alike}/other")
        self.assertEqual(code, 0)
        service, *others = self.log(lambda r: r["method"] == "GET")
        self.assertEqual(self.header(service, "X-Empty"), "")  # sent as "X-Empty: "
        self.assertEqual(self.header(service, "X-Tag"), "one")
        self.assertEqual(self.header(service, "User-Agent"), "MiravellDesk/4.8")
        self.assertIsNotNone(self.header(service, "X-Host-Id"))  # the model is never empty
        self.assertEqual([r["host"] for r in others], ["cdn.public.localhost", look_alike])
        for other in others:
            for name in ("X-Empty", "X-Tag", "X-Host-Id", "X-Machine"):
                self.assertIsNone(self.header(other, name), (other["host"], name))

    def test_headers_set_by_the_calls_stay_on_the_shared_client(self):
        code, answers = probe("--pins-builtin", "load-pins", "content", "https://miravell.localhost", "id 1", "tok",
                              "servers", "https://miravell.localhost")
        self.assertEqual(code, 0)
        self.assertTrue(answers[1]["found"], answers[1])
        (put,) = self.log(lambda r: r["method"] == "PUT")
        self.assertEqual(put["body"], "link_tk=tok&id=id+1")
        (post,) = self.log(lambda r: r["method"] == "POST")
        for name in ("X-Secret", "X-Device-Guid", "X-Device-Board", "X-Client-Id", "X-Machine", "X-Host-Id"):
            self.assertIsNotNone(self.header(post, name), name)
        self.assertEqual(self.header(post, "X-Client-Id"), "desk-480")
        self.assertEqual(self.header(post, "Content-Type"), "application/x-www-form-urlencoded")
        self.assertEqual(answers[2], {"servers": ["https://edge1.miravell.localhost"]})

    def test_transport_failures_carry_their_texts_and_numbers(self):
        self.mock.route(method="GET", path="/drop", close=True)
        cases = [
            ("not a url", r"Failed to parse URL"),
            ("https://127.0.0.3/x", r"WinHttpSendRequest failed: \d+"),
            ("http://127.0.0.3/x", r"WinHttpSendRequest failed: \d+"),
            (SERVICE + "/drop", r"WinHttp(Receive|Send)\w* failed: \d+"),  # the connection closed unanswered
        ]
        _, answers = probe("--pins-builtin", *[a for url, _ in cases for a in ("get", url)])
        self.assertEqual(len(answers), len(cases), answers)
        for (url, error), answer in zip(cases, answers):
            with self.subTest(url=url):
                self.assertEqual(answer["status"], 0)
                self.assertRegex(answer["error"], f"^{error}$")

    def test_a_new_connection_under_another_key_gets_no_request_byte(self):
        # The pre-flight and a first request pass under the pinned key; that
        # answer closes its connection and hands the host to the attacker's
        # key, so the same client's next request (its host already checked)
        # meets that key on a connection of its own.
        host = "mrvl.localhost"  # a service host: it is sent the secret and the identity
        token = "link-token-7f3a"
        self.mock.route(host=host, method="HEAD", headers={"Connection": "close"})
        self.mock.route(host=host, method="GET", path="/first", body="one", headers={"Connection": "close"},
                        then_tls="attacker")
        code, answers = probe("--pin", f"{host}={self.pins['service-leaf']}",
                              "--header", "X-Secret=local-mock-secret-012345678",
                              "get", origin(self.mock, host) + "/first", "content", origin(self.mock, host), "id-1", token)
        self.assertEqual(code, 0)
        self.assertEqual((answers[0]["status"], answers[0]["body"]), (200, "one"))
        self.assertEqual(answers[1], {"found": False, "error": f"SSL Pin validation FAILED for {host}"})
        attacker = [h for h in self.mock.handshakes() if h["profile"] == "attacker"]
        self.assertEqual([h["ok"] for h in attacker], [True], self.mock.handshakes())
        received = attacker[0]["received"]
        self.assertNotIn(token, received)
        self.assertNotIn("link_tk", received)
        if UNDER_WINE:
            # Wine's WinHTTP writes the request line and headers it built
            # before the pre-send notification even when the request was
            # cancelled there; Windows stops at that point. The body, which
            # waits for the pins, never leaves on either.
            self.assertTrue(received == "" or received.endswith("\r\n\r\n"), received)
        else:
            self.assertEqual((attacker[0]["received_bytes"], received), (0, ""))


class BoundsTest(MockTestCase):
    """A server that sends too much or too slowly ends the request as a
    transport failure, and the program's next request goes through."""

    DEADLINE_MS = 3000

    def test_endless_slow_or_stalled_bodies_end_within_the_deadline(self):
        cases = [
            # path, drip, error
            ("/endless", {"bytes": 65536}, "Response body too large"),
            ("/drip", {"bytes": 1, "interval_ms": 100}, "Request deadline exceeded"),
            ("/stall", {"bytes": 1, "interval_ms": 120000, "chunks": 2}, "Request deadline exceeded"),
        ]
        for path, drip, _ in cases:
            self.mock.route(method="GET", path=path, drip=drip)
        args = ["--pins-builtin", "--deadline-ms", self.DEADLINE_MS]
        for path, _, _ in cases:
            args += ["timed-get", SERVICE + path]
        code, answers = probe(*args, "timed-get", SERVICE + "/after", timeout=120)
        self.assertEqual(code, 0)
        self.assertEqual(len(answers), len(cases) + 1, answers)
        for (path, _, error), answer in zip(cases, answers):
            with self.subTest(path=path):
                self.assertEqual((answer["status"], answer["success"], answer["error"], answer["body"]),
                                 (0, False, error, ""))
                # One read may start just before the deadline; a read's own
                # timeout (30 s) must not be what ended it.
                self.assertLess(answer["ms"], self.DEADLINE_MS + 1500, answer["ms"])
        self.assertEqual((answers[-1]["status"], answers[-1]["error"]), (404, ""))


class StallingListener:
    """A loopback listener that stops a client at one step: "connect" never
    accepts (its backlog is full), "handshake" accepts and never answers the
    TLS hello, "preflight" completes the handshake after `delay` seconds
    under the pinned service key and never answers a request."""

    def __init__(self, stage, delay=0.0):
        self.stage, self.delay = stage, delay
        self.server = socket.socket()
        self.server.bind(("127.0.0.1", 0))
        self.port = self.server.getsockname()[1]
        self.held = []
        self.closed = threading.Event()
        if stage == "connect":
            self.server.listen(0)
            for _ in range(8):
                filler = socket.socket()
                filler.setblocking(False)
                filler.connect_ex(("127.0.0.1", self.port))
                self.held.append(filler)
        else:
            self.server.listen(8)
            threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while not self.closed.is_set():
            try:
                conn, _ = self.server.accept()
            except OSError:
                return
            self.held.append(conn)
            if self.stage == "preflight":
                threading.Thread(target=self._handshake_then_stall, args=(conn,), daemon=True).start()

    def _handshake_then_stall(self, conn):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(mockservice.MockService.cert_path("service-leaf"),
                                mockservice.MockService.cert_path("service-leaf.key"))
        if self.closed.wait(self.delay):
            return
        try:
            tls = context.wrap_socket(conn, server_side=True)
            self.held.append(tls)
            tls.recv(65536)  # the request, never answered
            self.closed.wait()
        except (OSError, ssl.SSLError):
            pass

    def close(self):
        self.closed.set()
        for sock in self.held + [self.server]:
            try:
                sock.close()
            except OSError:
                pass


class DeadlineTest(MockTestCase):
    """Whatever step stalls, a request ends by its deadline."""

    DEADLINE_MS = 6000

    def test_stalled_steps_end_within_the_deadline(self):
        cases = [
            # stage, delay before the handshake (s)
            ("connect", 0.0),
            ("handshake", 0.0),
            # The handshake takes a third of the deadline, then the HEAD is
            # never answered: the wait for its answer gets only what is left.
            ("preflight", self.DEADLINE_MS / 3000.0),
        ]
        listeners = [StallingListener(stage, delay) for stage, delay in cases]
        try:
            args = ["--pin", f"127.0.0.1={self.pins['service-leaf']}", "--deadline-ms", self.DEADLINE_MS]
            for listener in listeners:
                args += ["timed-get", f"https://127.0.0.1:{listener.port}/x"]
            code, answers = probe(*args, timeout=120)
        finally:
            for listener in listeners:
                listener.close()
        self.assertEqual(code, 0)
        self.assertEqual(len(answers), len(cases), answers)
        for (stage, _), answer in zip(cases, answers):
            with self.subTest(stage=stage):
                self.assertEqual((answer["status"], answer["body"]), (0, ""))
                self.assertNotEqual(answer["error"], "")
                self.assertLessEqual(answer["ms"], self.DEADLINE_MS + 1000, answer)


class CertificateMatrixTest(MockTestCase):
    """One case per way a connection can be genuine or intercepted."""

    def setUp(self):
        super().setUp()
        self.folder = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.folder.cleanup()

    def test_each_way_a_connection_is_genuine_or_intercepted(self):
        ca = ("miravell.localhost", "service-ca")
        cases = [
            # host, the certificate it shows, its pins (scope, key), options, the outcome
            ("leaf.public.localhost", "service", [("leaf.public.localhost", "service-leaf")], [], "passes"),
            (OPERATOR_HOST, "service", [ca], [], "passes"),  # a valid chain for the host under the pinned CA
            ("selfsigned.localhost", "self-signed", [("selfsigned.localhost", "selfsigned-leaf")], [], "passes"),
            (OPERATOR_HOST, "expired", [ca], [], "passes"),  # an expired leaf under the pinned CA is tolerated
            ("victim.public.localhost", "attacker", [("victim.public.localhost", "service-ca")], [], "blocked"),
            # a leaf for another host under the pinned CA
            ("victim.public.localhost", "other-host", [("victim.public.localhost", "service-ca")], [], "blocked"),
            ("selfsigned.localhost", "self-signed", [], [], "refused"),  # unpinned and untrusted
            ("cdn.public.localhost", "public", [],
             ["--trust-root", mockservice.MockService.cert_path("public-ca")], "passes"),
        ]
        for host, profile, pins, options, outcome in cases:
            with self.subTest(host=host, profile=profile, pinned=bool(pins)):
                self.mock.reset()
                self.mock.tls(host, profile)
                pin_args = [a for scope, key in pins for a in ("--pin", f"{scope}={self.pins[key]}")]
                _, answers = probe(*options, *pin_args, "get", f"https://{host}/check")
                status, error = {"passes": (404, ""),  # the mock's default answer
                                 "blocked": (0, re.escape(BLOCKED.format(host))),
                                 "refused": (0, r"WinHttpSendRequest failed: \d+")}[outcome]
                self.assertEqual(answers[0]["status"], status, answers[0])
                self.assertRegex(answers[0]["error"], f"^{error}$")

    def test_unreachable_pinned_host_fails_quietly_but_blocks_the_browser(self):
        host = "127.0.0.3"
        pin = f"{host}={self.pins['service-leaf']}"
        code, answers = probe("--pin", pin, "get", f"https://{host}/x", "preflight", host)
        self.assertEqual(code, 0, "no alert: the process went on")
        self.assertEqual((answers[0]["status"], answers[0]["error"]), (0, BLOCKED.format(host)))
        self.assertEqual(answers[1], {"allowed": False})
        self.assertEqual(uidriver.windows(cls=ALERT_CLASS), [])

    def test_the_browser_check_meets_the_certificate_a_proxy_shows(self):
        # The browser goes through the user's proxy, so its pin check must too:
        # an inspecting proxy shows its own certificate where a direct
        # connection would meet the genuine one. Service calls stay direct.
        host = "leaf.public.localhost"
        pin = f"{host}={self.pins['service-leaf']}"
        self.mock.tls(host, "service")
        with interceptproxy.InterceptingProxy() as proxy:
            code, answers = probe("--pin", pin, "get", f"https://{host}/direct", "preflight", host, "preflight", host)
        self.assertEqual(code, 0)
        self.assertEqual(answers[0]["status"], 404, "the service call went direct, past the proxy")
        self.assertEqual(answers[1:], [{"allowed": False}, {"allowed": False}])
        self.assertEqual(proxy.connects, [f"{host}:443"], "one check: the refusal is remembered")
        _, answers = probe("--pin", pin, "preflight", host)
        self.assertEqual(answers, [{"allowed": True}], "the same host, reached directly")

    def test_an_interception_ends_in_the_alert_with_its_code(self):
        long_host = "x" * 120 + ".example"
        service_call = ["--pins-builtin", "get", SERVICE + "/pins"]
        cases = [
            # the certificate the operator's host shows, the commands, the alert's code
            ("attacker", service_call, "SSL_" + OPERATOR_HOST),
            ("forged", service_call, "SSL_" + OPERATOR_HOST),  # a forged chain naming the pinned CA
            ("forged-real-chain", service_call, "SSL_" + OPERATOR_HOST),  # a signature that does not verify
            ("service", ["browser-fail", long_host], ("MITM_PIN_" + long_host)[:100]),  # the browser's, shortened
        ]
        for profile, commands, code in cases:
            with self.subTest(profile=profile, command=commands[-2]):
                self.mock.reset()
                self.mock.tls(OPERATOR_HOST, profile)
                record = os.path.join(self.folder.name, profile + ".txt")
                program = winerun.start_program("net_probe.exe", ["--tick-ms", "100", "--record",
                                                                  winerun.windows_path(record), *commands])
                uidriver.wait_window(cls=ALERT_CLASS)
                self.assertEqual(uidriver.clipboard(), code)
                result = program.finish(60)
                self.assertEqual(result.exit_code, 1)
                self.assertNotIn("{", result.stdout, "the request never returned")
                with open(record, encoding="utf-8") as handle:
                    line = handle.read()
                self.assertIn("Network Connection Intercepted - اتصال غير آمن", line)
                self.assertIn(">" + code + "<", line)


if __name__ == "__main__":
    unittest.main()
