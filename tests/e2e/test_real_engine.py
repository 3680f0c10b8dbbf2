"""The real Miravell.exe on a real browser engine: Debian's Chromium behind
the runtime interface (testbed/chromium-runtime), against the mock service.
Each start is driven as a user would: real mouse clicks on the painted page,
screenshots read at known pixels, window rectangles. What the page, the
engine and the service saw comes from the page's own messages and the
runtime's log (MIRAVELL_RUNTIME_LOG), and from the mock's request log.

One player start covers several checks (a start costs seconds on this
engine): the start screen and its navigation bar, ended by a pin failure;
an HTML lesson (its loading overlay, the navigation policy, pop-ups, the
page's fullscreen toggle); a PDF lesson under its watermark; a lesson that
outlives its host going down, then its renderer and its browser killed,
until the third failure in a minute; a lesson whose script hangs its
renderer. Needs chromium: without it the start fails, and so does the
test."""
import http.server
import json
import os
import ssl
import struct
import subprocess
import tempfile
import threading
import time
import unittest
import zlib

import mockservice
import uidriver
import winerun
from programs import ALERT_CLASS, CONTENT_PATH, INIT_CLASS, PLAYER_CLASS, ProgramTest, make_link

SERVICE = "https://miravell.localhost"
MEDIA_HOST = "cdn.lessons.localhost"  # pinned by the service's pin list, outside the operator's domain
SCREEN = (1920, 1080)

ORANGE = (0xFF, 0x8C, 0x00)
BLUE = (0x1E, 0x90, 0xFF)
GREEN = (0x22, 0x8B, 0x22)
PURPLE = (0x80, 0x00, 0x80)
YELLOW = (0xFF, 0xD7, 0x00)
OVERLAY = (0x20, 0x20, 0x20)  # the lesson's loading overlay

# Every page tells the test where it is and where its parts are, through the
# same channel the service's pages use.
PAGE_SCRIPT = """
function post(m) { chrome.webview.postMessage(m); }
function box(e) { const r = e.getBoundingClientRect();
  return [Math.round(r.left), Math.round(r.top), Math.round(r.width), Math.round(r.height)]; }
// What a click met, for the record when a check fails.
for (const type of ['mousedown', 'click'])
  addEventListener(type, e => post(`input:${type} ${e.clientX},${e.clientY} ${e.target.id || e.target.tagName}`), true);
"""

# The start pages: the navigation bar is reported once it is there and again
# each time the pointer enters it (its buttons widen then) or leaves it. The page's own
# style turns the bar's transitions off, so what it reports is where the bar
# stays. A click on the media tile asks a pinned host for a file.
START_PAGE = """<!doctype html><html><head><style>
#quella-nav-container, #quella-nav-container * { transition: none !important; }
</style></head><body style="margin:0;background:{colour}">
<div id="media" style="position:fixed;left:400px;top:300px;width:200px;height:100px;background:#fff"></div>
<script>""" + PAGE_SCRIPT + """
function bar(hovered) { const c = document.getElementById('quella-nav-container');
  post('nav:' + JSON.stringify({hovered, bar: box(c), buttons: [...c.querySelectorAll('button')].map(box)})); }
addEventListener('load', () => {
  post('page:' + location.pathname);
  bar(false);
  const c = document.getElementById('quella-nav-container');
  c.addEventListener('mouseenter', () => bar(true));
  c.addEventListener('mouseleave', () => bar(false));
});
document.getElementById('media').addEventListener('click', () =>
  fetch('https://""" + MEDIA_HOST + """/lesson.mp4').then(r => post('media:' + r.status), () => post('media:failed')));
</script></body></html>"""

# A lesson page: its load waits for a slow picture, under the player's
# loading overlay, whose state the page reports as it sees it ("present:" and
# its opacity, or "gone") when its document is ready, when it has loaded and
# when the overlay has gone (how long after the load, or "before-load").
def lesson_page(colour, picture, tiles="", when_gone=""):
    return """<!doctype html><html><head><style>
.tile { position: fixed; left: 40px; width: 300px; height: 80px; background: #fff; }
</style></head><body style="margin:0;background:""" + colour + '">' + tiles + """
<img src='""" + picture + """' style="position:fixed;right:0;bottom:0;width:1px;height:1px">
<script>""" + PAGE_SCRIPT + """
function loader() { const l = document.getElementById('quella-full-loader');
  return l ? 'present:' + (l.style.opacity || '1') : 'gone'; }
let loadedAt = null;
addEventListener('DOMContentLoaded', () => {
  post('loader:' + location.pathname + ':ready:' + loader());
  const watch = setInterval(() => { if (loader() !== 'gone') return;
    clearInterval(watch);
    post('loader:' + location.pathname + ':gone:' + (loadedAt === null ? 'before-load' : Math.round(performance.now() - loadedAt)));
    """ + when_gone + """ }, 20);
});
addEventListener('load', () => {
  loadedAt = performance.now();
  post('loader:' + location.pathname + ':load:' + loader() + '@' + Math.round(loadedAt));
  post('page:' + location.pathname);
});
document.getElementById('full')?.addEventListener('click', () => post('toggleFullscreen'));
</script></body></html>"""


# The lesson itself: its picture comes after the overlay's own time limit.
# Three tiles: a link to a host outside the lesson, the fullscreen toggle, a
# link that asks for a new window.
LESSON_PAGE = lesson_page("#228b22", "/lessons/slow.png", tiles="""
<a id="away" class="tile" href="https://example.org/" style="top:40px"></a>
<div id="full" class="tile" style="top:160px"></div>
<a id="blank" class="tile" href="/lessons/second" target="_blank" style="top:280px"></a>""")
# The page the new-window link opens: it loads in a moment, and then opens
# one more by script.
SECOND_PAGE = lesson_page("#1e90ff", "/lessons/second.png", when_gone="window.open('/lessons/third', '_blank');")
# A lesson whose script never ends once it is clicked, the first time it is
# served only (a second hang would count as a second failure); then the
# lesson as it should be, in another colour. A click, not a timer: a frame
# of the page must reach the window before the renderer stops painting.
HANGING_PAGE = lesson_page("#ff8c00", "/lessons/second.png", when_gone="""
    addEventListener('click', () => { post('hang:' + location.pathname); setTimeout(() => { for (;;) {} }, 300); });
    post('armed:' + location.pathname);""")
CALM_PAGE = lesson_page("#228b22", "/lessons/second.png")
THIRD_PAGE = """<!doctype html><html><body style="margin:0;background:#800080"><script>""" + PAGE_SCRIPT + """
addEventListener('load', () => post('page:' + location.pathname));
</script></body></html>"""

# The lesson's notes, which the PDF links to: a page whose script takes the
# watermark away.
NOTES_PAGE = """<!doctype html><html><body style="margin:0;background:#fff"><script>""" + PAGE_SCRIPT + """
addEventListener('load', () => {
  post('page:' + location.pathname);
  document.getElementById('quella-watermark').remove();
  post('watermark-removed:' + !document.getElementById('quella-watermark'));
  setTimeout(() => post('watermark-back:' + !!document.getElementById('quella-watermark')), 0);
});
</script></body></html>"""


def png_pixel():
    """A PNG of one white pixel."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 1, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(b"\x00\xff\xff\xff")) + chunk(b"IEND", b""))


def pdf_document(link, colour=b"1 0.843 0"):
    """One A4 page filled with a colour (yellow unless told), its upper half a link, as a PDF."""
    content = colour + b" rg 0 0 595 842 re f"
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>",
               b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
               b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R /Annots [5 0 R] >>",
               b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream",
               b"<< /Type /Annot /Subtype /Link /Rect [0 421 595 842] /Border [0 0 0] /A << /S /URI /URI (%s) >> >>"
               % link.encode()]
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += b"".join(b"%010d 00000 n \n" % offset for offset in offsets)
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    return bytes(out)


# The pages above, routed on the service's host over the mock's default
# answers; a path left out of PAGES gets the mock's own content. No page may
# come from the engine's cache: the service's log shows each load.
def html(body):
    return {"headers": {"Content-Type": "text/html; charset=utf-8", "Cache-Control": "no-store"}, "body": body}


def slow_picture(delay_ms):
    return {"headers": {"Content-Type": "image/png", "Cache-Control": "no-store"}, "body": png_pixel(),
            "delay_ms": delay_ms}


PAGES = {
    "/app": html(START_PAGE.replace("{colour}", "#ff8c00")),
    "/app/courses": html(START_PAGE.replace("{colour}", "#1e90ff")),
    "/lessons/html": html(LESSON_PAGE),
    "/lessons/second": html(SECOND_PAGE),
    "/lessons/third": html(THIRD_PAGE),
    "/lessons/slow.png": slow_picture(8000),
    "/lessons/second.png": slow_picture(1000),
    "/files/lesson.pdf": {"headers": {"Content-Type": "application/pdf", "Cache-Control": "no-store"},
                          "body": pdf_document(SERVICE + "/files/notes.html")},
    "/files/notes.html": html(NOTES_PAGE),
}


def close_to(pixel, colour, step=12):
    # JPEG frames: flat colours come within a few steps.
    return all(abs(a - b) <= step for a, b in zip(pixel, colour))


def watermark_on(colour):
    """The watermark's red at 0.15 over a flat colour; the plain colour stays
    out (it differs by 30 or more in some channel for the colours used)."""
    tint = [0.85 * c + 0.15 * red for c, red in zip(colour, (255, 0, 0))]
    return lambda p: close_to(p, tint, 16)


RETRY_BLUE = (0x34, 0x98, 0xDB)  # the retry page's button
RETRY_HOVERED = (0x2F, 0x89, 0xC5)
SKY = (0x87, 0xCF, 0xEB)
WHITE = (0xFF, 0xFF, 0xFF)
# The PDF each top-level load of the lesson gets, in turn (a load the engine
# makes from scratch after a crash shows in its colour), as the page's fill
# in the PDF and as the colour painted.
LOAD_COLOURS = [(b"1 0.843 0", YELLOW), (b"0.53 0.81 0.92", SKY), (b"1 1 1", WHITE)]
GAVE_UP = "Miravell - خطأ"
IDCANCEL = "2"


class LessonHost:
    """The lesson's own HTTPS server on a port of its own, on the service's
    name (its certificate is the mock's). The port is taken at once but
    refuses connections until up(): the host is down, and no one else can
    take the port meanwhile. Serves the PDF of LOAD_COLOURS for each page
    load in turn, and records each request's path and headers."""

    def __init__(self, folder):
        self.requests = []
        self.loads = 0
        owner = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                headers = {k.lower(): v for k, v in self.headers.items()}
                owner.requests.append((self.path, headers))
                # A request of the PDF viewer's own for the file, if it made one,
                # gets the document of the load it belongs to.
                if headers.get("sec-fetch-dest") == "document":
                    owner.loads += 1
                fill = LOAD_COLOURS[min(max(owner.loads, 1), len(LOAD_COLOURS)) - 1][0]
                body = pdf_document(SERVICE + "/files/notes.html", fill)
                self.send_response(200)
                self.send_header("Content-Type", "application/pdf")
                self.send_header("Cache-Control", "no-store")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        chain = os.path.join(folder, "lesson-host-chain.pem")
        with open(chain, "w", encoding="ascii") as out:
            for name in ("service-leaf", "service-ca"):
                with open(mockservice.MockService.cert_path(name), encoding="ascii") as part:
                    out.write(part.read())
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(chain, mockservice.MockService.cert_path("service-leaf.key"))
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler, bind_and_activate=False)
        self.server.server_bind()
        self.server.socket = context.wrap_socket(self.server.socket, server_side=True)
        self.port = self.server.server_address[1]
        self.thread = None

    def up(self):
        self.server.server_activate()
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def close(self):
        if self.thread is not None:
            self.server.shutdown()
        self.server.server_close()


class RealEngineTest(ProgramTest):
    @classmethod
    def setUpClass(cls):
        cls.mock = mockservice.shared()
        cls.folder = tempfile.TemporaryDirectory()
        # With the mock's trust and host mapping, as a development machine has it.
        winerun.install_chromium_runtime()

    @classmethod
    def tearDownClass(cls):
        # The other whole-program tests expect the scripted runtime in its place.
        winerun.ensure_runtime()
        cls.folder.cleanup()

    def setUp(self):
        self.mock.reset()
        for path, answer in PAGES.items():
            self.mock.route(method="GET", host="miravell.localhost", path=path, **answer)

    # --- the program and what it saw -------------------------------------

    def start(self, *args):
        work = tempfile.mkdtemp(dir=self.folder.name)
        self.log_path = os.path.join(work, "runtime.log")
        env = {"MIRAVELL_RUNTIME_LOG": winerun.windows_path(self.log_path)}
        self.started = time.monotonic()
        self.start_player(args, env=env)

    def finish(self, exit_code):
        """The program's end: its exit code, and its browser gone with it."""
        result = self.program.finish(60)
        self.assertEqual(result.exit_code, exit_code)
        self.wait_until(self.chromium_gone, "the end of Chromium", timeout=15, while_running=False)
        return result

    @staticmethod
    def chromium_gone():
        # The profile lives in this bed's prefix: another bed's Chromium is not ours.
        profile = "--user-data-dir=" + os.environ["MIRAVELL_TESTBED"]
        return subprocess.run(["pgrep", "-f", "--", profile], capture_output=True).returncode == 1

    def calls(self):
        try:
            with open(self.log_path, encoding="utf-8") as handle:
                text = handle.read()
        except FileNotFoundError:
            return []
        return [json.loads(line) for line in text.split("\n")[:-1] if line.strip()]

    def outcomes(self, kind):
        return [c for c in self.calls() if c.get("object") == "outcome" and c.get("call") == kind]

    def messages(self):
        """The page's string messages, in order."""
        return [json.loads(c["args"][0]) for c in self.outcomes("message") if c["args"][1]]

    def wait_until(self, found, what, timeout=45, while_running=True):
        deadline = time.monotonic() + timeout
        while True:
            value = found()
            if value:
                return value
            if time.monotonic() > deadline or (while_running and not self.program.running()):
                what = what() if callable(what) else what
                kept = os.path.join(os.environ["MIRAVELL_TESTBED"], f"{self.id().split('.')[-1]}.png")
                uidriver.screenshot(kept)
                self.fail(f"no {what} (screen in {kept}) after {time.monotonic() - self.started:.1f} s; messages {self.messages()}; "
                          "log:\n" + "\n".join(json.dumps(c)[:300] for c in self.calls()[-25:]))
            time.sleep(0.1)

    def wait_message(self, prefix, count=1):
        """The count-th message starting with prefix (its rest)."""
        def found():
            matching = [m for m in self.messages() if m.startswith(prefix)]
            return matching[count - 1][len(prefix):] if len(matching) >= count else None
        return self.wait_until(found, f"message {prefix!r} #{count}")

    def wait_outcome(self, kind, uri):
        return self.wait_until(lambda: next((c for c in self.outcomes(kind) if c["args"][0] == uri), None),
                               f"{kind} of {uri}")

    # --- the screen ---------------------------------------------------------

    @staticmethod
    def client_origin(window):
        rect, client = window["rect"], window["client"]
        border = (rect["width"] - client["width"]) // 2
        return rect["left"] + border, rect["top"] + rect["height"] - client["height"] - border

    def screen_point(self, window, x, y):
        left, top = self.client_origin(window)
        return left + x, top + y

    def client_pixels(self, window, x, y, width, height):
        """A client area's pixels, row by row, as the screen shows them now."""
        shot = uidriver.screenshot(os.path.join(self.folder.name, "screen.png"))
        return uidriver.pixels(shot, *self.screen_point(window, x, y), width, height)

    def wait_colour(self, window, x, y, colour, what):
        """Waits until the client point shows colour (the page paints through screencast frames)."""
        at = self.screen_point(window, x, y)
        seen = []

        def shows():
            seen.append((round(time.monotonic() - self.started, 1), self.client_pixels(window, x, y, 1, 1)[0]))
            return close_to(seen[-1][1], colour)

        frames = lambda: [(c["call"], c.get("ms")) for c in self.calls() if c.get("call") == "first_frame"]
        return self.wait_until(shows, lambda: f"{what}: {colour} at {at}; seen {seen[-12:]}; {frames()}")

    def wait_watermark(self, window, colour, what):
        """Waits until the watermark's red tints the middle of the client,
        where it crosses the page, over a page of that colour."""
        self.wait_until(lambda: self.count(window, (300, 150, 700, 350), watermark_on(colour)) > 300,
                        f"the watermark over {what}")

    def count(self, window, area, matches):
        """How many pixels of a client area (x, y, width, height) match."""
        return sum(1 for pixel in self.client_pixels(window, *area) if matches(pixel))

    def find(self, window, matches, least, step=4):
        """The client point at the middle of the pixels that match, once at
        least that many do; every step-th pixel each way is looked at."""
        width, height = window["client"]["width"], window["client"]["height"]
        pixels = self.client_pixels(window, 0, 0, width, height)
        found = [(x, y) for y in range(0, height, step) for x in range(0, width, step)
                 if matches(pixels[y * width + x])]
        if len(found) < least:
            return None
        return sum(p[0] for p in found) // len(found), sum(p[1] for p in found) // len(found)

    def click(self, window, x, y):
        uidriver.click(*self.screen_point(window, x, y))

    def move(self, window, x, y):
        uidriver.move(*self.screen_point(window, x, y))

    # --- cases --------------------------------------------------------------

    def nav_bar(self, window):
        """Points at the navigation bar's grip and returns the bar as the
        page reports it once it has seen the pointer come onto it (its
        buttons widen then). The pointer leaves the bar first, and the page
        must have seen that too: Windows merges mouse moves that wait in the
        queue, and a move to the grip merged into the next one would never
        reach the page."""
        def reports():
            messages = self.messages()
            page = max(i for i, m in enumerate(messages) if m.startswith("page:"))
            return [json.loads(m[4:]) for m in messages[page:] if m.startswith("nav:")]

        bar = self.wait_until(reports, "the bar's first report")[0]["bar"]
        seen = len(reports())
        self.move(window, 600, 500)
        if reports()[-1]["hovered"]:
            self.wait_until(lambda: any(not r["hovered"] for r in reports()[seen:]), "the pointer off the bar")
        seen = len(reports())
        self.move(window, bar[0] + 18, bar[1] + bar[3] // 2)
        return self.wait_until(lambda: next((r for r in reports()[seen:] if r["hovered"]), None),
                               "the bar under the pointer")

    def click_button(self, window, bar, index):
        x, y, width, height = bar["buttons"][index]
        self.click(window, x + width // 2, y + height // 2)

    def fullscreen_and_back(self, window, toggle, colour, windowed):
        """The page's toggle covers the monitor with the page, and a second
        one gives the window back as windowed wants it, the page over all of it."""
        def shown(placed):
            return lambda: next((w for w in uidriver.windows(cls=window["class"]) if placed(w["rect"])), None)

        toggle(window)
        full = self.wait_until(shown(lambda rect: rect["width"] == SCREEN[0]), "fullscreen")
        self.assertEqual((full["rect"]["left"], full["rect"]["top"], full["rect"]["height"]), (0, 0, SCREEN[1]))
        self.assertFalse(full["style"] & uidriver.WS_CAPTION)
        self.wait_colour(full, SCREEN[0] - 20, SCREEN[1] - 20, colour, "page over the whole monitor")
        toggle(full)
        back = self.wait_until(shown(windowed), "windowed again")
        self.assertTrue(back["style"] & uidriver.WS_CAPTION)
        self.wait_colour(back, back["client"]["width"] - 10, back["client"]["height"] - 10, colour,
                         "page over the whole window")
        return back

    def test_a_refused_link_lets_the_engine_go_before_its_message(self):
        # The engine starts while the service answers; the service then
        # refuses the link, and no window will ever use that engine.
        self.mock.route(method="PUT", path=CONTENT_PATH, status=403, body=json.dumps({"message": "refused"}))
        self.start(make_link("tok-1", "lesson-9"))
        uidriver.box(title="Miravell - خطأ")

        def answered_and_gone():
            answered = [c for c in self.calls() if c.get("call") == "environment_completed"]
            return answered and self.chromium_gone() and answered
        answered = self.wait_until(answered_and_gone, "end of Chromium while the message is up", timeout=30)
        self.assertEqual(answered[0]["args"], ["0x00000000"], "Chromium did start")
        uidriver.press("OK", title="Miravell - خطأ")
        self.finish(1)

    def test_start_screen_bar_buttons_then_a_pinned_host_outside_its_pins(self):
        pins = mockservice.MockService.pins()
        self.mock.route(method="GET", path="/pins", status=200, headers={"Content-Type": "application/json"},
                        body=json.dumps([{"scope": "miravell.localhost", "pins": [pins["service-ca"]]},
                                         {"scope": MEDIA_HOST, "pins": [pins["service-leaf"]]}]))
        self.mock.tls(MEDIA_HOST, "attacker")
        self.start()
        window = uidriver.wait_window(cls=INIT_CLASS, visible=True)
        self.wait_colour(window, 600, 500, ORANGE, "start page")
        self.assertEqual(self.wait_message("page:"), "/app")

        # Home, then Back, with the mouse on the painted bar.
        self.click_button(window, self.nav_bar(window), 0)
        self.assertEqual(self.wait_message("page:", 2), "/app/courses")
        self.wait_colour(window, 600, 500, BLUE, "home page")
        self.click_button(window, self.nav_bar(window), 1)
        self.assertEqual(self.wait_message("page:", 3), "/app")
        self.wait_colour(window, 600, 500, ORANGE, "start page again")
        # The start screen gives back the placement it had.
        back = self.fullscreen_and_back(window, lambda w: self.click_button(w, self.nav_bar(w), 2), ORANGE,
                                        lambda rect: rect == window["rect"])

        # The page asks a pinned host whose certificate fails its pins: the
        # engine is answered "Blocked", the service never sees the request,
        # and the interception alert ends the program.
        self.click(back, 500, 350)
        blocked = self.wait_outcome("resource", f"https://{MEDIA_HOST}/lesson.mp4")
        self.assertEqual((blocked["response"]["status"], blocked["response"]["reason"]), (403, "Blocked"))
        uidriver.wait_window(cls=ALERT_CLASS)
        self.assertEqual(uidriver.clipboard(), "MITM_PIN_" + MEDIA_HOST)
        self.assertEqual(self.wait_message("media:"), "failed")
        uidriver.close(cls=ALERT_CLASS)
        self.finish(1)
        self.assertEqual([r["method"] for r in self.mock.requests() if r["host"] == MEDIA_HOST], ["HEAD"])


    def test_html_lesson_overlay_policy_pop_ups_and_fullscreen(self):
        self.start(make_link("tok-1", SERVICE + "/lessons/html"))
        window = uidriver.wait_window(cls=PLAYER_CLASS, visible=True)
        # The overlay covers the lesson from its first paint. The lesson's
        # picture holds its load past the overlay's own time limit, where the
        # overlay goes anyway.
        self.wait_colour(window, 600, 500, OVERLAY, "loading overlay")
        self.assertEqual(self.wait_message("loader:/lessons/html:ready:"), "present:1")
        self.assertEqual(self.wait_message("loader:/lessons/html:gone:"), "before-load")
        self.wait_colour(window, 600, 500, GREEN, "lesson")
        # (A navigation cancelled while the picture is still on its way leaves
        # Chromium's page without its load and without repaints on a resize:
        # the clicks below wait for the load.)
        self.assertEqual(self.wait_message("loader:/lessons/html:load:").split("@")[0], "gone")

        # A link to a host outside the lesson: cancelled, the page stays and
        # still answers (its fullscreen tile below).
        self.click(window, 190, 80)
        self.assertTrue(self.wait_outcome("navigation", "https://example.org/")["cancel"])
        self.assertNotIn("https://example.org/", [c["args"][0] for c in self.outcomes("resource")])
        self.wait_colour(window, 600, 500, GREEN, "lesson after the cancelled navigation")

        # The page's toggle: the monitor, then back at the player's size.
        back = self.fullscreen_and_back(window, lambda w: self.click(w, 190, 200), GREEN,
                                        lambda rect: (rect["width"], rect["height"]) == (1280, 720))

        # A link for a new window: shown in the same view. That page loads in
        # a moment, and the overlay fades with its load; then its script's
        # window.open, in the same view too.
        self.click(back, 190, 320)
        self.assertTrue(self.wait_outcome("new_window", SERVICE + "/lessons/second")["handled"])
        self.assertEqual(self.wait_message("loader:/lessons/second:ready:"), "present:1")
        at_load, loaded_ms = self.wait_message("loader:/lessons/second:load:").split("@")
        self.assertEqual(at_load, "present:0")
        self.assertLess(int(loaded_ms), 4500, "the load came too late to tell it from the overlay's time limit")
        self.assertNotEqual(self.wait_message("loader:/lessons/second:gone:"), "before-load")
        self.assertTrue(self.wait_outcome("new_window", SERVICE + "/lessons/third")["handled"])
        self.wait_colour(back, 600, 500, PURPLE, "the page the script opened")
        self.assertEqual([m for m in self.messages() if m.startswith("page:")],
                         ["page:/lessons/html", "page:/lessons/second", "page:/lessons/third"])
        shown = [w for w in uidriver.windows() if w["pid"] == back["pid"] and w["style"] & uidriver.WS_VISIBLE]
        self.assertEqual([w["class"] for w in shown], [PLAYER_CLASS])

        uidriver.close(cls=PLAYER_CLASS)
        self.finish(0)
        # Each page was asked for once through the player's request filter.
        # (A pop-up a click opens sends one more, untagged request for its
        # address before the runtime substitute closes it: a limitation of
        # the substitute, which cannot hold a pop-up's first request.)
        tagged = [r["path"] for r in self.mock.requests() if r["host"] == "miravell.localhost" and r["method"] == "GET"
                  and ("X-Miravell-Client", "desktop-4.8.0") in map(tuple, r["headers"])]
        for path in ("/lessons/html", "/lessons/slow.png", "/lessons/second", "/lessons/second.png", "/lessons/third"):
            self.assertEqual(tagged.count(path), 1, path)

    def test_pdf_lesson_under_the_watermark_which_comes_back(self):
        self.start(make_link("tok-2", "lesson-7"))  # the service's answer: the PDF, for student@example.com
        window = uidriver.wait_window(cls=PLAYER_CLASS, visible=True)
        # The PDF's yellow page, the student's address tinting it red across
        # the middle and nowhere near the bottom.
        self.wait_colour(window, 800, 600, YELLOW, "the PDF's page")
        self.wait_watermark(window, YELLOW, "the PDF")
        self.assertLess(self.count(window, (300, 560, 700, 100), watermark_on(YELLOW)), 20)

        # The PDF's link leads to the lesson's notes, whose script takes the
        # watermark away: it is back at once, and painted.
        self.click(window, 800, 200)
        self.assertEqual(self.wait_message("watermark-removed:"), "true")
        self.assertEqual(self.wait_message("watermark-back:"), "true")
        self.wait_watermark(window, WHITE, "the notes")
        self.assertEqual([(c["args"][0], c["cancel"]) for c in self.outcomes("navigation")],
                         [(SERVICE + "/files/lesson.pdf", False), (SERVICE + "/files/notes.html", False)])
        uidriver.close(cls=PLAYER_CLASS)
        self.finish(0)

    def test_a_lesson_outlives_its_host_down_and_killed_engines_until_the_third_failure(self):
        # The service sends the student to a PDF on a port of its host where
        # nothing answers yet. The player's pin check asks the host on the
        # usual port, which answers: only the engine's own load fails.
        host = LessonHost(self.folder.name)
        self.addCleanup(host.close)
        lesson = f"https://miravell.localhost:{host.port}/files/lesson.pdf"
        self.mock.route(method="PUT", path=CONTENT_PATH, status=200, headers={"Content-Type": "application/json"},
                        body=json.dumps({"data": {"type": "pdf", "url": lesson, "video_source": "",
                                                  "user_email": "student@example.com",
                                                  "injected_script_number": 1}}))
        self.start(make_link("tok-3", "lesson-12"))
        window = uidriver.wait_window(cls=PLAYER_CLASS, visible=True)
        failed = self.wait_outcome("navigation_completed", lesson)
        self.assertEqual((failed["success"], failed["web_error_status"]), (False, 12))  # CANNOT_CONNECT

        # The player's own page, its Retry button painted: the host comes
        # back, and a click on the button loads the lesson. The button takes
        # its hover colour only once nothing lies over it (the page takes the
        # loading overlay away itself): then a click reaches it.
        button = self.wait_until(lambda: self.find(window, lambda p: close_to(p, RETRY_BLUE) or
                                                   close_to(p, RETRY_HOVERED), 200), "the Retry button")
        host.up()
        self.move(window, *button)
        button = self.wait_until(lambda: self.find(window, lambda p: close_to(p, RETRY_HOVERED), 200),
                                 "the Retry button under the pointer")
        self.click(window, *button)
        for load, (_, colour) in enumerate(LOAD_COLOURS):
            if load == 1:
                # A renderer that ends takes the page with it: the player
                # loads it again in the same engine.
                winerun.kill_chromium("renderer")
            elif load == 2:
                # The browser itself: a new engine, its scripts, the lesson.
                winerun.kill_chromium("browser")
            self.wait_colour(window, 800, 600, colour, f"the lesson's load {load + 1}")
            self.wait_watermark(window, colour, f"the lesson's load {load + 1}")

        # The third failure within the minute: the student is asked, and
        # Cancel ends the player. The window was never replaced.
        winerun.kill_chromium("browser")
        uidriver.box(title=GAVE_UP)
        self.assertEqual([w["hwnd"] for w in uidriver.windows(cls=PLAYER_CLASS)], [window["hwnd"]])
        uidriver.press(IDCANCEL, title=GAVE_UP)
        result = self.finish(1)

        self.assertEqual([line for line in result.debug_lines if line.startswith(("Engine:", "Load:"))], [
            "Load: failed, server unreachable (web error status 12, HTTP status 0); showing the retry page",
            "Load: the student chose to try again",
            "Engine: render process exited (terminated, exit code 9); reloading the page "
            "(failure 1 of 3 within a minute)",
            "Engine: browser process exited (terminated, exit code 9); starting the engine again "
            "(failure 2 of 3 within a minute)",
            "Engine: browser process exited (terminated, exit code 9); too many failures, asking the student "
            "(failure 3 of 3 within a minute)",
            "Engine: the student closed the player",
        ])
        # One load of the lesson each time, every one through the player's
        # request filter, the new engine's included.
        documents = [headers for path, headers in host.requests if headers.get("sec-fetch-dest") == "document"]
        self.assertEqual(len(documents), 3, host.requests)
        self.assertEqual([h.get("x-miravell-client") for h in documents], ["desktop-4.8.0"] * 3)

    def test_a_lesson_whose_script_hangs_its_renderer_is_loaded_again(self):
        lesson = SERVICE + "/lessons/hanging"
        self.mock.route(method="GET", host="miravell.localhost", path="/lessons/hanging", **html(CALM_PAGE))
        self.mock.route(method="GET", host="miravell.localhost", path="/lessons/hanging", times=1, **html(HANGING_PAGE))
        self.start(make_link("tok-5", lesson))
        window = uidriver.wait_window(cls=PLAYER_CLASS, visible=True)
        self.wait_colour(window, 600, 500, ORANGE, "the lesson before its script hangs")
        self.wait_message("armed:")
        self.click(window, 600, 500)
        self.assertEqual(self.wait_message("hang:"), "/lessons/hanging")
        # The engine tells the player the renderer no longer answers; the
        # player loads the lesson again, and that navigation gets through.
        self.wait_colour(window, 600, 500, GREEN, "the lesson loaded again")
        self.assertEqual([m for m in self.messages() if m.startswith("page:")], ["page:/lessons/hanging"] * 2)
        uidriver.close(cls=PLAYER_CLASS)
        result = self.finish(0)
        self.assertEqual([line for line in result.debug_lines if line.startswith(("Engine:", "Load:"))], [
            "Engine: render process unresponsive (unresponsive, exit code 259); reloading the page "
            "(failure 1 of 3 within a minute)",
        ])


if __name__ == "__main__":
    unittest.main()
