"""What the whole-program tests share: the names the player shows, links made
by miravell-link, the step log, and a test case whose program never outlives
its test."""
import os
import re
import shutil
import tempfile
import unittest

import mockservice
import scripted
import uidriver
import winerun



def _window_classes():
    """The program's window classes, from the one list it compiles in."""
    path = os.path.join(os.path.dirname(__file__), "..", "..", "common", "WindowClasses.inc")
    with open(path, encoding="utf-8") as listing:
        return dict(re.findall(r'^MIRAVELL_WINDOW_CLASS\((\w+), "([^"]+)"\)$', listing.read(), re.MULTILINE))


_CLASSES = _window_classes()
SPLASH_CLASS = _CLASSES["Splash"]
INIT_CLASS = _CLASSES["Init"]
PLAYER_CLASS = _CLASSES["Player"]
ALERT_CLASS = _CLASSES["Alert"]
TITLE = "Miravell V 4.8.0"
SCHEME_KEY = r"HKCU\Software\Classes\miravell"
VERSION_PATH = "/api/v1/desktop/version/windows"
CONTENT_PATH = "/api/v1/desktop/content-link/resolve-id"


def make_link(token, content_id, domain="https://miravell.localhost"):
    result = winerun.run_program("miravell-link.exe", ["make", token, content_id, domain])
    assert result.exit_code == 0, result.stderr
    return result.stdout.strip()


def screenshot(folder, name):
    """The bed's display saved as folder/name.png, and kept in
    MIRAVELL_KEEP_SCREENSHOTS too when that names a folder, to be looked at."""
    path = uidriver.screenshot(os.path.join(folder, name + ".png"))
    keep = os.environ.get("MIRAVELL_KEEP_SCREENSHOTS")
    if keep:
        os.makedirs(keep, exist_ok=True)
        shutil.copy(path, keep)
    return path


def step_lines(result):
    return [line for line in result.debug_lines if line.startswith("Step ")]


def expected_steps(has_scheme_args):
    """The step log of a start that gets past the command line, no update offered."""
    return [
        "Step 7: Initializing SSL pinning defaults",
        "Step 7: Loading dynamic pins synchronously",
        "Step 7: Dynamic pins loaded OK",
        "Step 7B: Checking app version...",
        "Step 7B: Version check done. hasUpdate=0",
        "Step 8: Registering URL protocol...",
        "Step 9: Parsing command line...",
        "Step 9: hasSchemeArgs=" + ("1" if has_scheme_args else "0"),
    ]


class ProgramTest(unittest.TestCase):
    """One Miravell.exe per test, killed if the test leaves it running."""
    program = None

    def start_player(self, args=(), env=None):
        self.program = winerun.start_program("Miravell.exe", list(args), env=env)
        return self.program

    def tearDown(self):
        if self.program is not None and self.program.running():
            self.program.kill()
            self.program.finish(10)


class ScriptedStartTest(ProgramTest):
    """Starts of Miravell.exe on the scripted browser runtime, each with a
    session folder of its own under one folder for the class."""

    @classmethod
    def setUpClass(cls):
        winerun.ensure_runtime()
        cls.folder = tempfile.TemporaryDirectory()

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def setUp(self):
        # These starts expect the mock's stock answers, and the mock is the
        # whole run's: a class before may have left an update offered.
        mockservice.shared().reset()

    def start(self, *args, browser_delay_ms=0):
        # A slow browser start keeps the splash up long enough to look at it.
        self.session = scripted.Session(tempfile.mkdtemp(dir=self.folder.name),
                                        script={"environment_delay_ms": browser_delay_ms}, commands=False)
        return self.start_player(args, env=self.session.env)

    def close_once_shown(self, program, cls, has_scheme_args):
        """Closes the window once the splash has gone and checks a clean end with the usual steps."""
        uidriver.wait_gone(cls=SPLASH_CLASS)
        uidriver.close(cls=cls)
        result = program.finish(30)
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(step_lines(result), expected_steps(has_scheme_args))
        return result
