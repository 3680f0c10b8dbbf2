"""The alert as a user sees it: a child process raises it and ends."""
import os
import tempfile
import time
import unittest

import uidriver
import winerun
from programs import ALERT_CLASS, screenshot

CLASS = ALERT_CLASS
TITLE = "Network Connection Intercepted - اتصال غير آمن"
MESSAGE = "Your network connection is being intercepted.\\n\\nPlease try again."
ARABIC = "تم اعتراض الاتصال بالإنترنت الخاص بك."
ACCENT = (233, 69, 96)
CODE_BOX = (15, 52, 96)


def close(a, b, tolerance=12):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


class AlertWindowTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.record = os.path.join(self.folder.name, "diagnostic.txt")
        self.probe = None

    def tearDown(self):
        if self.probe is not None and self.probe.running():
            self.probe.kill()
            self.probe.finish(10)
        self.folder.cleanup()

    def raise_alert(self, code, *extra, tick_ms=0):
        """Starts the alert; tick_ms shortens the countdown's one-second tick (0: the real one)."""
        args = ["--title", TITLE, "--message", MESSAGE, "--arabic", ARABIC, "--code", code,
                "--record", winerun.windows_path(self.record)]
        if tick_ms:
            args += ["--tick-ms", str(tick_ms)]
        self.probe = winerun.start_program("alert_probe.exe", args + list(extra))
        return self.probe

    def done_looking(self, probe):
        """Closes the alert once the test has seen it and returns the probe's
        result. The window stays up for the real ten seconds until then, so a
        loaded machine cannot make it vanish before it was looked at."""
        uidriver.close(cls=CLASS)
        return probe.finish(30)

    def recorded(self):
        with open(self.record, encoding="utf-8") as handle:
            return handle.read()

    def test_window_with_code_clipboard_follow_up_and_exit_code_1(self):
        code = "MITM_PIN_cdn.example.com"
        probe = self.raise_alert(code)
        window = uidriver.wait_window(cls=CLASS, visible=True)
        self.assertEqual(window["title"], "Security Alert")
        # (Its size, its place and its title's ink are the DPI test's, at two DPIs.)
        for flag in (uidriver.WS_EX_TOPMOST, uidriver.WS_EX_TOOLWINDOW):
            self.assertTrue(window["exstyle"] & flag)
        self.assertFalse(window["exstyle"] & uidriver.WS_EX_APPWINDOW)
        wanted = uidriver.WS_POPUP | uidriver.WS_VISIBLE | uidriver.WS_BORDER
        self.assertEqual(window["style"] & wanted, wanted)
        self.assertFalse(window["style"] & uidriver.WS_CAPTION & ~uidriver.WS_BORDER, "no title bar")
        self.assertEqual(uidriver.clipboard(), code)

        # The code box's row: below the texts and the ring; search its band.
        shot = screenshot(self.folder.name, "alert-with-code")
        left, top = window["rect"]["left"] + 1, window["rect"]["top"] + 1
        code_box = uidriver.pixels(shot, left + 40, top + 330, 600, 220)
        self.assertGreater(sum(close(p, CODE_BOX, 2) for p in code_box), 1000, "code box")

        # Closed before its ten seconds: straight on to the follow-up and the end.
        started = time.monotonic()
        result = self.done_looking(probe)
        self.assertLess(time.monotonic() - started, 5)
        self.assertEqual(result.exit_code, 1, "a reported failure is not a success")
        line = self.recorded()
        self.assertTrue(line.startswith('mshta "about:<html><head><title>'))
        self.assertIn("<textarea id='dc' readonly onclick='this.select()'>" + code + "</textarea>", line)
        with open(self.record + ".program", encoding="utf-8") as handle:
            program = handle.read()
        self.assertEqual(program.lower(), "c:\\windows\\system32\\mshta.exe",
                         "the system's own mshta, never one found beside the program")

    def test_a_second_alert_waits_for_the_first_which_ends_the_process(self):
        # Long enough that the driver, started with the probe, always sees it.
        probe = self.raise_alert("FIRST", "--twice", tick_ms=400)
        uidriver.wait_window(cls=CLASS, visible=True)
        most = 0
        while probe.running():
            most = max(most, len(uidriver.windows(cls=CLASS)))
            time.sleep(0.05)
        self.assertEqual(most, 1, "never two alert windows")
        self.assertEqual(probe.finish(10).exit_code, 1)
        self.assertIn(">FIRST<", self.recorded(), "the first alert's diagnostic window, not the second's")

    def test_window_without_code_is_shorter_and_has_no_code_box(self):
        probe = self.raise_alert("")
        window = uidriver.wait_window(cls=CLASS, visible=True)
        self.assertEqual((window["rect"]["width"], window["rect"]["height"]), (700, 500))
        shot = screenshot(self.folder.name, "alert-no-code")
        left, top = window["rect"]["left"] + 1, window["rect"]["top"] + 1
        band = uidriver.pixels(shot, left + 40, top + 330, 600, 160)
        rows = [band[i:i + 600] for i in range(0, len(band), 600)]
        wide_code_rows = [row for row in rows if sum(close(p, CODE_BOX, 2) for p in row) > 400]
        self.assertEqual(wide_code_rows, [], "no code box without a code")
        self.assertEqual(self.done_looking(probe).exit_code, 1)

    def test_long_code_is_cut_on_screen_but_whole_on_the_clipboard(self):
        code = "SSL_" + "very-long-host-name." * 12 + "example.com"
        probe = self.raise_alert(code)
        window = uidriver.wait_window(cls=CLASS, visible=True)
        self.assertEqual(uidriver.clipboard(), code)
        shot = screenshot(self.folder.name, "alert-long-code")
        # Accent text never spills over the code box's side margins.
        left, top = window["rect"]["left"] + 1, window["rect"]["top"] + 1
        margins = uidriver.pixels(shot, left, top + 300, 28, 250) + uidriver.pixels(shot, left + 672, top + 300, 26, 250)
        self.assertFalse(any(close(p, ACCENT, 30) for p in margins))
        self.assertEqual(self.done_looking(probe).exit_code, 1)
        self.assertIn(code, self.recorded(), "the diagnostic window gets the whole code")

    def test_real_countdown_lasts_ten_seconds_on_a_worker_thread(self):
        probe = self.raise_alert("CODE", "--thread")
        uidriver.wait_window(cls=CLASS, visible=True)
        started = time.monotonic()
        uidriver.wait_gone(cls=CLASS, timeout_ms=20000)
        elapsed = time.monotonic() - started
        self.assertGreater(elapsed, 8.0)
        self.assertLess(elapsed, 12.5)
        self.assertEqual(probe.finish(30).exit_code, 1)

    def test_a_box_stands_in_for_a_diagnostic_window_or_countdown_that_cannot_start(self):
        for code, flag, ending in (("SSL_desktop.miravell.localhost", "--no-diag", "Diagnostic Code:\nSSL_desktop.miravell.localhost"),
                                   ("CODE", "--block-window", "The application will close in 10 seconds.")):
            with self.subTest(flag):
                probe = self.raise_alert(code, flag, tick_ms=50)
                self.assertEqual(uidriver.box(title=TITLE, timeout_ms=30000)["text"], "Your network connection is being "
                                 "intercepted.\n\nPlease try again.\n\n" + ARABIC + "\n\n" + ending)
                uidriver.press("OK", title=TITLE)
                self.assertEqual(probe.finish(30).exit_code, 1)
        self.assertIn("CODE", self.recorded())  # the countdown box still starts the diagnostic window


    def test_refused_link_alert_carries_a_code_support_can_decode(self):
        reason = "exception_MAC verification failed — data may be tampered"
        probe = winerun.start_program("alert_probe.exe", ["--link-failure", reason,
                                                          "--record", winerun.windows_path(self.record)])
        self.probe = probe
        window = uidriver.wait_window(cls=CLASS, visible=True)
        self.assertEqual(window["rect"]["height"], 600)
        code = uidriver.clipboard()
        self.assertEqual(self.done_looking(probe).exit_code, 1)
        decoded = winerun.run_program("miravell-diag.exe", ["decode", code])
        self.assertEqual(decoded.exit_code, 0, decoded.stdout + decoded.stderr)
        self.assertIn(reason, decoded.stdout)
        line = self.recorded()
        self.assertIn("<title>Link Error - خطأ في الرابط</title>", line)
        self.assertIn(code, line)


if __name__ == "__main__":
    unittest.main()
