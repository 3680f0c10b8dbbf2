"""The windows at the bed's DPI: CTest runs these cases once in the usual bed
(96 DPI) and once in a bed of its own at 144 DPI, where every designed size,
position and font must come out 1.5 times larger and drawn at that size, not
stretched."""
import os
import subprocess
import time
import unittest

import uidriver
import winerun
from programs import (ALERT_CLASS, INIT_CLASS, PLAYER_CLASS, SPLASH_CLASS, TITLE, ScriptedStartTest, make_link,
                      screenshot)

DPI = int(os.environ.get("MIRAVELL_BED_DPI") or 96)
ACCENT = (233, 69, 96)
BACKGROUND = (26, 26, 46)
# Rows the ink of the alert's title ("Network ... آمن", bold 24 px at 96 DPI)
# covers at 96 DPI; the font is made at each DPI, so the ink grows with it.
TITLE_INK_ROWS_96 = 24


def scaled(length):
    """A 96-DPI length at the bed's DPI, rounded as MulDiv rounds."""
    return (length * DPI + 48) // 96


SCREEN = (scaled(1920), scaled(1080))


def near(a, b, tolerance):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


def size_of(window):
    return window["rect"]["width"], window["rect"]["height"]


class DpiScalingTest(ScriptedStartTest):
    def shot_once_drawn(self, name, drawn, timeout=15):
        """A screenshot taken once drawn(shot) holds: a window is on screen a
        moment before the system has composed its picture."""
        deadline = time.monotonic() + timeout
        while True:
            path = screenshot(self.folder.name, f"dpi{DPI}-{name}")
            if drawn(path) or time.monotonic() > deadline:
                return path
            time.sleep(0.2)

    def test_splash_and_start_screen_take_the_monitors_scale(self):
        program = self.start(browser_delay_ms=6000)
        init = uidriver.wait_window(cls=INIT_CLASS, visible=True)
        splash = uidriver.wait_window(cls=SPLASH_CLASS, visible=True)
        side = scaled(512)
        cases = [
            ("start screen", size_of(init), (scaled(1024), scaled(768))),
            ("splash size", size_of(splash), (side, side)),
            ("splash centred", (splash["rect"]["left"], splash["rect"]["top"]),
             ((SCREEN[0] - side) // 2, (SCREEN[1] - side) // 2)),
        ]
        for name, seen, wanted in cases:
            with self.subTest(name):
                self.assertEqual(seen, wanted)

        # The picture fills the larger window: its opaque pixels on screen
        # are the image's own, resampled to the window's size.
        source = os.path.join(os.environ["MIRAVELL_SOURCE_DIR"], "app", "resources", "splash.png")
        left, top = splash["rect"]["left"], splash["rect"]["top"]
        x0 = max(0, init["rect"]["left"] + init["rect"]["width"] - left) + 4  # right of the main window
        width, height = side - x0 - 4, side // 2
        self.assertGreater(width, 50)
        rgba = subprocess.run(["convert", source, "-resize", f"{side}x{side}!", "-crop",
                               f"{width}x{height}+{x0}+{side // 4}", "+repage", "-depth", "8", "rgba:-"],
                              check=True, capture_output=True).stdout

        def matches(shot):
            on_screen = uidriver.pixels(shot, left + x0, top + side // 4, width, height)
            compared = matched = 0
            for i, screen_pixel in enumerate(on_screen):
                r, g, b, a = rgba[4 * i:4 * i + 4]
                if a == 255:
                    compared += 1
                    matched += near(screen_pixel, (r, g, b), 16)
            return compared, matched

        shot = self.shot_once_drawn("splash", lambda path: matches(path)[1] / max(1, matches(path)[0]) > 0.9)
        compared, matched = matches(shot)
        self.assertGreater(compared, 1000)
        self.assertGreater(matched / compared, 0.9)

        self.close_once_shown(program, INIT_CLASS, False)

    def test_a_link_in_capitals_opens_the_player_at_the_monitors_scale(self):
        link = make_link("tok", "https://media.miravell.localhost/lesson")
        program = self.start("MIRAVELL://" + link.split(":", 1)[1] + "/")
        player = uidriver.wait_window(cls=PLAYER_CLASS)
        self.assertEqual(player["title"], TITLE)
        self.assertEqual(size_of(player), (scaled(1280), scaled(720)))
        self.assertTrue(player["exstyle"] & uidriver.WS_EX_APPWINDOW)
        self.assertEqual(uidriver.windows(cls=INIT_CLASS), [])
        uidriver.wait_gone(cls=SPLASH_CLASS)
        # Once its browser is up, the player shows itself, the splash goes,
        # and the browser covers the client area in the window's own pixels.
        client = uidriver.wait_window(cls=PLAYER_CLASS)["client"]
        bounds = self.session.wait_call("controller", "put_Bounds")["args"]
        self.assertEqual(bounds, [0, 0, client["width"], client["height"]])
        self.close_once_shown(program, PLAYER_CLASS, True)

    def test_alert_layout_and_text_are_drawn_at_the_monitors_scale(self):
        record = os.path.join(self.folder.name, "diagnostic.txt")
        self.program = winerun.start_program("alert_probe.exe", [
            "--title", "Network Connection Intercepted - اتصال غير آمن", "--message", "Intercepted.",
            "--arabic", "تم اعتراض الاتصال.", "--code", "MITM_PIN_cdn.example.com",
            "--record", winerun.windows_path(record)])
        window = uidriver.wait_window(cls=ALERT_CLASS, visible=True)
        w, h = scaled(700), scaled(600)
        self.assertEqual(size_of(window), (w, h))
        self.assertEqual((window["rect"]["left"], window["rect"]["top"]), ((SCREEN[0] - w) // 2, (SCREEN[1] - h) // 2))

        left, top = window["rect"]["left"] + 1, window["rect"]["top"] + 1  # inside the border
        inner = window["client"]["width"]

        # The title's ink: rows of accent pixels in its band.
        band_top, band_height = scaled(92), scaled(127) - scaled(92)

        def ink_rows(shot):
            band = uidriver.pixels(shot, left, top + band_top, inner, band_height)
            return [row for row in range(band_height)
                    if sum(near(p, ACCENT, 60) for p in band[row * inner:(row + 1) * inner]) >= 2]

        shot = self.shot_once_drawn("alert", lambda path: bool(ink_rows(path)))
        rows = ink_rows(shot)
        self.assertTrue(rows, "the title is drawn")
        ink = rows[-1] - rows[0] + 1
        self.assertLessEqual(abs(ink - TITLE_INK_ROWS_96 * DPI / 96), 1, f"title ink {ink} rows at {DPI} DPI")

        # The rule under the title is a crisp line of the pen's scaled width:
        # whole rows of exactly the accent colour between plain background,
        # where a stretched bitmap would blur it into half-tones.
        rule_y = scaled(137)
        span = range(scaled(40) + 4, inner - scaled(40) - 4)
        count = 4 + scaled(1) + 4
        rows = uidriver.pixels(shot, left, top + rule_y - 4, inner, count)
        kinds = ""
        for row in range(count):
            pixels = [rows[row * inner + x] for x in span]
            kinds += ("A" if all(near(p, ACCENT, 2) for p in pixels)
                      else "." if all(near(p, BACKGROUND, 2) for p in pixels) else "?")
        self.assertRegex(kinds, r"^\.+A{%d}\.+$" % scaled(1), "rows around the rule: A accent, . background, ? mixed")

        uidriver.close(cls=ALERT_CLASS)
        self.assertEqual(self.program.finish(30).exit_code, 1)


if __name__ == "__main__":
    unittest.main()
