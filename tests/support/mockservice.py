"""Drives the local mock of the service (testbed/mock-service/mock_service.py).

    with mockservice.MockService().start(state_dir, https_port=0) as mock:
        mock.route(method="GET", path="/pins", status=500, times=1)
        mock.tls("desktop.miravell.localhost", "attacker")
        ...
        mock.wait_for_requests(1, timeout=10, where=lambda r: r["path"] == "/pins")

shared() gives one mock for the whole test run: the one whose ready file is in
$MIRAVELL_MOCK_STATE when it is alive, else a new one stopped at exit.

As a program, starts or stops a mock that outlives it (for a CTest fixture):
    python3 mockservice.py start STATE_DIR [--https-port N]
    python3 mockservice.py stop STATE_DIR
"""
import atexit
import base64
import fcntl
import http.client
import importlib.util
import json
import os
import signal
import subprocess
import sys
import tempfile
import time

SOURCE_DIR = os.environ.get("MIRAVELL_SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
MOCK_DIR = os.path.join(SOURCE_DIR, "testbed", "mock-service")
CERTS_DIR = os.path.join(MOCK_DIR, "certs")
READY_FILE = "mock-ready.json"
LOG_FILE = "mock.log"
STATE_ENV = "MIRAVELL_MOCK_STATE"


class MockError(RuntimeError):
    pass


def _alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


def _hold_port(https_port, wait=900):
    """Waits until no other build tree on this machine serves the fixed port.

    The lock is taken on an open file the mock inherits, so it stays held for
    exactly as long as the mock lives, whoever started it."""
    if not https_port:
        return None
    fd = os.open(os.path.join(tempfile.gettempdir(), f"miravell-mock-{https_port}.lock"), os.O_RDWR | os.O_CREAT, 0o666)
    deadline = time.monotonic() + wait
    while True:
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return fd
        except BlockingIOError:
            if time.monotonic() > deadline:
                os.close(fd)
                raise MockError(f"port {https_port} stayed taken by another mock for {wait} s")
            time.sleep(0.2)


class MockService:
    def __init__(self):
        self.process = None
        self.state_dir = None
        self.control_port = None
        self.https_port = None
        self.pid = None

    # --- life -------------------------------------------------------------

    def start(self, state_dir, https_port=443, bind="127.0.0.1,::1", timeout=20):
        """Starts the mock in its own process group; returns self once it serves."""
        os.makedirs(state_dir, exist_ok=True)
        self.state_dir = state_dir
        ready = os.path.join(state_dir, READY_FILE)
        if os.path.exists(ready):
            os.remove(ready)
        log_path = os.path.join(state_dir, LOG_FILE)
        port_lock = _hold_port(https_port)
        try:
            with open(log_path, "ab") as log:
                self.process = subprocess.Popen(
                    [sys.executable, os.path.join(MOCK_DIR, "mock_service.py"), "--https-port", str(https_port),
                     "--control-port", "0", "--bind", bind, "--ready-file", ready],
                    stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True,
                    pass_fds=(port_lock,) if port_lock is not None else ())
        finally:
            if port_lock is not None:
                os.close(port_lock)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise MockError(f"mock service exited with {self.process.returncode}:\n{self.log_text()}")
            if self._load(ready):
                return self
            time.sleep(0.05)
        self.stop()
        raise MockError(f"mock service not ready after {timeout} s:\n{self.log_text()}")

    def connect(self, state_dir):
        """Attaches to a live mock started elsewhere; returns self, or None if none lives there."""
        self.state_dir = state_dir
        if self._load(os.path.join(state_dir, READY_FILE)) and _alive(self.pid):
            try:
                self.health()
                return self
            except (OSError, MockError):
                pass
        return None

    def _load(self, ready):
        try:
            with open(ready, encoding="utf-8") as f:
                info = json.load(f)
        except (OSError, ValueError):
            return False
        self.control_port, self.https_port, self.pid = info["control_port"], info["https_port"], info["pid"]
        return True

    def stop(self, timeout=10):
        """Stops a mock this object started (one it only connected to is left running)."""
        process, self.process = self.process, None
        if process is None or process.poll() is not None:
            return
        _stop_group(process.pid)
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def log_text(self):
        try:
            with open(os.path.join(self.state_dir, LOG_FILE), encoding="utf-8", errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    # --- control API ----------------------------------------------------

    def _call(self, method, path, payload=None):
        conn = http.client.HTTPConnection("127.0.0.1", self.control_port, timeout=10)
        try:
            body = json.dumps(payload).encode() if payload is not None else None
            conn.request(method, path, body, {"Content-Type": "application/json"} if body else {})
            response = conn.getresponse()
            data = json.loads(response.read() or b"null")
        finally:
            conn.close()
        if response.status != 200:
            raise MockError(f"{method} {path}: {response.status} {data}")
        return data

    def health(self):
        return self._call("GET", "/control/health")

    def reset(self):
        self._call("POST", "/control/reset", {})

    def route(self, **fields):
        """Scripts an answer; see testbed/mock-service/README.md for the fields.
        body may be bytes (sent as body_base64)."""
        if isinstance(fields.get("body"), bytes):
            fields["body_base64"] = base64.b64encode(fields.pop("body")).decode("ascii")
        self._call("POST", "/control/route", fields)

    def latency(self, ms):
        """Delays every answer (HEAD included) by ms until the next reset."""
        self._call("POST", "/control/latency", {"ms": ms})

    def tls(self, host, profile):
        self._call("POST", "/control/tls", {"host": host, "profile": profile})

    def requests(self):
        return self._call("GET", "/control/requests")

    def handshakes(self):
        return self._call("GET", "/control/handshakes")

    def wait_for_requests(self, n, timeout=10, where=None):
        """The logged requests (those where() accepts, if given) once there
        are at least n; raises MockError with the log after timeout seconds."""
        deadline = time.monotonic() + timeout
        while True:
            found = [r for r in self.requests() if where is None or where(r)]
            if len(found) >= n:
                return found
            if time.monotonic() >= deadline:
                raise MockError(f"{len(found)} of {n} requests after {timeout} s: "
                                + json.dumps([(r["method"], r["host"], r["path"]) for r in self.requests()]))
            time.sleep(0.05)

    # --- certificates ---------------------------------------------------

    @staticmethod
    def pins():
        """Name -> Base64 SHA-256 pin of every test key (pins.txt and test-pins.txt)."""
        pins = {}
        for name in ("pins.txt", "test-pins.txt"):
            with open(os.path.join(CERTS_DIR, name), encoding="ascii") as f:
                for line in f:
                    if line.strip():
                        key, pin = line.split()
                        pins[key] = pin
        return pins

    @staticmethod
    def browser_arguments(trust=True):
        """Chromium switches (one string, command-line quoting) with which a
        browser reaches this mock on 127.0.0.1:443 for the outside hosts its
        lessons use and, with trust, takes the mock's certificates: the test
        CA's key pin, honoured for any certificate of the chain the mock sends.
        A page the player writes itself has no address, so Chromium counts it
        public, and would refuse its frames from the loopback the hosts are
        mapped to. For `install_scripted_runtime.exe --client <Chromium
        runtime> --browser-args`."""
        module = importlib.util.spec_from_file_location("mock_lessons", os.path.join(MOCK_DIR, "lessons.py"))
        lessons = importlib.util.module_from_spec(module)
        module.loader.exec_module(lessons)
        rules = ",".join(f"MAP {name} 127.0.0.1" for domain in lessons.OUTSIDE_DOMAINS
                         for name in (domain, "*." + domain))
        switches = f'"--host-resolver-rules={rules}" --disable-features=LocalNetworkAccessChecks'
        if trust:
            switches = f'--ignore-certificate-errors-spki-list={MockService.pins()["service-ca"]} {switches}'
        return switches

    @staticmethod
    def cert_path(name):
        """Path of a file in the certificate folder: "service-ca" -> .../service-ca.pem,
        "service-ca.key" -> .../service-ca.key."""
        path = os.path.join(CERTS_DIR, name if os.path.splitext(name)[1] else name + ".pem")
        if not os.path.isfile(path):
            raise FileNotFoundError(path)
        return path


def _stop_group(pid):
    try:
        os.killpg(pid, signal.SIGTERM)
    except ProcessLookupError:
        pass


_shared = None


def shared():
    """The mock of this test run (see the module's documentation)."""
    global _shared
    if _shared is not None:
        return _shared
    state = os.environ.get(STATE_ENV)
    if state:
        mock = MockService().connect(state)
        if mock is not None:
            _shared = mock
            return mock
    mock = MockService().start(state or tempfile.mkdtemp(prefix="miravell-mock-"))
    atexit.register(mock.stop)
    _shared = mock
    return mock


def _main(argv):
    import argparse
    parser = argparse.ArgumentParser(description="Starts or stops a mock that outlives this command.")
    parser.add_argument("action", choices=["start", "stop"])
    parser.add_argument("state_dir")
    parser.add_argument("--https-port", type=int, default=443)
    args = parser.parse_args(argv)
    mock = MockService().connect(args.state_dir)
    if args.action == "start":
        if mock is None:
            mock = MockService().start(args.state_dir, https_port=args.https_port)
            mock.process = None  # left running
        print(json.dumps({"control_port": mock.control_port, "https_port": mock.https_port, "pid": mock.pid}))
    elif mock is not None:
        _stop_group(mock.pid)
        deadline = time.monotonic() + 10
        while _alive(mock.pid) and time.monotonic() < deadline:
            time.sleep(0.05)
    return 0


if __name__ == "__main__":
    sys.exit(_main(sys.argv[1:]))
