#!/usr/bin/env python3
"""Local mock of the Miravell service for tests.

Serves HTTPS (HTTP/1.1, keep-alive) on every bind address, choosing the
certificate per requested host name (SNI), and a plain-HTTP control API on
127.0.0.1 through which tests script answers, switch certificates and read
the log of what the player sent. See README.md beside this file.
"""
import argparse
import base64
import errno
import json
import os
import re
import signal
import socket
import ssl
import sys
import tempfile
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import lessons

HERE = os.path.dirname(os.path.abspath(__file__))
CERTS = os.path.join(HERE, "certs")

# Profile name -> (leaf certificate, its key, certificates sent after it).
PROFILES = {
    "service": ("service-leaf.pem", "service-leaf.key", ["service-ca.pem"]),
    "attacker": ("attacker-leaf.pem", "attacker-leaf.key", ["attacker-ca.pem"]),
    "other-host": ("other-host-leaf.pem", "other-host-leaf.key", ["service-ca.pem"]),
    "expired": ("expired-leaf.pem", "expired-leaf.key", ["service-ca.pem"]),
    "self-signed": ("selfsigned-leaf.pem", "selfsigned-leaf.key", []),
    "forged": ("forged-leaf.pem", "forged-leaf.key", ["forged-ca.pem"]),
    "forged-real-chain": ("forged-leaf2.pem", "forged-leaf2.key", ["service-ca.pem"]),
    "public": ("public-leaf.pem", "public-leaf.key", ["public-ca.pem"]),
    "outside": ("outside-leaf.pem", "outside-leaf.key", ["service-ca.pem"]),
}
DEFAULT_PROFILE = "service"
# Hosts outside the service that lessons use get the pinned CA's leaf for
# their own names unless a choice was made.
OUTSIDE_PROFILE = "outside"
PIN_SECRET = ("X-Secret", "local-mock-secret-012345678")
IDLE_TIMEOUT = 30  # seconds an idle keep-alive connection is kept


def log(message):
    print(f"mock-service: {message}", file=sys.stderr, flush=True)


def read_pins():
    pins = {}
    with open(os.path.join(CERTS, "pins.txt"), encoding="ascii") as f:
        for line in f:
            if line.strip():
                name, pin = line.split()
                pins[name] = pin
    return pins


def json_bytes(value):
    return json.dumps(value).encode("utf-8")


class TlsProfiles:
    """One SSL context per profile, rebuilt whenever the host choices change
    so that no client can resume a session made under an earlier choice."""

    def __init__(self):
        self.lock = threading.Lock()
        self.choices = {}
        self.contexts = {}
        self.handshakes = []
        self.rebuild()

    @staticmethod
    def _context(profile):
        leaf, key, chain = PROFILES[profile]
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.num_tickets = 0
        with tempfile.NamedTemporaryFile("wb", suffix=".pem") as f:
            for name in [leaf] + chain:
                with open(os.path.join(CERTS, name), "rb") as part:
                    f.write(part.read().rstrip(b"\n") + b"\n")
            f.flush()
            ctx.load_cert_chain(f.name, os.path.join(CERTS, key))
        return ctx

    def rebuild(self):
        contexts = {name: self._context(name) for name in PROFILES}
        contexts[DEFAULT_PROFILE].sni_callback = self._on_sni
        with self.lock:
            self.contexts = contexts

    def profile_for(self, host):
        host = (host or "").lower()
        with self.lock:
            chosen = self.choices.get(host, self.choices.get("*"))
        if chosen:
            return chosen
        outside = any(host == domain or host.endswith("." + domain) for domain in lessons.OUTSIDE_DOMAINS)
        return OUTSIDE_PROFILE if outside else DEFAULT_PROFILE

    def choose(self, host, profile):
        if profile not in PROFILES:
            raise ValueError(f"unknown profile {profile!r}; known: {', '.join(PROFILES)}")
        with self.lock:
            self.choices[host.lower()] = profile
        self.rebuild()

    def reset(self):
        with self.lock:
            self.choices.clear()
            self.handshakes.clear()
        self.rebuild()

    def base_context(self):
        with self.lock:
            return self.contexts[DEFAULT_PROFILE]

    def _on_sni(self, sslobj, server_name, _ctx):
        profile = self.profile_for(server_name)
        with self.lock:
            sslobj.context = self.contexts[profile]
        sslobj.miravell_sni = server_name
        sslobj.miravell_profile = profile
        return None

    def handshake_entry(self, conn, error):
        sni = getattr(conn, "miravell_sni", None)
        profile = getattr(conn, "miravell_profile", None) or self.profile_for(sni)
        entry = {"ok": error is None, "sni": sni, "profile": profile}
        if error is not None:
            entry["error"] = str(error)
        return entry

    def record_handshake(self, entry):
        with self.lock:
            self.handshakes.append(entry)

    def record_received(self, entry, data):
        """Adds bytes the client sent after the handshake to its entry."""
        with self.lock:
            entry["received_bytes"] += len(data)
            entry["received"] += data.decode("utf-8", errors="replace")

    def handshake_log(self):
        with self.lock:
            return list(self.handshakes)


class Routes:
    """Scripted answers (latest first) and the request log."""

    def __init__(self):
        self.lock = threading.Lock()
        self.routes = []
        self.requests = []
        self.latency_ms = 0.0

    def reset(self):
        with self.lock:
            self.routes.clear()
            self.requests.clear()
            self.latency_ms = 0.0

    def set_latency(self, ms):
        ms = float(ms)
        if ms < 0:
            raise ValueError("latency must not be negative")
        with self.lock:
            self.latency_ms = ms

    FIELDS = {"host", "method", "path", "path_prefix", "status", "reason", "body", "body_base64", "body_file",
              "headers", "delay_ms", "close", "times", "drip", "then_tls"}

    def add(self, fields):
        route = dict(fields)
        unknown = set(route) - self.FIELDS
        if unknown:
            raise ValueError(f"unknown route fields: {', '.join(sorted(unknown))}")
        route["status"] = int(route.get("status", 200))
        route["delay_ms"] = float(route.get("delay_ms") or 0)
        if route.get("times") is not None:
            route["times"] = int(route["times"])
            if route["times"] < 1:
                raise ValueError("times must be at least 1")
        if not isinstance(route.get("headers", {}), dict):
            raise ValueError("headers must be an object")
        if "body_base64" in route:
            base64.b64decode(route["body_base64"], validate=True)
        if "body_file" in route and not os.path.isfile(route["body_file"]):
            raise ValueError(f"no such file: {route['body_file']}")
        if "then_tls" in route and route["then_tls"] not in PROFILES:
            raise ValueError(f"unknown profile {route['then_tls']!r}")
        if "drip" in route:
            drip = route["drip"]
            if not isinstance(drip, dict) or set(drip) - {"bytes", "interval_ms", "chunks"}:
                raise ValueError("drip takes bytes, interval_ms and chunks")
            route["drip"] = {"bytes": int(drip.get("bytes", 1)), "interval_ms": float(drip.get("interval_ms", 0)),
                             "chunks": None if drip.get("chunks") is None else int(drip["chunks"])}
            if route["drip"]["bytes"] < 1 or route["drip"]["interval_ms"] < 0:
                raise ValueError("drip needs at least one byte a chunk and no negative interval")
        with self.lock:
            self.routes.append(route)

    def take(self, host, method, path):
        """The latest route matching the request, counting one use of it."""
        with self.lock:
            for route in reversed(self.routes):
                if route.get("host") and route["host"].lower() != host:
                    continue
                if route.get("method") and route["method"].upper() != method:
                    continue
                if "path" in route and route["path"] != path:
                    continue
                if "path_prefix" in route and not path.startswith(route["path_prefix"]):
                    continue
                if route.get("times") is not None:
                    if route["times"] <= 0:
                        continue
                    route["times"] -= 1
                return dict(route)
        return None

    def record(self, entry):
        with self.lock:
            self.requests.append(entry)

    def log(self):
        with self.lock:
            return list(self.requests)


def default_answer(method, path, headers, host="", body=b""):
    """(status, headers, body) the service gives when no route is scripted:
    the video platform's pages on its own host names, the service's
    answers and lessons on every other host."""
    json_type = {"Content-Type": "application/json"}
    parsed = urllib.parse.urlsplit(path)
    if method == "HEAD":
        return 200, {}, b""
    if host in lessons.OUTSIDE_HOSTS:
        if method != "GET":
            return 405, json_type, json_bytes({"message": "method not allowed"})
        return lessons.outside_answer(host, parsed.path)
    if method == "GET" and parsed.path == "/pins":
        if headers.get(PIN_SECRET[0]) != PIN_SECRET[1]:
            return 403, json_type, json_bytes({"message": "forbidden"})
        pins = read_pins()
        return 200, json_type, json_bytes([{"scope": "miravell.localhost",
                                            "pins": ["sha256/" + pins["service-ca"], pins["service-leaf"]]}])
    if method == "GET" and parsed.path == "/api/v1/desktop/version/windows":
        return 200, json_type, json_bytes({"version": "4.8", "is_required": 0, "link": ""})
    if method == "PUT" and parsed.path == "/api/v1/desktop/content-link/resolve-id":
        return 200, json_type, lessons.resolve_answer(body)
    if method == "POST" and parsed.path == "/api/v1/desktop/servers/active":
        return 200, json_type, json_bytes({"data": {"servers": [{"address": "https://edge1.miravell.localhost"}]}})
    if method == "GET" and parsed.path == "/api/v1/desktop/scripts/get":
        number = urllib.parse.parse_qs(parsed.query).get("n", [""])[0]
        if re.fullmatch(r"-?[0-9]+", number):  # the player sends negative numbers too
            return 200, {"Content-Type": "text/javascript"}, f"console.log('lesson script {number}');".encode()
    if method == "GET" and (page := lessons.service_page(parsed.path)) is not None:
        return 200, {"Content-Type": page[0]}, page[1]
    return 404, json_type, json_bytes({"message": "not found"})


class ServiceHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "MiravellMock/1"
    timeout = IDLE_TIMEOUT

    def __getattr__(self, name):
        # Every method (GET, PUT, OPTIONS, ...) goes through one dispatcher.
        if name.startswith("do_"):
            return self._serve
        raise AttributeError(name)

    def _request_host(self):
        sni = getattr(self.connection, "miravell_sni", None)
        if sni:
            return sni.lower()
        host = self.headers.get("Host", "") if self.headers else ""
        return re.sub(r":[0-9]+$", "", host).strip("[]").lower()

    def _read_body(self):
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            body = bytearray()
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return bytes(body)
                body += self.rfile.read(size)
                self.rfile.readline()
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length > 0 else b""

    def _record(self, body):
        self._recorded = True
        self.server.routes.record({
            "host": self._request_host(),
            "method": self.command or "",
            "path": self.path or "",
            "headers": [[k, v] for k, v in self.headers.items()] if self.headers else [],
            "body_base64": base64.b64encode(body).decode("ascii"),
            "body": body.decode("utf-8", errors="replace"),
        })

    def handle_one_request(self):
        self._recorded = False
        self.command = self.path = self.headers = None
        super().handle_one_request()

    def send_error(self, code, message=None, explain=None):
        # A request the parser rejected is still logged.
        if not getattr(self, "_recorded", False):
            self._record(b"")
        super().send_error(code, message, explain)

    def _serve(self):
        try:
            body = self._read_body()
        except (ValueError, OSError):
            self._record(b"")
            self.send_error(400, "bad body")
            return
        self._record(body)
        if self.server.routes.latency_ms:
            time.sleep(self.server.routes.latency_ms / 1000.0)
        route = self.server.routes.take(self._request_host(), self.command, self.path)
        if route is None:
            status, headers, payload = default_answer(self.command, self.path, self.headers, self._request_host(),
                                                      body)
            reason = None
        else:
            if route.get("then_tls"):
                # Before the answer: the client's next connection may start
                # as soon as it has read it.
                self.server.tls.choose(self._request_host(), route["then_tls"])
            if route.get("delay_ms"):
                time.sleep(route["delay_ms"] / 1000.0)
            if route.get("close"):
                self.close_connection = True
                return
            if route.get("drip"):
                self._drip(route)
                return
            status, reason = route["status"], route.get("reason")
            headers = route.get("headers") or {}
            if "body_file" in route:
                with open(route["body_file"], "rb") as f:
                    payload = f.read()
            elif "body_base64" in route:
                payload = base64.b64decode(route["body_base64"])
            else:
                payload = route.get("body", "").encode("utf-8")
        self.send_response(status, reason)
        if not any(k.lower() == "content-length" for k in headers):
            self.send_header("Content-Length", str(len(payload)))
        else:
            self.close_connection = True  # a scripted length may be a lie
        for name, value in headers.items():
            self.send_header(name, str(value))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(payload)

    def _drip(self, route):
        """Headers without a length, then the body a chunk at a time until the
        count is reached (never, without one) or the client goes away."""
        drip = route["drip"]
        self.close_connection = True
        self.send_response(route["status"], route.get("reason"))
        for name, value in (route.get("headers") or {}).items():
            self.send_header(name, str(value))
        self.send_header("Connection", "close")
        self.end_headers()
        chunk = b"x" * drip["bytes"]
        sent = 0
        try:
            self.wfile.flush()
            while drip["chunks"] is None or sent < drip["chunks"]:
                if sent and drip["interval_ms"]:
                    time.sleep(drip["interval_ms"] / 1000.0)
                self.wfile.write(chunk)
                self.wfile.flush()
                sent += 1
        except OSError:
            pass  # the client gave up, as it should

    def log_message(self, fmt, *args):
        log(f"{self.client_address[0]} {fmt % args}")


class TlsServer(ThreadingHTTPServer):
    """An HTTPS server on one address; the TLS handshake runs in the
    connection's own thread, so a client that refuses the certificate costs
    only that connection."""

    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, tls, routes):
        self.address_family = socket.AF_INET6 if ":" in address[0] else socket.AF_INET
        self.tls = tls
        self.routes = routes
        super().__init__(address, ServiceHandler, bind_and_activate=False)
        if self.address_family == socket.AF_INET6:
            self.socket.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
        try:
            self.server_bind()
            self.server_activate()
        except OSError:
            self.server_close()
            raise

    def finish_request(self, request, client_address):
        request.settimeout(IDLE_TIMEOUT)
        conn = self.tls.base_context().wrap_socket(request, server_side=True, do_handshake_on_connect=False)
        try:
            conn.do_handshake()
        except (ssl.SSLError, OSError) as e:
            entry = self.tls.handshake_entry(conn, e)
            log(f"TLS handshake with {client_address[0]} (SNI {entry['sni']}, profile {entry['profile']}) failed: {e}")
            self.tls.record_handshake(entry)
            conn.close()
            return
        entry = self.tls.handshake_entry(conn, None)
        entry.update(received_bytes=0, received="")
        self.tls.record_handshake(entry)
        # Every byte the client sends on the connection is kept with its
        # handshake, so that a test sees what reached a certificate it
        # should have refused, parsed or not.
        receive = conn.recv_into

        def recording_recv_into(buffer, nbytes=0, flags=0):
            count = receive(buffer, nbytes, flags)
            if count:
                self.tls.record_received(entry, bytes(memoryview(buffer)[:count]))
            return count

        conn.recv_into = recording_recv_into
        try:
            self.RequestHandlerClass(conn, client_address, self)
        finally:
            try:
                conn.shutdown(socket.SHUT_WR)
            except OSError:
                pass
            conn.close()

    def shutdown_request(self, request):
        self.close_request(request)  # the TLS connection was closed above

    def handle_error(self, request, client_address):
        log(f"error on a connection from {client_address[0]}: {sys.exc_info()[1]!r}")


class ControlHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "MiravellMockControl/1"

    def _answer(self, status, value):
        body = json_bytes(value)
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def _payload(self):
        length = int(self.headers.get("Content-Length") or 0)
        raw = self.rfile.read(length) if length else b""
        return json.loads(raw) if raw.strip() else {}

    def do_GET(self):
        mock = self.server.mock
        if self.path == "/control/health":
            self._answer(200, {"ok": True})
        elif self.path == "/control/requests":
            self._answer(200, mock.routes.log())
        elif self.path == "/control/handshakes":
            self._answer(200, mock.tls.handshake_log())
        else:
            self._answer(404, {"message": "not found"})

    def do_POST(self):
        mock = self.server.mock
        try:
            payload = self._payload()
            if self.path == "/control/reset":
                mock.routes.reset()
                mock.tls.reset()
            elif self.path == "/control/route":
                mock.routes.add(payload)
            elif self.path == "/control/tls":
                mock.tls.choose(payload.get("host", "*"), payload["profile"])
            elif self.path == "/control/latency":
                mock.routes.set_latency(payload["ms"])
            else:
                self._answer(404, {"message": "not found"})
                return
        except (ValueError, KeyError, TypeError, AttributeError) as e:
            self._answer(400, {"message": f"bad request: {e}"})
            return
        self._answer(200, {"ok": True})

    def log_message(self, fmt, *args):
        pass


class Mock:
    def __init__(self, binds, https_port, control_port):
        self.tls = TlsProfiles()
        self.routes = Routes()
        self.https = self._bind_all(binds, https_port)
        self.https_port = self.https[0].server_address[1]
        self.control = ThreadingHTTPServer(("127.0.0.1", control_port), ControlHandler)
        self.control.daemon_threads = True
        self.control.mock = self
        self.control_port = self.control.server_address[1]

    def _bind_all(self, binds, port):
        # With port 0 the first address picks a free port and the others
        # take the same one; tried again if something holds it there. An
        # address the machine lacks (no IPv6) is left out with a warning.
        for _ in range(20):
            servers = [TlsServer((binds[0], port), self.tls, self.routes)]
            taken = False
            for address in binds[1:]:
                try:
                    servers.append(TlsServer((address, servers[0].server_address[1]), self.tls, self.routes))
                except OSError as e:
                    if e.errno in (errno.EADDRNOTAVAIL, errno.EAFNOSUPPORT):
                        log(f"cannot listen on {address}: {e}; going on without it")
                        continue
                    for server in servers:
                        server.server_close()
                    if port == 0 and e.errno == errno.EADDRINUSE:
                        taken = True
                        break
                    raise
            if not taken:
                return servers
        raise OSError("no free port shared by all bind addresses")

    def serve(self, ready_file):
        threads = [threading.Thread(target=s.serve_forever, daemon=True) for s in self.https + [self.control]]
        for thread in threads:
            thread.start()
        ready = {"control_port": self.control_port, "https_port": self.https_port, "pid": os.getpid()}
        if ready_file:
            temp = f"{ready_file}.{os.getpid()}.tmp"
            with open(temp, "w", encoding="utf-8") as f:
                json.dump(ready, f)
            os.replace(temp, ready_file)
        print(json.dumps(ready), flush=True)

    def shutdown(self):
        for server in self.https + [self.control]:
            server.shutdown()
            server.server_close()


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--https-port", type=int, default=443, help="0 picks a free port")
    parser.add_argument("--control-port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--bind", default="127.0.0.1,::1", help="comma-separated addresses")
    parser.add_argument("--ready-file", help="where to write the ports as JSON once serving")
    args = parser.parse_args(argv)

    stop = threading.Event()
    for signum in (signal.SIGTERM, signal.SIGINT):
        signal.signal(signum, lambda *_: stop.set())
    mock = Mock([a.strip() for a in args.bind.split(",") if a.strip()], args.https_port, args.control_port)
    mock.serve(args.ready_file)
    while not stop.wait(1):
        pass
    log("stopping")
    mock.shutdown()
    if args.ready_file:
        try:
            with open(args.ready_file, encoding="utf-8") as f:
                if json.load(f).get("pid") == os.getpid():
                    os.remove(args.ready_file)
        except (OSError, ValueError):
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
