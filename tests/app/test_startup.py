"""The real Miravell.exe walking its start-up sequence under Wine."""
import unittest

import uidriver
import winerun
from programs import INIT_CLASS, SCHEME_KEY, SPLASH_CLASS, TITLE, ScriptedStartTest, screenshot, step_lines

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
        self.assertTrue(init["exstyle"] & uidriver.WS_EX_APPWINDOW)
        # The sizes and places of both are the DPI test's; the splash's other
        # extended styles, the unit test's.
        splash = uidriver.wait_window(cls=SPLASH_CLASS, visible=True)
        self.assertEqual(splash["title"], "Quella Splash")
        self.assertFalse(splash["exstyle"] & uidriver.WS_EX_APPWINDOW, "no taskbar button")
        self.assertEqual(splash["style"] & (uidriver.WS_POPUP | uidriver.WS_VISIBLE), uidriver.WS_POPUP | uidriver.WS_VISIBLE)
        self.assertFalse(splash["style"] & uidriver.WS_CAPTION, "borderless")
        self.assertLess(splash["z"], init["z"], "above the main window")

        # Once the browser is up, the screen shows itself and the splash goes.
        result = self.close_once_shown(program, INIT_CLASS, False)
        self.assertNotIn("Failed to create splash screen from embedded resources.", result.debug_lines)

        # Step 8 registered the scheme for this executable.
        code, out = winerun.wine_command(["reg", "query", SCHEME_KEY + r"\shell\open\command", "/ve"])
        self.assertEqual(code, 0)
        self.assertIn('\\Miravell.exe" "%1"', out)

    def test_screenshot_shows_the_centred_loading_text(self):
        program = self.start(browser_delay_ms=-1)
        init = uidriver.wait_window(cls=INIT_CLASS, visible=True)
        uidriver.wait_window(cls=SPLASH_CLASS, visible=True)
        # (The splash's picture on screen is the DPI test's.)
        shot = screenshot(self.folder.name, "startup")
        # The loading text: light grey on black, centred in the client area.
        rect, client = init["rect"], init["client"]
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
