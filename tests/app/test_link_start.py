"""The real Miravell.exe on the road of a link and of an update, against the
mock service: the update questions of both runs, refused and broken links."""
import json
import os
import shutil
import tempfile
import time
import unittest

import uidriver
import winerun
from programs import ALERT_CLASS, CONTENT_PATH, INIT_CLASS, PLAYER_CLASS, SCHEME_KEY, VERSION_PATH, make_link, step_lines
from servicestarts import ServiceStartTest

FALLBACK = "https://files.miravell.localhost/desktop/miravell/MiravellSetup.exe"
UPDATE_AVAILABLE = "Miravell - Update Available"
UPDATE_REQUIRED = "Miravell - Update Required"
HANDLER = r"HKLM\Software\Classes\{}\shell\open\command"
BROWSER = '"C:\\windows\\system32\\winebrowser.exe" "%1"'


class LinkStartTest(ServiceStartTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.opened = os.path.join(cls.folder.name, "opened.txt")
        # The prefix's browser for web addresses becomes a recorder. (Wine
        # looks the handler up in the machine's classes only.)
        recorder = winerun.windows_path(winerun.program_path("url_recorder.exe"))
        command = f'"{recorder}" "{winerun.windows_path(cls.opened)}" "%1"'
        for scheme in ("http", "https"):
            winerun.wine_command(["reg", "add", HANDLER.format(scheme), "/ve", "/d", command, "/f"])

    @classmethod
    def tearDownClass(cls):
        for scheme in ("http", "https"):
            winerun.wine_command(["reg", "add", HANDLER.format(scheme), "/ve", "/d", BROWSER, "/f"])
        super().tearDownClass()

    def setUp(self):
        super().setUp()
        self.forget_opened()

    def forget_opened(self):
        for path in (self.opened, self.opened + ".parents"):
            if os.path.exists(path):
                os.remove(path)

    def start(self, *args, env=None):
        return self.start_player(args, env=env)

    def offer(self, version="9.0", required=0, link="https://files.miravell.localhost/Miravell-9.exe", host=None):
        fields = dict(method="GET", path=VERSION_PATH, body=json.dumps(
            {"version": version, "is_required": required, "link": link}))
        if host:
            fields["host"] = host
        self.mock.route(**fields)

    def opened_addresses(self, wait=True):
        deadline = time.monotonic() + (10 if wait else 0)
        while True:
            if os.path.exists(self.opened):
                with open(self.opened, encoding="utf-8") as handle:
                    lines = handle.read().split()
                if lines:
                    return lines
            if time.monotonic() >= deadline:
                return []
            time.sleep(0.1)

    def engine_log(self):
        """A fresh runtime log for the next start: the engine's own record."""
        return self.new_session(commands=False)

    def assert_engine_let_go(self, engine):
        """The environment started early went without a window ever using it."""
        calls = [(c["object"], c["call"]) for c in engine.calls()]
        self.assertIn(("environment", "released"), calls)
        self.assertNotIn(("environment", "CreateCoreWebView2Controller"), calls)

    def test_an_accepted_update_opens_its_download_from_the_service_or_else_the_built_in_one(self):
        winerun.wine_command(["reg", "delete", SCHEME_KEY, "/f"])
        offered = "https://files.miravell.localhost/Miravell-9.exe"
        for link, opened in ((offered, offered),
                             ("https://attacker.localhost/Miravell-9.exe", FALLBACK),
                             ("http://files.miravell.localhost/Miravell-9.exe", FALLBACK)):
            with self.subTest(link=link):
                self.forget_opened()
                self.mock.reset()
                self.offer(link=link)
                program = self.start()
                box = uidriver.box(title=UPDATE_AVAILABLE)
                self.assertEqual(box["text"], "A new version of the app is available. Would you like to update now?\n"
                                              "يوجد تحديث جديد للتطبيق. هل ترغب في التحديث الآن؟")
                self.assertEqual(sorted(b["id"] for b in box["buttons"]), [6, 7])
                uidriver.press("Yes", title=UPDATE_AVAILABLE)
                result = program.finish(30)
                self.assertEqual(result.exit_code, 0)
                self.assertEqual(self.opened_addresses(), [opened])
                with open(self.opened + ".parents", encoding="utf-8") as handle:
                    self.assertEqual(handle.read().split(), ["explorer.exe"],
                                     "the desktop's shell opens the download, not the elevated player")
                self.assertEqual(step_lines(result)[-1], "Step 7B: Version check done. hasUpdate=1")
                code, _ = winerun.wine_command(["reg", "query", SCHEME_KEY])
                self.assertNotEqual(code, 0, "Step 8 never ran")

    def test_declined_updates_go_on_to_the_window_on_the_one_engine_asked_for_first(self):
        lesson = "https://media.miravell.localhost/lesson"
        cases = [
            # arguments, the window that follows, the hosts asked for the version
            ([], INIT_CLASS, ["services.miravell.localhost"]),
            # A link start asks again on the link's domain, which also offers the update.
            ([make_link("tok", lesson)], PLAYER_CLASS, ["services.miravell.localhost", "miravell.localhost"]),
        ]
        for args, window, hosts in cases:
            with self.subTest(window=window):
                self.mock.reset()
                self.offer()
                engine = self.engine_log()
                program = self.start(*args, env=engine.env)
                uidriver.box(title=UPDATE_AVAILABLE)
                self.assertTrue(engine.calls("runtime", "CreateWebViewEnvironmentWithOptionsInternal"),
                                "the engine starts before the update check and a link's exchanges")
                answered = None
                for _ in hosts:
                    deadline = time.monotonic() + 20
                    while uidriver.box(title=UPDATE_AVAILABLE)["hwnd"] == answered:  # the next run's question
                        self.assertLess(time.monotonic(), deadline)
                        time.sleep(0.1)
                    answered = uidriver.press("No", title=UPDATE_AVAILABLE)["hwnd"]
                uidriver.wait_window(cls=window)
                uidriver.close(cls=window)
                result = program.finish(30)
                self.assertEqual(result.exit_code, 0)
                self.assertEqual([r["host"] for r in self.mock.requests() if r["path"] == VERSION_PATH], hosts)
                # The window's host used the one environment started early.
                self.assertEqual(len(engine.calls("runtime", "CreateWebViewEnvironmentWithOptionsInternal")), 1)
                self.assertEqual(len(engine.calls("environment", "CreateCoreWebView2Controller")), 1)
                self.assertIn("Step 8: Registering URL protocol...", step_lines(result))
                self.assertEqual(self.opened_addresses(wait=False), [])
        # The player's browser got the loading overlay, then went to the lesson.
        view = [c for c in engine.calls("view") if c["call"] in ("AddScriptToExecuteOnDocumentCreated", "Navigate")]
        self.assertEqual([c["call"] for c in view][:2], ["AddScriptToExecuteOnDocumentCreated", "Navigate"])
        self.assertIn("quella-full-loader", json.dumps(view[0]["args"]))
        self.assertEqual(view[1]["args"], [lesson])

    def test_mandatory_update_ends_with_0_whether_accepted_or_not(self):
        self.offer(required=1, link="file:///C:/windows/system32/calc.exe")
        engine = self.engine_log()
        program = self.start(env=engine.env)
        box = uidriver.box(title=UPDATE_REQUIRED)
        self.assertTrue(box["text"].startswith("A mandatory update is available."))
        uidriver.press("OK", title=UPDATE_REQUIRED)
        self.assertEqual(program.finish(30).exit_code, 0)
        self.assert_engine_let_go(engine)
        self.assertEqual(self.opened_addresses(), [FALLBACK], "a non-web link is replaced by the built-in address")

        self.forget_opened()
        program = self.start()
        uidriver.press("Cancel", title=UPDATE_REQUIRED)
        self.assertEqual(program.finish(30).exit_code, 0)
        self.assertEqual(self.opened_addresses(wait=False), [])

    def test_a_link_refused_by_the_service_shows_its_text_and_ends_with_1(self):
        self.mock.route(method="PUT", path=CONTENT_PATH, status=403,
                        body=json.dumps({"message": "انتهت صلاحية هذا الرابط"}))
        engine = self.engine_log()
        program = self.start(make_link("tok", "lesson-9"), env=engine.env)
        box = uidriver.box(title="Miravell - خطأ")
        self.assertEqual(box["text"], "انتهت صلاحية هذا الرابط")
        self.assert_engine_let_go(engine)  # before the message, not when it is answered
        uidriver.press("OK", title="Miravell - خطأ")
        self.assertEqual(program.finish(30).exit_code, 1)

    def test_a_broken_or_refused_link_ends_in_the_alert_with_a_decodable_code_and_nothing_reaches_its_host(self):
        # That the refusal comes before anything is sent is LinkResolutionTest's;
        # here the player's alert carries the reason and the early engine goes.
        cases = [(make_link("tok", "lesson-9").rsplit(":", 1)[0], "split_failed_parts_2"),  # two values left
                 (make_link("tok", "lesson-9", "https://attacker.localhost"), "domain_not_allowed"),
                 (make_link("tok", "https://attacker.localhost/lesson"), "content_not_allowed"),
                 (make_link("tok", "https://miravell.localhost@attacker.localhost/"), "content_not_allowed")]
        for link, reason in cases:
            with self.subTest(reason=reason, link=link[-30:]):
                self.mock.reset()
                engine = self.engine_log()
                program = self.start(link, env=engine.env)
                uidriver.wait_window(cls=ALERT_CLASS)
                self.assert_engine_let_go(engine)
                code = uidriver.clipboard()
                uidriver.close(cls=ALERT_CLASS)
                self.assertEqual(program.finish(60).exit_code, 1)
                decoded = winerun.run_program("miravell-diag.exe", ["decode", code])
                self.assertEqual(decoded.exit_code, 0, decoded.stdout)
                self.assertIn(reason, decoded.stdout)
                reached = {r["host"] for r in self.mock.requests()} | {h["sni"] for h in self.mock.handshakes()}
                self.assertNotIn("attacker.localhost", reached)
                self.assertEqual(engine.calls("view", "Navigate"), [])

    def test_files_left_beside_a_copy_of_the_player_are_never_loaded_or_run(self):
        # The player runs elevated, often from a downloads folder: DLLs and
        # programs of system names beside it, or in the current directory, are
        # anyone's code. The way through the runtime check, a broken link and
        # its alert's diagnostic window would load or start each of them.
        folder = tempfile.mkdtemp(dir=self.folder.name)
        exe = os.path.join(folder, "Miravell.exe")
        shutil.copy(winerun.program_path("Miravell.exe"), exe)
        for name in ("WebView2Loader.dll", "winhttp.dll", "version.dll", "bcrypt.dll", "crypt32.dll", "urlmon.dll",
                     "iphlpapi.dll", "gdiplus.dll"):
            shutil.copy(winerun.program_path("planted_dll.dll"), os.path.join(folder, name))
        shutil.copy(winerun.program_path("planted_program.exe"), os.path.join(folder, "mshta.exe"))
        self.program = winerun.start_program(exe, [make_link("tok", "lesson-9").rsplit(":", 1)[0]], cwd=folder)
        uidriver.wait_window(cls=ALERT_CLASS)
        uidriver.close(cls=ALERT_CLASS)
        self.assertEqual(self.program.finish(60).exit_code, 1)
        time.sleep(1)  # the diagnostic window starts detached
        self.assertEqual(sorted(f for f in os.listdir(folder) if f.endswith((".loaded", ".ran"))), [])


if __name__ == "__main__":
    unittest.main()
