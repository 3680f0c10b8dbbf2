"""The real Miravell.exe walking its start-up sequence under Wine."""
import os
import subprocess
import tempfile
import unittest

import uidriver
import winerun
from programs import INIT_CLASS, PLAYER_CLASS, SCHEME_KEY, SPLASH_CLASS, TITLE, ScriptedStartTest, expected_steps, make_link, step_lines

APP_DEFAULTS = r"HKCU\Software\Wine\AppDefaults\Miravell.exe"


class StartupTest(ScriptedStartTest):
    def test_windows_7_is_refused_with_both_lines_and_exit_code_1(self):
        code, _ = winerun.wine_command(["reg", "add", APP_DEFAULTS, "/v", "Version", "/d", "win7", "/f"])
        self.assertEqual(code, 0)
        try:
            program = self.start()
            box = uidriver.box(title="Unsupported OS")
            self.assertEqual(box["text"], "This application requires Windows 10 or later.\n"
                                          "هذا التطبيق يتطلب ويندوز 10 أو أحدث.")
            self.assertEqual([b["id"] for b in box["buttons"]], [1])
            # (Wine does not turn MB_TOPMOST into WS_EX_TOPMOST; the flags are unit-tested.)
            uidriver.press("OK", title="Unsupported OS")
            result = program.finish(30)
            self.assertEqual(result.exit_code, 1)
            self.assertEqual(step_lines(result), [], "the refusal comes before Step 7")
            self.assertEqual(uidriver.windows(cls=INIT_CLASS), [])
        finally:
            winerun.wine_command(["reg", "delete", APP_DEFAULTS, "/f"])

    def test_plain_start_shows_splash_and_init_window_then_closes_with_0(self):
        program = self.start(browser_delay_ms=6000)
        init = uidriver.wait_window(cls=INIT_CLASS, visible=True)
        self.assertEqual(init["title"], TITLE)
        self.assertEqual((init["rect"]["width"], init["rect"]["height"]), (1024, 768))
        self.assertTrue(init["style"] & uidriver.WS_VISIBLE)
        self.assertTrue(init["exstyle"] & uidriver.WS_EX_APPWINDOW)

        splash = uidriver.wait_window(cls=SPLASH_CLASS, visible=True)
        self.assertEqual(splash["title"], "Quella Splash")
        self.assertEqual((splash["rect"]["width"], splash["rect"]["height"]), (512, 512))
        for flag in (uidriver.WS_EX_LAYERED, uidriver.WS_EX_TOPMOST, uidriver.WS_EX_TOOLWINDOW):
            self.assertTrue(splash["exstyle"] & flag, hex(flag))
        self.assertFalse(splash["exstyle"] & uidriver.WS_EX_APPWINDOW, "no taskbar button")
        self.assertEqual(splash["style"] & (uidriver.WS_POPUP | uidriver.WS_VISIBLE), uidriver.WS_POPUP | uidriver.WS_VISIBLE)
        self.assertFalse(splash["style"] & uidriver.WS_CAPTION, "borderless")
        # Centred on the 1920 x 1080 screen of the bed, above the main window.
        self.assertEqual((splash["rect"]["left"], splash["rect"]["top"]), ((1920 - 512) // 2, (1080 - 512) // 2))
        self.assertLess(splash["z"], init["z"])

        # Once the browser is up, the screen shows itself and the splash goes.
        result = self.close_once_shown(program, INIT_CLASS, False)
        self.assertNotIn("Failed to create splash screen from embedded resources.", result.debug_lines)

        # Step 8 registered the scheme for this executable.
        code, out = winerun.wine_command(["reg", "query", SCHEME_KEY + r"\shell\open\command", "/ve"])
        self.assertEqual(code, 0)
        self.assertIn('\\Miravell.exe" "%1"', out)

    def test_link_in_capitals_opens_the_player_window(self):
        link = make_link("tok", "https://media.miravell.localhost/lesson")
        program = self.start("MIRAVELL://" + link.split(":", 1)[1] + "/")
        player = uidriver.wait_window(cls=PLAYER_CLASS)
        self.assertEqual(player["title"], TITLE)
        self.assertEqual((player["rect"]["width"], player["rect"]["height"]), (1280, 720))
        self.assertTrue(player["exstyle"] & uidriver.WS_EX_APPWINDOW)
        self.assertEqual(uidriver.windows(cls=INIT_CLASS), [])
        # Once its browser is up, the player shows itself and the splash goes.
        self.close_once_shown(program, PLAYER_CLASS, True)

    def test_screenshot_shows_the_splash_and_the_centred_loading_text(self):
        program = self.start(browser_delay_ms=-1)
        init = uidriver.wait_window(cls=INIT_CLASS, visible=True)
        splash = uidriver.wait_window(cls=SPLASH_CLASS, visible=True)
        with tempfile.TemporaryDirectory() as folder:
            shot = uidriver.screenshot(os.path.join(folder, "start.png"))
            keep = os.environ.get("MIRAVELL_KEEP_SCREENSHOTS")
            if keep:
                os.makedirs(keep, exist_ok=True)
                uidriver.screenshot(os.path.join(keep, "startup.png"))

            # The splash: its opaque pixels on screen are the image's own.
            source = os.path.join(os.environ["MIRAVELL_SOURCE_DIR"], "app", "resources", "splash.png")
            left, top = splash["rect"]["left"], splash["rect"]["top"]
            x0 = max(0, init["rect"]["left"] + init["rect"]["width"] - left) + 4  # right of the main window
            width = 512 - x0 - 4
            on_screen = uidriver.pixels(shot, left + x0, top + 40, width, 300)
            rgba = subprocess.run(["convert", source, "-crop", f"{width}x300+{x0}+40", "+repage",
                                   "-depth", "8", "rgba:-"], check=True, capture_output=True).stdout
            compared = matched = 0
            for i, screen_pixel in enumerate(on_screen):
                r, g, b, a = rgba[4 * i:4 * i + 4]
                if a == 255:
                    compared += 1
                    if all(abs(x - y) <= 8 for x, y in zip(screen_pixel, (r, g, b))):
                        matched += 1
            self.assertGreater(compared, 1000)
            self.assertGreater(matched / compared, 0.9)

            # The loading text: light grey on black, centred in the client area.
            rect = init["rect"]
            client = init["client"]
            border = (rect["width"] - client["width"]) // 2
            client_left = rect["left"] + border
            client_top = rect["top"] + rect["height"] - border - client["height"]
            cy = client_top + client["height"] // 2
            band = uidriver.pixels(shot, client_left, cy - 20, client["width"], 40)
            grey = [i % client["width"] for i, p in enumerate(band) if min(p) >= 150 and max(p) - min(p) <= 20]
            self.assertGreater(len(grey), 100, "the loading text is drawn")
            centre = sum(grey) / len(grey)
            self.assertLess(abs(centre - client["width"] / 2), 40, "centred horizontally")
            black = sum(1 for p in band if p == (0, 0, 0))
            self.assertGreater(black / len(band), 0.8, "on black")
        # Closed while the browser is still starting: the wait ends with the
        # window and the start counts as failed (its message would be owned
        # by the window that is gone, so none shows).
        uidriver.close(cls=INIT_CLASS)
        self.assertEqual(program.finish(30).exit_code, 1)
        self.assertEqual(uidriver.windows(title="Error"), [])


if __name__ == "__main__":
    unittest.main()
