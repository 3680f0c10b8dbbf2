"""The player surviving its engine, on the scripted runtime: what the real
engine cannot be made to do on demand (a hung renderer, a GPU process that
goes, failures in a row) and the order of what the player does about each."""
import tempfile
import unittest

import scripted
import uidriver
from programs import PLAYER_CLASS, ScriptedStartTest, make_link

LESSON = "https://miravell.localhost/files/lesson.pdf"  # the mock's lesson-1
GAVE_UP = "Miravell - خطأ"
IDRETRY, IDCANCEL = "4", "2"


class EngineRecoveryTest(ScriptedStartTest):
    def navigations(self):
        return [c["args"][0] for c in self.session.calls("view", "Navigate")]

    def fail(self, kind, reason=3, navigated=True):
        """The engine reports a failed process; before it, the engine began the
        last recovery's navigation, as the real one does by then."""
        if navigated:
            self.session.raise_event({"raise": "navigation", "uri": LESSON})
        self.session.raise_event({"raise": "process_failed", "kind": kind, "reason": reason})

    def test_failed_loads_and_engine_failures_bring_the_lesson_back_until_the_student_closes(self):
        self.session = scripted.Session(tempfile.mkdtemp(dir=self.folder.name))
        program = self.start_player([make_link("tok", "lesson-1")], env=self.session.env)
        self.session.wait_call("view", "Navigate")
        window = uidriver.wait_window(cls=PLAYER_CLASS)["hwnd"]

        # A load that fails shows the program's page; its Retry loads the lesson again.
        self.session.raise_event({"raise": "navigation_completed", "success": False, "web_error_status": 13})
        page = self.session.wait_call("view", "NavigateToString")["args"][0]
        self.assertIn("The lesson could not be loaded", page)
        self.assertIn("could not be found", page)
        self.session.raise_event({"raise": "message", "string": "miravellRetryLoad"})
        self.session.wait_call("view", "Navigate", count=2)
        # A load cancelled by the policy is no failure.
        self.session.raise_event({"raise": "navigation_completed", "success": False, "web_error_status": 14})

        # A renderer that crashed: the same lesson again, in the same engine.
        self.fail(1)
        self.session.wait_call("view", "Navigate", count=3)
        # The browser process: a new engine, its scripts, the lesson.
        self.fail(0, reason=0)
        self.session.wait_call("view", "Navigate", count=4)
        self.assertEqual(len(self.session.calls("runtime", "CreateWebViewEnvironmentWithOptionsInternal")), 2)
        scripts = [c["args"][0] for c in self.session.calls("view", "AddScriptToExecuteOnDocumentCreated")]
        self.assertEqual([("quella-full-loader" in s, "quella-watermark" in s) for s in scripts],
                         [(True, False), (False, True)] * 2, "the overlay and watermark once per engine")
        # A GPU process the engine restarts itself: nothing to do, not counted.
        self.fail(6, reason=0)
        # The third failure within a minute asks; Retry tries again, afresh.
        self.fail(2, reason=1)
        box = uidriver.box(title=GAVE_UP)
        self.assertIn("Choose Retry to try again, or Cancel to close the player.", box["text"])
        self.assertEqual([b["id"] for b in box["buttons"]], [4, 2])
        uidriver.press(IDRETRY, title=GAVE_UP)
        self.session.wait_call("view", "Navigate", count=5)
        self.assertEqual(set(self.navigations()), {LESSON})
        self.fail(1)
        self.session.wait_call("view", "Navigate", count=6)
        self.fail(1)
        self.session.wait_call("view", "Navigate", count=7)
        self.fail(1)
        uidriver.box(title=GAVE_UP)
        self.assertEqual(uidriver.wait_window(cls=PLAYER_CLASS)["hwnd"], window, "the window never closed")
        uidriver.press(IDCANCEL, title=GAVE_UP)
        result = program.finish(30)
        self.assertEqual(result.exit_code, 1)
        self.assertEqual(uidriver.windows(cls=PLAYER_CLASS), [])

        steps = [line for line in result.debug_lines if line.startswith(("Engine:", "Load:"))]
        self.assertEqual(steps, [
            "Load: failed, host not found (web error status 13, HTTP status 0); showing the retry page",
            "Load: the student chose to try again",
            "Engine: render process exited (crashed, exit code 0); reloading the page (failure 1 of 3 within a minute)",
            "Engine: browser process exited (unexpected, exit code 0); starting the engine again "
            "(failure 2 of 3 within a minute)",
            "Engine: GPU process exited (unexpected, exit code 0); the engine restarts it",
            "Engine: render process unresponsive (unresponsive, exit code 259); too many failures, asking the student "
            "(failure 3 of 3 within a minute)",
            "Engine: the student chose to try again",
            "Engine: render process exited (crashed, exit code 0); reloading the page (failure 1 of 3 within a minute)",
            "Engine: render process exited (crashed, exit code 0); reloading the page (failure 2 of 3 within a minute)",
            "Engine: render process exited (crashed, exit code 0); too many failures, asking the student "
            "(failure 3 of 3 within a minute)",
            "Engine: the student closed the player",
        ])


if __name__ == "__main__":
    unittest.main()
