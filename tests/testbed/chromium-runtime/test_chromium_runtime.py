"""The Chromium-backed runtime installed in the test prefix and started by
the real browser host (host_probe, as a console and as a Windows program)
through the program's own loader: the page
shows inside the controller's bounds, a cancelled navigation keeps it, string
messages reach the host and nothing else does, pop-ups and requests come to
the host's handlers, pages of the mock service (the service's hosts and the
outside hosts lessons use) load over HTTPS with the trust installed beside
the runtime and not without it, and no Chromium is left when the host ends.
Needs Chromium: without it the start fails, and so does the test."""
import http.server
import json
import os
import signal
import socket
import subprocess
import tempfile
import threading
import time
import unittest

import mockservice
import uidriver
import winerun

ORANGE = (0xFF, 0x8C, 0x00)
BLUE = (0x1E, 0x90, 0xFF)

# Left half orange, right half blue; then a navigation the probe's policy
# cancels (an address with "blocked" in it, on a port where nothing listens:
# let through, it would put an error page in the page's place at once), and a
# message well after it that only a page still there can send.
STAYING_PAGE = """<!doctype html><html><body style="margin:0;background:#1e90ff">
<div style="position:fixed;left:0;top:0;width:50%;height:100%;background:#ff8c00"></div>
<script>
chrome.webview.postMessage('pageLoaded');
chrome.webview.postMessage({kind: 'not a string'});
setTimeout(() => { location.href = 'https://blocked.localhost:2/away'; }, 200);
setTimeout(() => { chrome.webview.postMessage('still-here'); }, 1700);
</script></body></html>"""

# Served from loopback: a frame of another site with a request of its own
# (Chromium would run it apart, out of the page's interception, unless told
# not to), a request of the page's, and then a pop-up, which the host turns
# into a navigation of the same view.
OPENING_PAGE = b"""<!doctype html><html><body style="margin:0;background:#228b22">
<iframe id="other" src="http://localhost:PORT/frame.html"></iframe>
<script>
document.getElementById('other').addEventListener('load', () =>
  fetch('/lesson/hls/x.ts').finally(() => window.open('/popup', '_blank')));
</script></body></html>"""
FRAME_PAGE = b"""<!doctype html><html><body><script>fetch('/frame-request.txt');</script></body></html>"""

# What a page asks for and what it gets, one request after the other, posted
# to the host as one message. A page the owner's rule names gets camera,
# microphone and notifications; the rest is left to the engine; the probe denies the
# clipboard on top. Each row: the page's request, the kind the host is asked
# about (None: not asked, the first answer stands), the state the host's
# handlers leave, what the page sees, the permission's state afterwards.
PERMISSION_CASES = [
    ("camera", 2, 1, "ok video", "granted"),
    ("microphone", 1, 1, "ok audio", "granted"),
    ("notifications", 4, 1, "ok granted", "granted"),
    # Headless Chromium refuses what it would prompt for, and forgets it.
    ("geolocation", 3, 0, "error 1", "prompt"),
    ("clipboard-read", 6, 2, "error NotAllowedError", "denied"),
    ("camera", None, None, "ok video", "granted"),
]
PERMISSION_PAGE = b"""<!doctype html><html><body><script>
const requests = {
  camera: () => navigator.mediaDevices.getUserMedia({video: true}).then(s => s.getTracks().map(t => t.kind).join()),
  microphone: () => navigator.mediaDevices.getUserMedia({audio: true}).then(s => s.getTracks().map(t => t.kind).join()),
  notifications: () => Notification.requestPermission(),
  geolocation: () => new Promise((resolve, reject) => navigator.geolocation.getCurrentPosition(
      () => resolve('position'), (e) => reject({name: String(e.code)}), {timeout: 5000})),
  'clipboard-read': () => navigator.clipboard.readText().then(() => 'read'),
};
(async () => {
  const seen = [];
  for (const name of NAMES) {
    const outcome = await requests[name]().then(v => 'ok ' + v, e => 'error ' + e.name);
    const state = (await navigator.permissions.query({name})).state;
    seen.push([name, outcome, state]);
  }
  chrome.webview.postMessage(JSON.stringify(seen));
})();
</script></body></html>""".replace(b"NAMES", json.dumps([c[0] for c in PERMISSION_CASES]).encode())


# Each load of the colour page paints the next colour, so a frame shows which
# load it came from: the first, the one after a renderer was killed, the one
# in a new browser.
GREEN = (0x22, 0x8B, 0x22)
LOAD_COLOURS = [ORANGE, BLUE, GREEN]


def near(pixel, colour):
    # JPEG frames: flat colours come within a few steps.
    return all(abs(a - b) <= 8 for a, b in zip(pixel, colour))


COLOUR_PAGE = """<!doctype html><html><body style="margin:0;background:rgb{}"></body></html>"""
# A navigation the page starts itself, to a port nobody listens on.
JUMP_PAGE = b"""<!doctype html><html><body><script>
setTimeout(() => { location.href = 'http://127.0.0.1:CLOSED/away'; }, 100);
</script></body></html>"""
# Pages that come with an error status and a body of their own.
ERROR_STATUSES = {"/missing": 404, "/broken": 503}


def closed_port():
    """A loopback port nobody listens on (it was free a moment ago)."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def chromium_processes(profile):
    """(pid, process group, command line) of the Chromium on this profile and of its helpers, which share
    its process group (only the browser is told the profile)."""
    running = winerun.unix_processes()
    groups = {group for pid, group, args in running if any(a.startswith("--user-data-dir=" + profile) for a in args)}
    return [process for process in running if process[1] in groups]


class RecordingServer:
    """Plain HTTP on loopback that records each request's path and headers."""

    def __init__(self):
        self.requests = []
        self.colour_loads = 0
        self.closed_port = closed_port()
        owner = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                owner.requests.append((self.path, {k.lower(): v for k, v in self.headers.items()}))
                port = str(owner.server.server_address[1]).encode()
                body = {"/opening.html": OPENING_PAGE.replace(b"PORT", port), "/frame.html": FRAME_PAGE,
                        "/permissions.html": PERMISSION_PAGE,
                        "/jump.html": JUMP_PAGE.replace(b"CLOSED", str(owner.closed_port).encode())
                        }.get(self.path, b"ok")
                if self.path == "/colour.html":
                    colour = LOAD_COLOURS[min(owner.colour_loads, len(LOAD_COLOURS) - 1)]
                    owner.colour_loads += 1
                    body = COLOUR_PAGE.format(colour).encode()
                self.send_response(ERROR_STATUSES.get(self.path, 200))
                self.send_header("Content-Type", "text/html" if self.path.endswith(".html") else "text/plain")
                self.send_header("Cache-Control", "no-store")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def url(self, path):
        return f"http://127.0.0.1:{self.server.server_address[1]}{path}"

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class ChromiumRuntimeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.runtime_dir = winerun.program_files_folder("chromium-runtime")
        # With the mock's trust and host mapping, as the test bed installs it.
        winerun.install_chromium_runtime(cls.runtime_dir)

    @classmethod
    def tearDownClass(cls):
        winerun.run_program("install_scripted_runtime.exe", ["--uninstall", "--folder", cls.runtime_dir])
        cls.folder.cleanup()

    def start_host(self, run_ms, page=None, address=None, program="host_probe.exe", more_args=(), more_env=None):
        work = tempfile.mkdtemp(dir=self.folder.name)
        self.log_path = os.path.join(work, "runtime.log")
        self.profile = os.path.join(work, "profile")
        args = ["--folder", winerun.windows_path(self.profile), "--settings", "--show", "--run-ms", str(run_ms)]
        if page is not None:
            page_path = os.path.join(work, "page.html")
            with open(page_path, "w", encoding="utf-8") as handle:
                handle.write(page)
            args += ["--html", winerun.windows_path(page_path)]
        if address is not None:
            args += ["--navigate", address]
        env = {"MIRAVELL_RUNTIME_LOG": winerun.windows_path(self.log_path), **(more_env or {})}
        return winerun.start_program(program, args + list(more_args), env=env)

    def calls(self):
        if not os.path.exists(self.log_path):
            return []
        with open(self.log_path, encoding="utf-8") as handle:
            return [json.loads(line) for line in handle.read().split("\n")[:-1] if line.strip()]

    def wait_for(self, found, what, timeout=40):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for call in self.calls():
                if found(call):
                    return call
            time.sleep(0.1)
        self.fail(f"no {what} after {timeout} s; log:\n" + "\n".join(json.dumps(c)[:300] for c in self.calls()[-30:]))

    def finish(self, host):
        result = host.finish(timeout=120)
        self.assertFalse(result.timed_out)
        self.assertEqual(result.exit_code, 0, result.stderr[-3000:])
        out = json.loads(result.stdout.strip().splitlines()[-1])
        self.assertTrue(out["initialized"], out)
        # Chromium ends with the host: no process runs on its profile.
        left = subprocess.run(["pgrep", "-f", "--", "--user-data-dir=" + self.profile], capture_output=True, text=True)
        self.assertEqual(left.stdout.strip(), "", "Chromium outlived the host")
        return out

    def start_engine(self, address, more_env=None):
        """engine_probe on a fresh profile; its lines come from engine_events(), commands go through command()."""
        work = tempfile.mkdtemp(dir=self.folder.name)
        self.log_path = os.path.join(work, "runtime.log")
        self.profile = os.path.join(work, "profile")
        self.events_path = os.path.join(work, "events.jsonl")
        self.commands_path = os.path.join(work, "commands.txt")
        open(self.commands_path, "w", encoding="utf-8").close()
        args = ["--folder", winerun.windows_path(self.profile), "--navigate", address,
                "--events", winerun.windows_path(self.events_path),
                "--commands", winerun.windows_path(self.commands_path)]
        env = {"MIRAVELL_RUNTIME_LOG": winerun.windows_path(self.log_path), **(more_env or {})}
        return winerun.start_program("engine_probe.exe", args, env=env)

    def engine_events(self, kind=None):
        if not os.path.exists(self.events_path):
            return []
        with open(self.events_path, encoding="utf-8") as handle:
            lines = [json.loads(line) for line in handle.read().split("\n")[:-1] if line.strip()]
        return [line for line in lines if kind is None or line["event"] == kind]

    def wait_engine(self, event, count, timeout=40, **values):
        """The count-th line of that event (with those values)."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = [e for e in self.engine_events(event) if all(e.get(k) == v for k, v in values.items())]
            if len(found) >= count:
                return found[count - 1]
            time.sleep(0.1)
        self.fail(f"no {event} #{count} {values} after {timeout} s; lines:\n" +
                  "\n".join(json.dumps(e)[:300] for e in self.engine_events()[-30:]))

    def command(self, line):
        with open(self.commands_path, "a", encoding="utf-8") as handle:
            handle.write(line + "\n")

    def finish_engine(self, probe):
        self.command("quit")
        result = probe.finish(timeout=60)
        self.assertFalse(result.timed_out)
        self.assertEqual(result.exit_code, 0, result.stderr[-3000:])
        self.assertEqual(chromium_processes(self.profile), [],
                         "Chromium outlived the host")

    def client_pixels(self, shot, window, x_share):
        """The colour at x_share of the width, half the height, of the window's client area."""
        rect, client = window["rect"], window["client"]
        border = (rect["width"] - client["width"]) // 2
        left = rect["left"] + border
        top = rect["top"] + rect["height"] - client["height"] - border
        x = left + int(client["width"] * x_share)
        y = top + client["height"] // 2
        return uidriver.pixels(shot, x - 5, y - 5, 10, 10)

    def assert_colour(self, pixels, colour, where):
        for pixel in pixels:
            self.assertTrue(near(pixel, colour), f"{where}: {pixel} is not {colour}")

    def wait_colour(self, title, colour, where, x_share=0.5, timeout=30):
        """Until the window's client area shows the colour at x_share of its
        width, half its height. A page's frame reaches the window some time
        after the page has loaded, later on a loaded machine, so the test
        waits for the frame itself."""
        deadline = time.monotonic() + timeout
        while True:
            window = uidriver.wait_window(title=title, visible=True)
            shot = uidriver.screenshot(os.path.join(self.folder.name, "colour.png"))
            pixels = self.client_pixels(shot, window, x_share)
            if all(near(pixel, colour) for pixel in pixels) or time.monotonic() > deadline:
                return self.assert_colour(pixels, colour, where)
            time.sleep(0.2)

    def test_the_page_shows_in_the_bounds_stays_on_a_cancelled_navigation_and_posts_strings(self):
        # A Windows program, as the player is (Wine starts its Unix children otherwise).
        host = self.start_host(8000, page=STAYING_PAGE, program="host_probe_windows.exe")
        try:
            self.wait_for(lambda c: c.get("object") == "outcome" and c.get("call") == "message" and
                          c["args"] == ['"still-here"', True], "message still-here")
            self.wait_colour("host probe", ORANGE, "left half", x_share=0.25)
            self.wait_colour("host probe", BLUE, "right half", x_share=0.75)
        finally:
            out = self.finish(host)

        # The page the host made is known to its policy as about:blank.
        self.assertEqual(out["navigations"], [{"uri": "about:blank", "cancel": False},
                                              {"uri": "https://blocked.localhost:2/away", "cancel": True}])
        self.assertEqual(out["messages"], ["pageLoaded", "still-here"])
        messages = [c["args"] for c in self.calls() if c.get("object") == "outcome" and c.get("call") == "message"]
        self.assertIn(['{"kind":"not a string"}', False], messages)
        self.assertNotIn("unknown_slot", [c.get("call") for c in self.calls()])

        timings = {c["call"]: c.get("ms") for c in self.calls() if "ms" in c}
        print(f"\n[ figures  ] environment {timings.get('environment_completed')} ms, controller "
              f"{timings.get('controller_completed')} ms, first frame {timings.get('first_frame')} ms after the "
              f"controller was asked for; host start {out['initialize_ms']} ms")

    def test_requests_leave_with_the_hosts_headers_and_pop_ups_become_navigations(self):
        server = RecordingServer()
        try:
            out = self.finish(self.start_host(6000, address=server.url("/opening.html")))
        finally:
            server.close()
        paths = [path for path, _ in server.requests]
        # The document, its frame and their requests, and the pop-up the host showed in the same view.
        for path in ("/opening.html", "/frame.html", "/frame-request.txt", "/lesson/hls/x.ts", "/popup"):
            self.assertIn(path, paths)
        # Every request that left carried the host's changes: none went round the filter.
        for path, headers in server.requests:
            self.assertEqual(headers.get("x-miravell-client"), "desktop-4.8.0", path)
        # A stream path on a plain-HTTP host off the allow-list is no media
        # request of the service's: the device identity stays home.
        media = dict(server.requests)["/lesson/hls/x.ts"]
        self.assertFalse({"x-stream-key", "x-stream-host", "x-player-key", "x-player-host"} & set(media), media)
        self.assertEqual([n["uri"] for n in out["navigations"]],
                         [server.url("/opening.html"), server.url("/popup")])
        windows = [c for c in self.calls() if c.get("object") == "outcome" and c.get("call") == "new_window"]
        self.assertEqual([(w["args"], w["handled"]) for w in windows], [([server.url("/popup")], True)])

    def test_mock_pages_load_over_https_with_the_installed_trust_and_fail_without_it(self):
        mock = mockservice.shared()
        mapping_only = mockservice.MockService.browser_arguments(trust=False)
        embed = ("www.youtube.com", "/embed/mrvVolcano01")
        # (switches installed beside the runtime, None for the test bed's; address; requests that must reach
        # the mock as (host, path), none when the page must not load). No certificate switch comes from the
        # host or the environment in any case.
        cases = [
            (None, "https://www.youtube.com/embed/mrvVolcano01",
             [embed, ("i.ytimg.com", "/vi/mrvVolcano01/hqdefault.jpg")]),
            (None, "https://desktop.miravell.localhost/lessons/water-cycle",
             [("desktop.miravell.localhost", "/lessons/water-cycle"),
              ("desktop.miravell.localhost", "/lessons/media/water-cycle.png")]),
            (mapping_only, "https://www.youtube.com/embed/mrvVolcano01", []),
        ]
        try:
            for switches, address, expected in cases:
                with self.subTest(address=address, trusted=switches is None):
                    if switches is not None:
                        winerun.install_chromium_runtime(self.runtime_dir, browser_args=switches)
                    mock.reset()
                    host = self.start_host(5000, address=address)
                    try:
                        deadline = time.monotonic() + 40
                        while time.monotonic() < deadline:
                            reached = {(r["host"], r["path"]) for r in mock.requests() if r["method"] == "GET"}
                            refused = [h["sni"] for h in mock.handshakes() if not h["ok"]]
                            if (set(expected) <= reached) if expected else refused:
                                break
                            time.sleep(0.2)
                    finally:
                        self.finish(host)
                    if expected:
                        self.assertLessEqual(set(expected), reached)
                        self.assertEqual([], refused)
                    else:
                        self.assertNotIn(embed, reached)
                        self.assertIn("www.youtube.com", refused, "the mapping took it to the mock, and it was refused")
                    starts = [c for c in self.calls() if c.get("call") == "CreateWebViewEnvironmentWithOptionsInternal"]
                    self.assertNotIn("certificate", json.dumps(starts))
        finally:
            winerun.install_chromium_runtime(self.runtime_dir)

    def test_permission_requests_ask_the_host_and_its_answer_decides(self):
        server = RecordingServer()
        try:
            runs = {}
            # The page's own origin is the one the owner's rule lets in, then
            # one it does not (a frame no lesson needs). Fake devices: the
            # machine has no camera or microphone to grant.
            for name, allowed in (("allowed", server.url("/")), ("unlisted", "https://devices.example/")):
                runs[name] = self.finish(self.start_host(
                    15000, address=server.url("/permissions.html"),
                    more_args=["--deny", "6", "--devices-from", allowed],
                    more_env={"WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS": "--use-fake-device-for-media-stream"}))
        finally:
            server.close()
        out = runs["allowed"]
        self.assertEqual(len(out["messages"]), 1, out["messages"])
        self.assertEqual(json.loads(out["messages"][0]),
                         [[name, outcome, state] for name, _, _, outcome, state in PERMISSION_CASES])
        # Asked once per undecided request, about the page's origin, without a
        # user gesture; the probe's handler reads it all through the interface.
        self.assertEqual(out["permissions"],
                         [{"kind": kind, "uri": server.url("/"), "user": False, "state": state}
                          for _, kind, state, _, _ in PERMISSION_CASES if kind is not None])
        self.assertNotIn("unknown_slot", [c.get("call") for c in self.calls()])
        # Unlisted, the camera gets the engine's default answer, which headless
        # refuses as it refuses every prompt.
        unlisted = runs["unlisted"]
        camera = [p for p in unlisted["permissions"] if p["kind"] == 2]
        self.assertTrue(camera, unlisted["permissions"])
        self.assertEqual({p["state"] for p in camera}, {0})
        self.assertEqual(len(unlisted["messages"]), 1, unlisted["messages"])
        self.assertNotEqual(json.loads(unlisted["messages"][0])[0][1], "ok video")

    def test_each_top_level_navigation_ends_with_the_engines_status(self):
        server = RecordingServer()
        closed = f"http://127.0.0.1:{server.closed_port}/"
        # (what the host does, the address the navigation ends at, success, web error status, HTTP status).
        # A server's 4xx is a failure of unknown kind, a 5xx that brings a page of its own is not one (the
        # engine's documented meaning); host-made pages involve no HTTP. 12 CANNOT_CONNECT, 13
        # HOST_NAME_NOT_RESOLVED, 14 OPERATION_CANCELED.
        cases = [
            ("navigate " + closed, closed, False, 12, 0),
            ("navigate http://nowhere.test/", "http://nowhere.test/", False, 13, 0),
            ("navigate " + server.url("/missing"), server.url("/missing"), False, 0, 404),
            ("navigate " + server.url("/broken"), server.url("/broken"), True, 0, 503),
            ("navigate https://blocked.localhost/x", server.url("/broken"), False, 14, 0),
            ("html <p>try again</p>", "about:blank", True, 0, 0),
            # The page's own navigation: its document loads, then where it went fails.
            ("navigate " + server.url("/jump.html"), server.url("/jump.html"), True, 0, 200),
            (None, f"http://127.0.0.1:{server.closed_port}/away", False, 12, 0),
        ]
        probe = self.start_engine(server.url("/fine.html"), more_env={
            "WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS": '"--host-resolver-rules=MAP nowhere.test ~NOTFOUND"'})
        try:
            first = self.wait_engine("navigation_completed", 1)
            self.assertEqual((first["success"], first["web_error_status"], first["http_status"]), (True, 0, 200))
            for index, (command, source, success, status, http) in enumerate(cases, start=2):
                with self.subTest(command=command, source=source):
                    if command is not None:
                        self.command(command)
                    seen = self.wait_engine("navigation_completed", index)
                    self.assertEqual((seen["source"], seen["success"], seen["web_error_status"], seen["http_status"]),
                                     (source, success, status, http))
        finally:
            self.finish_engine(probe)
            server.close()
        # Every end names a navigation the host was told had started, each once.
        started = [e["id"] for e in self.engine_events("navigation_starting")]
        ended = [e["id"] for e in self.engine_events("navigation_completed")]
        self.assertEqual(sorted(ended), sorted(set(ended)))
        self.assertLessEqual(set(ended), set(started))

    def test_a_killed_renderer_or_browser_is_reported_and_the_view_comes_back(self):
        server = RecordingServer()
        probe = self.start_engine(server.url("/colour.html"))
        try:
            # (what is killed, the failure's kind and reason, the generation of objects that loads again).
            # Kind 1 RENDER_PROCESS_EXITED, 0 BROWSER_PROCESS_EXITED; reason 2 TERMINATED.
            stages = [(None, None, 1), ("renderer", (1, 2), 1), ("browser", (0, 2), 2)]
            for load, (victim, failure, generation) in enumerate(stages, start=1):
                if victim is not None:
                    processes = chromium_processes(self.profile)
                    browser = [pid for pid, group, args in processes if pid == group]
                    self.assertEqual(len(browser), 1, processes)
                    # Helpers write their switches over their name, as one string; the renderer of the
                    # browser's own pages (webui) is no page's.
                    targets = browser if victim == "browser" else [
                        pid for pid, group, args in processes
                        if "--type=renderer" in " ".join(args) and "--top-chrome-webui" not in " ".join(args)]
                    self.assertTrue(targets, processes)
                    for pid in targets:
                        os.kill(pid, signal.SIGKILL)
                    failed = self.wait_engine("process_failed", 1, generation=generation - (victim == "browser"),
                                              kind=failure[0])
                    self.assertEqual((failed["reason"], failed["exit_code"]), (failure[1], 9), failed)
                # The page loads again with everything the host had set up: its script posts and answers
                # the host's message, its filter stamps the request, and the window shows the new load's colour.
                done = self.wait_engine("navigation_completed", 1 if victim != "renderer" else 2,
                                        generation=generation)
                self.assertEqual((done["success"], done["http_status"]), (True, 200), done)
                self.wait_engine("message", load, text="script:/colour.html")
                self.wait_engine("message", load, text="echo:ping")
                self.assertEqual([h.get("x-probe") for p, h in server.requests if p == "/colour.html"][load - 1],
                                 str(generation))
                self.wait_colour("engine probe", LOAD_COLOURS[load - 1], f"load {load}")
        finally:
            self.finish_engine(probe)
            server.close()
        # The browser's dead objects refuse everything but Close, and a new environment took over.
        dead = self.engine_events("dead_calls")
        self.assertEqual(len(dead), 1)
        self.assertEqual({call: hr == "0x00000000" for call, hr in dead[0]["results"].items()},
                         {"Navigate": False, "Reload": False, "ExecuteScript": False, "put_Bounds": False,
                          "CreateCoreWebView2Controller": False, "Close": True})
        self.assertEqual([e["generation"] for e in self.engine_events("ready")], [1, 2])
        self.assertEqual(self.engine_events("dead_environment_answered"), [])


if __name__ == "__main__":
    unittest.main()
