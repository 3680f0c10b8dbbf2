"""The local service mock: certificates per host, scripted answers, the log."""
import http.client
import json
import os
import re
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import mockservice  # noqa: E402

DESKTOP = "desktop.miravell.localhost"
SERVICES = "services.miravell.localhost"


class Connection(http.client.HTTPSConnection):
    """Reaches the mock on 127.0.0.1 while asking for `host` by SNI."""

    def connect(self):
        sock = socket.create_connection(("127.0.0.1", self.port), self.timeout)
        self.sock = self._context.wrap_socket(sock, server_hostname=self.host)


def client_context(ca="service-ca"):
    return ssl.create_default_context(cafile=mockservice.MockService.cert_path(ca))


def pem_blocks(text):
    return re.findall(r"-----BEGIN CERTIFICATE-----[^-]+-----END CERTIFICATE-----", text)


class MockServiceTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.state = tempfile.TemporaryDirectory(prefix="mock-test-")
        cls.mock = mockservice.MockService().start(cls.state.name, https_port=0, bind="127.0.0.1")
        cls.addClassCleanup(cls.state.cleanup)

    @classmethod
    def tearDownClass(cls):
        cls.mock.stop()

    def setUp(self):
        self.mock.reset()

    def connection(self, host=DESKTOP, ca="service-ca", timeout=5):
        return Connection(host, self.mock.https_port, context=client_context(ca), timeout=timeout)

    def fetch(self, method, path, host=DESKTOP, body=None, headers=None, conn=None):
        own = conn is None
        conn = conn or self.connection(host)
        try:
            conn.request(method, path, body, headers or {})
            response = conn.getresponse()
            return response.status, response.read(), response
        finally:
            if own:
                conn.close()

    def handshake_error(self, host, ca="service-ca"):
        conn = self.connection(host, ca)
        try:
            self.fetch("GET", "/", conn=conn)
        except ssl.SSLCertVerificationError as e:
            return e.verify_message
        finally:
            conn.close()
        return None

    def presented_chain(self, host):
        out = subprocess.run(
            ["openssl", "s_client", "-connect", f"127.0.0.1:{self.mock.https_port}", "-servername", host,
             "-showcerts"], input="", capture_output=True, text=True, timeout=10).stdout
        return pem_blocks(out)

    def test_certificate_chosen_per_host_name(self):
        self.assertIsNone(self.handshake_error(DESKTOP))

        self.mock.tls(DESKTOP, "attacker")
        self.assertIn("self-signed certificate in certificate chain", self.handshake_error(DESKTOP))
        self.assertIsNone(self.handshake_error(SERVICES), "only the chosen host changes")
        failed = [h for h in self.mock.handshakes() if not h["ok"]]
        self.assertEqual([(DESKTOP, "attacker")], [(h["sni"], h["profile"]) for h in failed])

        self.mock.tls("*", "expired")
        self.assertIn("expired", self.handshake_error(SERVICES))
        self.assertIn("self-signed certificate in certificate chain", self.handshake_error(DESKTOP), "the host's own choice wins")

        self.mock.tls("*", "other-host")
        self.assertIn("mismatch", self.handshake_error(SERVICES))
        self.mock.tls("*", "public")
        self.assertIsNone(self.handshake_error("www.public.localhost", ca="public-ca"))

        self.mock.reset()
        self.assertIsNone(self.handshake_error(DESKTOP), "reset forgets the choices")

    def test_every_profile_presents_its_chain(self):
        files = {
            "service": ["service-leaf", "service-ca"], "attacker": ["attacker-leaf", "attacker-ca"],
            "other-host": ["other-host-leaf", "service-ca"], "expired": ["expired-leaf", "service-ca"],
            "self-signed": ["selfsigned-leaf"], "forged": ["forged-leaf", "forged-ca"],
            "forged-real-chain": ["forged-leaf2", "service-ca"], "public": ["public-leaf", "public-ca"],
        }
        for profile, names in files.items():
            with self.subTest(profile=profile):
                self.mock.tls(DESKTOP, profile)
                expected = []
                for name in names:
                    with open(self.mock.cert_path(name), encoding="ascii") as f:
                        expected += pem_blocks(f.read())
                self.assertEqual(expected, self.presented_chain(DESKTOP))

    def test_scripted_routes_and_defaults(self):
        conn = self.connection(SERVICES)
        self.addCleanup(conn.close)
        version = "/api/v1/desktop/version/windows"
        self.mock.route(method="GET", path=version, status=503, reason="Busy", body="down", times=1)
        self.mock.route(host="other.miravell.localhost", method="GET", path=version, status=500)
        self.mock.route(path_prefix="/files/", status=500)
        self.mock.route(method="GET", path_prefix="/files/", body=b"\x00\xffPDF",
                        headers={"Content-Type": "application/pdf"})

        status, body, response = self.fetch("GET", version, conn=conn)
        self.assertEqual((503, "Busy", b"down"), (status, response.reason, body))
        first_socket = conn.sock
        status, body, _ = self.fetch("GET", version, conn=conn)
        self.assertEqual((200, b'{"version": "4.8", "is_required": 0, "link": ""}'), (status, body))
        status, body, response = self.fetch("GET", "/files/a.pdf?x=1", conn=conn)
        self.assertEqual((200, b"\x00\xffPDF", "application/pdf"),
                         (status, body, response.getheader("Content-Type")))
        self.assertIs(first_socket, conn.sock, "one kept-alive connection served all three")

        self.assertEqual(403, self.fetch("GET", "/pins")[0])
        status, body, _ = self.fetch("GET", "/pins", headers={"X-Secret": "local-mock-secret-012345678"})
        pins = mockservice.MockService.pins()
        self.assertEqual((200, [{"scope": "miravell.localhost",
                                 "pins": ["sha256/" + pins["service-ca"], pins["service-leaf"]]}]),
                         (status, json.loads(body)))
        self.assertEqual((200, b"console.log('lesson script 12');"),
                         self.fetch("GET", "/api/v1/desktop/scripts/get?n=12")[:2])
        self.assertEqual(404, self.fetch("GET", "/nothing")[0])

    def test_default_lessons_by_host_and_content_id(self):
        resolve = "/api/v1/desktop/content-link/resolve-id"
        form = {"Content-Type": "application/x-www-form-urlencoded"}
        # (host, method, path, form body) -> (status, content type, a fragment only that answer has).
        # The outside hosts' handshakes are checked against service-ca under their own names.
        cases = [
            ("miravell.localhost", "GET", "/app", None, 200, "text/html", b"<title>Miravell</title>"),
            (DESKTOP, "GET", "/app/courses", None, 200, "text/html", b"<title>Courses</title>"),
            ("miravell.localhost", "GET", "/app", None, 200, "text/html", b'target="_blank"'),
            ("miravell.localhost", "GET", "/app", None, 200, "text/html", b'href="https://example.org/"'),
            ("miravell.localhost", "GET", "/lessons/water-cycle", None, 200, "text/html",
             b'src="/lessons/media/water-cycle.png"'),
            ("miravell.localhost", "GET", "/lessons/media/water-cycle.png", None, 200, "image/png", b"\x89PNG"),
            ("miravell.localhost", "GET", "/lessons/fractions", None, 200, "text/html", b"Fractions of a circle"),
            ("miravell.localhost", "GET", "/files/lesson.pdf", None, 200, "application/pdf", b"/Count 2"),
            ("www.youtube.com", "GET", "/embed/mrvVolcano01?origin=https%3A%2F%2Fmiravell.localhost", None, 200,
             "text/html", b"https://i.ytimg.com/vi/mrvVolcano01/hqdefault.jpg"),
            ("www.youtube.com", "GET", "/embed/unknown01", None, 200, "text/html", b"Video unavailable"),
            ("www.youtube.com", "GET", "/app", None, 404, "text/html", b"Not found"),
            ("youtube.com", "GET", "/api/v1/desktop/version/windows", None, 404, "text/html", b"Not found"),
            ("i.ytimg.com", "GET", "/vi/mrvVolcano01/hqdefault.jpg", None, 200, "image/png", b"\x89PNG"),
            ("miravell.localhost", "PUT", resolve, "link_tk=t&id=html-lesson", 200, "application/json",
             b'"type": "url_direct", "url": "https://miravell.localhost/lessons/water-cycle"'),
            ("miravell.localhost", "PUT", resolve, "link_tk=t&id=pdf-lesson", 200, "application/json",
             b'"type": "pdf", "url": "https://miravell.localhost/files/lesson.pdf"'),
            ("miravell.localhost", "PUT", resolve, "link_tk=t&id=video-lesson", 200, "application/json",
             b'"video_source": "https://www.youtube.com/watch?v=mrvVolcano01"'),
            ("miravell.localhost", "PUT", resolve, "link_tk=t&id=framed-lesson", 200, "application/json",
             b'"type": "html", "url": "https://miravell.localhost/lessons/fractions"'),
            # Unknown ids (and an id spelled with form escapes) keep the answer every older test expects.
            ("miravell.localhost", "PUT", resolve, "link_tk=t&id=lesson-1", 200, "application/json",
             b'"type": "pdf", "url": "https://miravell.localhost/files/lesson.pdf", "video_source": "", '
             b'"user_email": "student@example.com", "injected_script_number": 1'),
            ("miravell.localhost", "PUT", resolve, "link_tk=a%26id%3Dhtml-lesson&id=x", 200, "application/json",
             b'"type": "pdf"'),
        ]
        for host, method, path, body, status, content_type, fragment in cases:
            with self.subTest(host=host, path=path, body=body):
                got_status, got_body, response = self.fetch(method, path, host=host, body=body,
                                                            headers=form if body else None)
                self.assertEqual((status, content_type),
                                 (got_status, response.getheader("Content-Type", "").split(";")[0]))
                self.assertIn(fragment, got_body)
        outside = {h["sni"]: h["profile"] for h in self.mock.handshakes()}
        self.assertEqual(("outside", "service"), (outside["i.ytimg.com"], outside["miravell.localhost"]))

    def test_request_log(self):
        form = "link_tk=t%C3%B6k&id=42"
        self.fetch("PUT", "/api/v1/desktop/content-link/resolve-id", host="miravell.localhost", body=form,
                   headers={"Content-Type": "application/x-www-form-urlencoded", "X-Trace-ID": "abc"})
        self.fetch("HEAD", "/webview2/MicrosoftEdgeWebview2Setup.exe", host="downloads.miravell.localhost")

        put, head = self.mock.wait_for_requests(2, timeout=5)
        self.assertEqual(("miravell.localhost", "PUT", "/api/v1/desktop/content-link/resolve-id", form),
                         (put["host"], put["method"], put["path"], put["body"]))
        names = [name for name, _ in put["headers"]]
        self.assertLess(names.index("Content-Type"), names.index("X-Trace-ID"), "received order and case")
        self.assertIn(["X-Trace-ID", "abc"], put["headers"])
        self.assertEqual(("downloads.miravell.localhost", "HEAD", ""), (head["host"], head["method"], head["body"]))

    def test_close_and_delay(self):
        self.mock.route(method="POST", path="/api/v1/desktop/servers/active", close=True, times=1)
        self.mock.route(method="GET", path="/app", delay_ms=400)

        with self.assertRaises(http.client.RemoteDisconnected):
            self.fetch("POST", "/api/v1/desktop/servers/active", body="")
        self.assertEqual(200, self.fetch("POST", "/api/v1/desktop/servers/active", body="")[0])

        started = time.monotonic()
        self.assertEqual(200, self.fetch("GET", "/app")[0])
        self.assertGreaterEqual(time.monotonic() - started, 0.4)
        self.assertEqual(3, len(self.mock.requests()), "the unanswered request is logged too")

    def test_latency_applies_to_every_answer_until_reset(self):
        self.mock.latency(300)
        self.mock.route(method="GET", path="/app", delay_ms=200)
        for method, path, at_least in (("HEAD", "/", 0.3), ("GET", "/pins", 0.3), ("GET", "/app", 0.5)):
            started = time.monotonic()
            self.fetch(method, path)
            self.assertGreaterEqual(time.monotonic() - started, at_least, path)
        self.mock.reset()
        started = time.monotonic()
        self.fetch("GET", "/app")
        self.assertLess(time.monotonic() - started, 0.25)


if __name__ == "__main__":
    unittest.main()
