"""The round-trip proxy of the startup benchmark (testbed/demo/rttproxy.py): what
it counts of a connection, since the benchmark's figures rest on it."""
import os
import socket
import ssl
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "support"))
sys.path.insert(0, os.path.join(HERE, "..", "..", "..", "testbed", "demo"))
import mockservice  # noqa: E402
import rttproxy  # noqa: E402

DESKTOP = "desktop.miravell.localhost"
SERVICES = "services.miravell.localhost"


class RttProxyTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.state = tempfile.TemporaryDirectory(prefix="rtt-proxy-test-")
        cls.addClassCleanup(cls.state.cleanup)
        cls.mock = mockservice.MockService().start(cls.state.name, https_port=0, bind="127.0.0.1")
        cls.addClassCleanup(cls.mock.stop)
        # A round trip long enough that what the server sends unasked (a
        # TLS 1.3 session ticket) cannot reach the client before the bytes
        # it sent without waiting: those belong to the flight before.
        cls.proxy = rttproxy.RttProxy(cls.mock.https_port, rtt_ms=20, port=0, listen=("127.0.0.1",)).start()
        cls.addClassCleanup(cls.proxy.stop)

    def exchange(self, host, version, requests):
        """Sends requests one after the other on one connection through the proxy."""
        sock = socket.create_connection(("127.0.0.1", self.proxy.port), timeout=5)
        if version is None:
            with sock:
                sock.sendall(b"GET / HTTP/1.1\r\nHost: x\r\n\r\n")
                sock.recv(100)  # the mock, waiting for a hello, gives up
            return
        context = ssl.create_default_context(cafile=mockservice.MockService.cert_path("service-ca"))
        context.minimum_version = context.maximum_version = version
        with context.wrap_socket(sock, server_hostname=host) as tls:
            reader = tls.makefile("rb")
            for _ in range(requests):
                tls.sendall(f"GET /health HTTP/1.1\r\nHost: {host}\r\n\r\n".encode())
                length = 0
                while (line := reader.readline()) not in (b"\r\n", b""):
                    if line.lower().startswith(b"content-length:"):
                        length = int(line.split(b":")[1])
                reader.read(length)

    def test_counts_per_connection(self):
        # name, host, TLS version (None: plain bytes), requests, expected (tls, host, round trips)
        cases = [
            ("TLS 1.3, one request: TCP, hello, finished with the request", DESKTOP, ssl.TLSVersion.TLSv1_3, 1,
             (True, DESKTOP, 3)),
            ("TLS 1.3, a second request on the connection costs one more", SERVICES, ssl.TLSVersion.TLSv1_3, 2,
             (True, SERVICES, 4)),
            ("TLS 1.2 takes one more for its handshake", DESKTOP, ssl.TLSVersion.TLSv1_2, 1, (True, DESKTOP, 4)),
            ("not TLS", None, None, 1, (False, None, 2)),
        ]
        for name, host, version, requests, expected in cases:
            with self.subTest(name):
                self.proxy.reset()
                self.exchange(host, version, requests)
                seen = self.proxy.connections()
                self.assertEqual([expected], [(c["tls"], c["host"], c["round_trips"]) for c in seen])


if __name__ == "__main__":
    unittest.main()
