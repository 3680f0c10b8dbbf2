"""The real Miravell.exe on the whole road of a start: what the user saw (windows,
titles, sizes, boxes, screenshots), what the service received (requests in
order, headers, bodies), what the browser was told to do, the step log, the
registry and the exit code. The mock service stands in for the service and
the scripted runtime for the browser engine.

Further scenarios of the same suite live next to the pieces they exercise and
carry the "e2e" label too: update answers, refused and broken links
(tests/app/test_link_start.py), Windows 7 (tests/app/test_startup.py), the
runtime install flow (tests/runtime)."""
import collections
import json
import os
import unittest

import mockservice
import uidriver
import winerun
from programs import (ALERT_CLASS, CONTENT_PATH, INIT_CLASS, PLAYER_CLASS, SCHEME_KEY, SPLASH_CLASS, TITLE,
                      VERSION_PATH, expected_steps, make_link, step_lines)
from servicestarts import ServiceStartTest

BROKEN = "0x8007139F"
REPAIRING = "Repairing..."

def header(request, name):
    values = [v for k, v in request["headers"] if k.lower() == name.lower()]
    return values[0] if values else None


def lesson(kind, url, number, email="s@example.com", video=""):
    """The service's answer for a link to a lesson."""
    return {"type": kind, "url": url, "video_source": video, "user_email": email, "injected_script_number": number}


class EndToEndTest(ServiceStartTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.keep = os.environ.get("MIRAVELL_KEEP_SCREENSHOTS")
        # Downloads go through the system's HTTPS stack, which checks chains.
        cls.untrust = winerun.trust_root(mockservice.MockService.cert_path("service-ca"))
        # The repair runs the bootstrapper only when its publisher's signature holds.
        cls.untrust_signer = winerun.trust_root(mockservice.MockService.cert_path("codesign-ca"))

    @classmethod
    def tearDownClass(cls):
        cls.untrust_signer()
        cls.untrust()
        super().tearDownClass()

    # --- the road -------------------------------------------------------

    def finish(self, timeout=60):
        result = self.program.finish(timeout)
        self.steps = step_lines(result)
        return result

    def shot(self, name):
        if self.keep:
            os.makedirs(self.keep, exist_ok=True)
            uidriver.screenshot(os.path.join(self.keep, name + ".png"))

    def road(self):
        """The service's requests as (method, host, path)."""
        return [(r["method"], r["host"], r["path"]) for r in self.mock.requests()]

    def browser_calls(self):
        return [(c["call"], c["args"][0] if c["args"] else None) for c in self.session.calls("view")
                if c["call"] in ("AddScriptToExecuteOnDocumentCreated", "Navigate", "NavigateToString")]

    def assert_start_of_road(self, road):
        """Pins first (with the secret), then the update check; each host
        pre-flighted once, ahead of its first call (the pre-flights run beside
        the calls, on connections the calls then use)."""
        calls = [r for r in road if r[0] != "HEAD"]
        self.assertEqual(calls[:2], [("GET", "desktop.miravell.localhost", "/pins"),
                                     ("GET", "services.miravell.localhost", VERSION_PATH)])
        for host in {r[1] for r in road}:
            mine = [r for r in road if r[1] == host]
            self.assertEqual((mine[0], [r[0] for r in mine].count("HEAD")), (("HEAD", host, "/"), 1), host)
        pins = next(r for r in self.mock.requests() if r["path"] == "/pins")
        self.assertEqual(header(pins, "X-Secret"), "local-mock-secret-012345678")
        self.assertEqual(header(pins, "User-Agent"), "MiravellDesk/4.8")

    def connections(self):
        """The TLS connections the service accepted, by host."""
        return collections.Counter(h["sni"] for h in self.mock.handshakes() if h["ok"])

    def run_link(self, content_id, answer=None, script_answer=None, while_open=None):
        if answer is not None:
            self.mock.route(method="PUT", path=CONTENT_PATH, status=200, headers={"Content-Type": "application/json"},
                            body=json.dumps({"data": answer}))
        if script_answer is not None:
            self.mock.route(method="GET", path_prefix="/api/v1/desktop/scripts/get", status=200,
                            headers={"Content-Type": "text/javascript"}, body=script_answer)
        session = self.start(make_link("tok-42", content_id))
        player = uidriver.wait_window(cls=PLAYER_CLASS)
        self.assertEqual(player["title"], TITLE)
        self.assertEqual((player["rect"]["width"], player["rect"]["height"]), (1280, 720))
        session.wait_call("view", "Navigate" if answer is None or answer.get("type") != "other" else "NavigateToString")
        uidriver.wait_gone(cls=SPLASH_CLASS)
        self.assertEqual(uidriver.windows(cls=INIT_CLASS), [])
        calls = self.browser_calls()
        if while_open is not None:
            while_open(session)
        uidriver.close(cls=PLAYER_CLASS)
        self.assertEqual(self.finish().exit_code, 0)
        self.assertEqual(self.steps, expected_steps(True))
        return calls

    def content_request(self):
        requests = [r for r in self.mock.requests() if r["path"] == CONTENT_PATH]
        self.assertEqual(len(requests), 1)
        return requests[0]

    # --- scenarios --------------------------------------------------------

    def test_plain_start_opens_the_start_page_with_the_navigation_bar(self):
        session = self.start()
        session.wait_call("view", "Navigate")
        window = uidriver.wait_window(cls=INIT_CLASS)
        uidriver.wait_gone(cls=SPLASH_CLASS)
        self.shot("plain-start")
        self.assertEqual(window["title"], TITLE)
        self.assertEqual((window["rect"]["width"], window["rect"]["height"]), (1024, 768))
        # The browser's profile lives in the data folder.
        created = session.calls("runtime", "CreateWebViewEnvironmentWithOptionsInternal")[0]
        self.assertTrue(created["args"][2].endswith("\\Miravell\\WebView2Data"), created["args"][2])
        uidriver.close(cls=INIT_CLASS)
        self.assertEqual(self.finish().exit_code, 0)
        self.assertEqual(self.steps, expected_steps(False))
        # Shutdown deleted the browser host, which closes its controller and
        # then lets the environment go.
        self.assertEqual(session.calls()[-2:], [{"object": "controller", "call": "Close", "args": []},
                                                {"object": "environment", "call": "released", "args": []}])
        road = self.road()
        self.assert_start_of_road(road)
        self.assertEqual(len(road), 4, "a plain start asks the service nothing more")
        code, out = winerun.wine_command(["reg", "query", SCHEME_KEY])
        self.assertEqual(code, 0)
        self.assertIn("URL Protocol", out)

    def test_direct_address_link_goes_straight_to_the_lesson(self):
        calls = self.run_link("https://media.miravell.localhost/lesson?x=1")
        self.assertEqual(calls[-1], ("Navigate", "https://media.miravell.localhost/lesson?x=1"))
        road = self.road()
        self.assert_start_of_road(road)
        self.assertNotIn(CONTENT_PATH, [path for _, _, path in road], "nothing to resolve")
        # The second update check asks the link's own domain.
        self.assertEqual([r for r in road if r[1] == "miravell.localhost"],
                         [("HEAD", "miravell.localhost", "/"), ("GET", "miravell.localhost", VERSION_PATH)])

    def test_the_road_opens_one_connection_per_host(self):
        # (the link's domain, connections by host once the lesson is shown: the
        # lesson's host, miravell.localhost, is also checked once on the
        # browser's way, by the engine's own pre-flight)
        hosts = ("desktop.miravell.localhost", "services.miravell.localhost", "miravell.localhost")
        cases = (("https://miravell.localhost", (1, 1, 2)),
                 ("https://services.miravell.localhost", (1, 1, 1)))
        for domain, expected in cases:
            with self.subTest(domain=domain):
                self.mock.reset()
                session = self.start(make_link("tok-42", "lesson-7", domain))
                uidriver.wait_window(cls=PLAYER_CLASS)
                session.wait_call("view", "Navigate")
                uidriver.close(cls=PLAYER_CLASS)
                self.assertEqual(self.finish().exit_code, 0)
                self.assertEqual(tuple(self.connections()[host] for host in hosts), expected, self.mock.handshakes())
                self.assertEqual([r[0] for r in self.road() if r[1] == domain[8:] and r[0] != "HEAD"],
                                 ["PUT", "GET"] if domain.endswith("//miravell.localhost") else ["GET", "PUT", "GET"])

    def test_pdf_lesson_is_watermarked_with_the_students_address(self):
        calls = self.run_link("lesson-7")  # the mock's default answer is a pdf
        self.assertEqual([c[0] for c in calls], ["AddScriptToExecuteOnDocumentCreated",
                                                 "AddScriptToExecuteOnDocumentCreated", "Navigate"])
        self.assertIn("wm.textContent = 'student@example.com';", calls[1][1])
        self.assertEqual(calls[2][1], "https://miravell.localhost/files/lesson.pdf")
        request = self.content_request()
        self.assertEqual((request["host"], request["method"], request["body"], header(request, "Content-Type")),
                         ("miravell.localhost", "PUT", "link_tk=tok-42&id=lesson-7",
                          "application/x-www-form-urlencoded"))
        for name in ("X-Device-Guid", "X-Device-Board", "X-Client-Id"):
            self.assertTrue(header(request, name), name)
        road = self.road()
        self.assertLess(road.index(("PUT", "miravell.localhost", CONTENT_PATH)),
                        road.index(("GET", "miravell.localhost", VERSION_PATH)), "resolved before the second check")

    def test_the_player_keeps_programs_and_the_lessons_own_file_from_the_disk(self):
        saved = "C:\\users\\student\\Downloads\\"
        # (service answer, None for the default pdf lesson; [(file, address, cancelled)])
        cases = (
            (None, [("setup.exe", "https://miravell.localhost/files/setup.exe", True),
                    ("lesson.pdf", "https://miravell.localhost/files/lesson.pdf#page=2", True),
                    ("lesson.pdf", "blob:https://miravell.localhost/9c1e", True)]),
            (lesson("other", "https://miravell.localhost/slides/10", 10),
             [("setup.exe", "https://miravell.localhost/files/setup.exe", True),
              ("Tool.Msi ", "https://miravell.localhost/files/tool", True),
              ("handout.pdf", "https://miravell.localhost/files/handout.pdf", False),
              ("slides.pdf", "https://miravell.localhost/slides/10", True)]),
        )
        for answer, downloads in cases:
            with self.subTest(answer=answer):
                seen = []

                def in_the_player(session, downloads=downloads, seen=seen):
                    for name, uri, _ in downloads:
                        outcome = session.raise_event({"raise": "download", "path": saved + name, "uri": uri,
                                                       "mime": "application/octet-stream"})
                        seen.append(outcome["cancel"])

                self.run_link("lesson-7" if answer is None else "lesson-10", answer=answer, while_open=in_the_player)
                self.assertEqual(seen, [cancelled for _, _, cancelled in downloads])
                # The viewer shows no save, save-as or print button.
                hidden = [c["args"] for c in self.session.calls("settings") if c["call"] == "put_HiddenPdfToolbarItems"]
                self.assertEqual(hidden, [[0x1 | 0x2 | 0x4]])

    def test_video_platform_lesson_plays_in_the_embed_address_with_its_script(self):
        seen = {}

        def in_the_player(session):
            # The platform's own requests carry the service as Referer; the
            # player stays on the lesson's hosts.
            seen["video"] = session.raise_event({"raise": "resource", "uri": "https://www.youtube.com/embed/AbC_12-x",
                                                 "headers": {}, "context": 0})
            seen["other"] = session.raise_event({"raise": "resource", "uri": "https://fonts.example/a.css",
                                                 "headers": {}, "context": 0})
            seen["away"] = session.raise_event({"raise": "navigation", "uri": "https://elsewhere.example/"})
            seen["platform"] = session.raise_event({"raise": "navigation", "uri": "https://m.youtube.com/watch?v=1"})

        calls = self.run_link("lesson-8", answer=lesson("video", "https://miravell.localhost/v/8", 8,
                                                        video="https://youtu.be/AbC_12-x?t=3"),
                              script_answer="window.__lesson = 8;", while_open=in_the_player)
        self.assertEqual(seen["video"]["headers_set"].get("Referer"), "https://miravell.localhost")
        self.assertNotIn("Referer", seen["other"]["headers_set"])
        self.assertEqual(seen["other"]["headers_set"].get("X-Miravell-Client"), "desktop-4.8.0")
        self.assertTrue(seen["away"]["cancel"])
        self.assertFalse(seen["platform"]["cancel"])
        self.assertEqual([c[0] for c in calls], ["AddScriptToExecuteOnDocumentCreated",
                                                 "AddScriptToExecuteOnDocumentCreated", "Navigate"])
        self.assertIn("window.__lesson = 8;", calls[1][1])
        self.assertTrue(calls[1][1].startswith("(function(){function run(){"))
        self.assertTrue(calls[2][1].startswith("https://www.youtube.com/embed/AbC_12-x"), calls[2][1])
        scripts = [r for r in self.mock.requests() if r["path"].startswith("/api/v1/desktop/scripts/get")]
        self.assertEqual([(r["host"], r["path"]) for r in scripts],
                         [("services.miravell.localhost", "/api/v1/desktop/scripts/get?n=8")])

    def test_other_lesson_types_are_framed_in_the_embed_page(self):
        calls = self.run_link("lesson-10", answer=lesson("other", "https://miravell.localhost/slides/10?a=1&b='2'", 10,
                                                         email="<b>s@example.com</b>"))
        self.assertEqual([c[0] for c in calls], ["AddScriptToExecuteOnDocumentCreated", "NavigateToString"])
        page = calls[1][1]
        self.assertIn("https://miravell.localhost/slides/10?a=1&amp;b=&#39;2&#39;", page)
        self.assertIn("&lt;b&gt;s@example.com&lt;/b&gt;", page)
        self.assertNotIn("<b>s@example.com", page)

    def test_camera_microphone_and_notifications_only_for_the_pages_a_lesson_needs(self):
        frames = ["https://school.localhost/room/x", "https://lessons.b-cdn.net/room/x",
                  "https://miravell.localhost/app", "https://us02web.zoom.us/j/1", "https://ads.localhost/frame"]
        lessons = [  # the lesson, and which frames may use the devices unasked
            ("lesson-3", {"type": "video", "url": "https://school.localhost/room/7", "video_source": "", "user_email": "s@x"},
             {frames[0], frames[2], frames[3]}),
            ("https://lessons.b-cdn.net/room/7", None, {frames[2], frames[3]}),  # a direct address: no vouching
        ]
        for content_id, answer, allowed in lessons:
            with self.subTest(content_id=content_id):
                self.mock.reset()
                states = {}

                def in_the_player(session):
                    for frame in frames:
                        for kind in (1, 2, 3, 4):  # microphone, camera, geolocation, notifications
                            outcome = session.raise_event({"raise": "permission", "kind": kind, "uri": frame})
                            states[(frame, kind)] = outcome["state"]

                self.run_link(content_id, answer=answer, while_open=in_the_player)
                expected = {(frame, kind): 1 if frame in allowed and kind != 3 else 0
                            for frame in frames for kind in (1, 2, 3, 4)}
                self.assertEqual(states, expected)

    def test_a_runtime_reporting_a_broken_state_is_repaired_then_gives_up(self):
        self.mock.route(method="GET", host="downloads.miravell.localhost",
                        path="/webview2/MicrosoftEdgeWebview2Setup.exe",
                        body_file=winerun.program_path("MicrosoftEdgeWebview2Setup.exe"),
                        headers={"Content-Type": "application/octet-stream"})
        session = self.start(make_link("tok", "https://media.miravell.localhost/lesson"),
                             script={"environment_results": [BROKEN, BROKEN, BROKEN]})
        for attempt in range(3):
            box = uidriver.box(title=REPAIRING)
            self.assertIn("A system component (WebView2) needs to be repaired.", box["text"])
            if attempt == 0:
                self.shot("repairing")
            uidriver.press("OK", title=REPAIRING)
            # The next attempt (or the failure) comes after the 2-second wait.
            session.wait_call("runtime", "environment_completed", count=attempt + 1)
        box = uidriver.box(title="Error")
        self.assertEqual(box["text"], "Failed to initialize WebView2.\nPlease restart the application.")
        uidriver.press("OK", title="Error")
        result = self.finish()
        self.assertEqual(result.exit_code, 1)
        self.assertEqual([line for line in result.debug_lines if line.startswith("Runtime installer refused")], [],
                         "the signed bootstrapper ran each time")
        # Each repair fetched the runtime's bootstrapper again.
        downloads = [r for r in self.mock.requests() if r["host"] == "downloads.miravell.localhost"
                     and r["method"] == "GET"]
        self.assertEqual(len(downloads), 3)

    def test_a_service_certificate_outside_the_pins_ends_in_the_interception_alert(self):
        self.mock.tls("desktop.miravell.localhost", "attacker")
        self.start()
        window = uidriver.wait_window(cls=ALERT_CLASS, visible=True)
        self.shot("interception")
        self.assertEqual(window["rect"]["height"], 600)
        self.assertEqual(uidriver.clipboard(), "SSL_desktop.miravell.localhost")
        self.assertEqual(uidriver.windows(cls=INIT_CLASS), [])
        uidriver.close(cls=ALERT_CLASS)
        self.assertEqual(self.finish().exit_code, 1)
        self.assertEqual(self.steps, expected_steps(False)[:2], "stopped while loading the pins")
        self.assertNotIn(("GET", "services.miravell.localhost", VERSION_PATH), self.road(), "no update check")


if __name__ == "__main__":
    unittest.main()
