"""A start without a link: the initialisation screen's browser, its start
page and navigation bar, the bar's buttons, its request headers and the
request filter it shares with the player, through the scripted runtime."""
import json
import time
import unittest

import mockservice
import uidriver
from programs import ALERT_CLASS, INIT_CLASS, SPLASH_CLASS
from servicestarts import ServiceStartTest

START_PAGE = "https://miravell.localhost/app"
HOME_PAGE = "https://miravell.localhost/app/courses"


class InitScreenTest(ServiceStartTest):
    def view_calls(self):
        return [c for c in self.session.calls("view") if c["call"] in
                ("AddScriptToExecuteOnDocumentCreated", "Navigate", "GoBack", "get_CanGoBack")]

    def test_start_page_with_the_bar_then_home_back_and_fullscreen(self):
        session = self.start(script={"can_go_back": True})
        session.wait_call("view", "Navigate")
        # Settings first, then the bar for every document, then the start page.
        calls = session.calls()
        first_script = next(i for i, c in enumerate(calls) if c["call"] == "AddScriptToExecuteOnDocumentCreated")
        self.assertTrue(any(c["object"] == "settings" for c in calls[:first_script]))
        view = self.view_calls()
        self.assertEqual([c["call"] for c in view], ["AddScriptToExecuteOnDocumentCreated", "Navigate"])
        self.assertIn("quella-nav-container", view[0]["args"][0])
        self.assertEqual(view[1]["args"], [START_PAGE])
        # Shown: the splash is gone, the window visible.
        uidriver.wait_gone(cls=SPLASH_CLASS)
        uidriver.wait_window(cls=INIT_CLASS, visible=True)

        session.raise_event({"raise": "message", "string": "btn_home"})
        self.assertEqual(self.view_calls()[-1], {"object": "view", "call": "Navigate", "args": [HOME_PAGE]})
        session.raise_event({"raise": "message", "string": "btn_back"})
        self.assertEqual([c["call"] for c in self.view_calls()[-2:]], ["get_CanGoBack", "GoBack"])
        # (Which spellings act, and the way back from fullscreen to the exact
        # placement, are the unit test's: here the message reaches the window.)
        session.raise_event({"raise": "message", "string": "btn_fullscreen"})
        full = uidriver.wait_window(cls=INIT_CLASS)
        self.assertEqual((full["rect"]["left"], full["rect"]["top"], full["rect"]["width"], full["rect"]["height"]),
                         (0, 0, 1920, 1080))
        self.assertFalse(full["style"] & uidriver.WS_CAPTION)

        uidriver.close(cls=INIT_CLASS)
        self.assertEqual(self.program.finish(30).exit_code, 0)

    def test_back_on_the_first_page_does_nothing_and_every_address_is_allowed(self):
        session = self.start(script={"can_go_back": False})
        session.wait_call("view", "Navigate")
        session.raise_event({"raise": "message", "string": "btn_back"})
        self.assertEqual(self.view_calls()[-1]["call"], "get_CanGoBack")
        # Unlike the player's, this browser goes anywhere.
        for uri in ("https://elsewhere.example/page", "http://plain.example/", "about:blank"):
            outcome = session.raise_event({"raise": "navigation", "uri": uri})
            self.assertFalse(outcome["cancel"], uri)
        # Its requests carry the screen's two headers after the common ones.
        outcome = session.raise_event({"raise": "resource", "uri": "http://plain.example/a.js",
                                       "headers": {"Accept": "*/*"}, "context": 0})
        self.assertEqual(outcome["headers_set"].get("X-Desktop-App"), "1")
        self.assertEqual(outcome["headers_set"].get("X-Desktop-Shell"), "1")
        self.assertIsNone(outcome["response"])
        names = [c["args"][0] for c in session.calls("request_headers", "SetHeader")]
        self.assertEqual(names[-2:], ["X-Desktop-App", "X-Desktop-Shell"])
        # Programs are not saved here either; other files are, and the PDF
        # viewer keeps its buttons on this screen. (Which names are programs
        # is the download policy's unit test.)
        for name, cancelled in (("setup.exe", True), ("notes.pdf", False)):
            outcome = session.raise_event({"raise": "download", "path": "C:\\users\\s\\Downloads\\" + name,
                                           "uri": "https://elsewhere.example/" + name, "mime": "application/pdf"})
            self.assertEqual(outcome["cancel"], cancelled, name)
        self.assertNotIn("put_HiddenPdfToolbarItems", [c["call"] for c in session.calls("settings")])
        uidriver.close(cls=INIT_CLASS)
        self.assertEqual(self.program.finish(30).exit_code, 0)

    def test_a_pinned_host_failing_its_pins_is_blocked_and_alerted(self):
        # A lesson host outside the operator's domain, pinned by the service.
        host = "cdn.lessons.localhost"
        pins = mockservice.MockService.pins()
        self.mock.route(method="GET", path="/pins", status=200, headers={"Content-Type": "application/json"},
                        body=json.dumps([{"scope": "miravell.localhost", "pins": [pins["service-ca"]]},
                                         {"scope": host, "pins": [pins["service-leaf"]]}]))
        self.mock.tls(host, "attacker")
        session = self.start()
        session.wait_call("view", "Navigate")
        # A page keeps asking: each request is refused, the host is checked
        # once and one alert is raised.
        for name in ("lesson.mp4", "poster.jpg", "lesson.mp4?again"):
            outcome = session.raise_event({"raise": "resource", "uri": f"HTTPS://{host}/{name}",
                                           "headers": {}, "context": 0})
            self.assertEqual(outcome["response"]["status"], 403, name)
            self.assertEqual(outcome["response"]["reason"], "Blocked", name)
            self.assertNotIn("X-Desktop-App", outcome["headers_set"], "a blocked request goes no further")
        uidriver.wait_window(cls=ALERT_CLASS)
        self.assertEqual(uidriver.clipboard(), "MITM_PIN_" + host)
        # Closing the screen during the countdown does not end the process as
        # a success: the alert stays and ends it.
        uidriver.close(cls=INIT_CLASS)
        uidriver.wait_gone(cls=INIT_CLASS)
        time.sleep(1)
        self.assertEqual(len(uidriver.windows(cls=ALERT_CLASS)), 1, "one alert, still there")
        self.assertTrue(self.program.running())
        uidriver.close(cls=ALERT_CLASS)
        self.assertEqual(self.program.finish(60).exit_code, 1)
        heads = [r for r in self.mock.requests() if r["host"] == host]
        self.assertEqual([r["method"] for r in heads], ["HEAD"], "one pre-flight, the requests themselves never sent")

if __name__ == "__main__":
    unittest.main()
