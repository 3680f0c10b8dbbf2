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
from programs import ALERT_CLASS, CONTENT_PATH, INIT_CLASS, PLAYER_CLASS, SCHEME_KEY, VERSION_PATH, make_link
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

    def steps(self, result):
        return [line for line in result.debug_lines if line.startswith("Step ")]

    def test_optional_update_accepted_opens_the_download_and_registers_nothing(self):
        winerun.wine_command(["reg", "delete", SCHEME_KEY, "/f"])
        self.offer()
        program = self.start()
        box = uidriver.box(title=UPDATE_AVAILABLE)
        self.assertEqual(box["text"], "A new version of the app is available. Would you like to update now?\n"
                                      "يوجد تحديث جديد للتطبيق. هل ترغب في التحديث الآن؟")
        self.assertEqual(sorted(b["id"] for b in box["buttons"]), [6, 7])
        uidriver.press("Yes", title=UPDATE_AVAILABLE)
        result = program.finish(30)
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(self.opened_addresses(), ["https://files.miravell.localhost/Miravell-9.exe"])
        with open(self.opened + ".parents", encoding="utf-8") as handle:
            self.assertEqual(handle.read().split(), ["explorer.exe"],
                             "the desktop's shell opens the download, not the elevated player")
        self.assertEqual(self.steps(result)[-1], "Step 7B: Version check done. hasUpdate=1")
        code, _ = winerun.wine_command(["reg", "query", SCHEME_KEY])
        self.assertNotEqual(code, 0, "Step 8 never ran")

    def test_optional_update_declined_goes_on_to_the_init_screen(self):
        self.offer()
        engine = self.engine_log()
        program = self.start(env=engine.env)
        uidriver.box(title=UPDATE_AVAILABLE)
        # The engine was asked for before the update check, and the start
        # screen's host then used that one environment.
        self.assertTrue(engine.calls("runtime", "CreateWebViewEnvironmentWithOptionsInternal"))
        uidriver.press("No", title=UPDATE_AVAILABLE)
        uidriver.wait_window(cls=INIT_CLASS)
        uidriver.close(cls=INIT_CLASS)
        result = program.finish(30)
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(len(engine.calls("runtime", "CreateWebViewEnvironmentWithOptionsInternal")), 1)
        self.assertEqual(len(engine.calls("environment", "CreateCoreWebView2Controller")), 1)
        self.assertIn("Step 8: Registering URL protocol...", self.steps(result))
        self.assertEqual(self.opened_addresses(wait=False), [])

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

        os.remove(self.opened)
        program = self.start()
        uidriver.press("Cancel", title=UPDATE_REQUIRED)
        self.assertEqual(program.finish(30).exit_code, 0)
        self.assertEqual(self.opened_addresses(wait=False), [])

    def test_an_update_address_off_the_service_opens_the_built_in_download(self):
        for link in ("https://attacker.localhost/Miravell-9.exe", "http://files.miravell.localhost/Miravell-9.exe"):
            with self.subTest(link=link):
                if os.path.exists(self.opened):
                    os.remove(self.opened)
                self.mock.reset()
                self.offer(link=link)
                program = self.start()
                uidriver.press("Yes", title=UPDATE_AVAILABLE)
                self.assertEqual(program.finish(30).exit_code, 0)
                self.assertEqual(self.opened_addresses(), [FALLBACK])

    def test_a_link_start_asks_twice_and_still_opens_the_player(self):
        self.offer()  # both the default endpoint and the link's domain answer with an update
        log = os.path.join(self.folder.name, "runtime.log")
        program = self.start(make_link("tok", "https://media.miravell.localhost/lesson"),
                             env={"MIRAVELL_RUNTIME_LOG": winerun.windows_path(log)})
        uidriver.box(title=UPDATE_AVAILABLE)
        with open(log, encoding="utf-8") as handle:
            self.assertIn("CreateWebViewEnvironmentWithOptionsInternal", handle.read(),
                          "the engine starts before the update check and the link's exchanges")
        first = uidriver.press("No", title=UPDATE_AVAILABLE)["hwnd"]
        deadline = time.monotonic() + 20
        while uidriver.box(title=UPDATE_AVAILABLE)["hwnd"] == first:  # the second run's question
            self.assertLess(time.monotonic(), deadline)
            time.sleep(0.1)
        uidriver.press("No", title=UPDATE_AVAILABLE)
        uidriver.wait_window(cls=PLAYER_CLASS)
        uidriver.close(cls=PLAYER_CLASS)
        result = program.finish(30)
        self.assertEqual(result.exit_code, 0)
        hosts = [r["host"] for r in self.mock.requests() if r["path"] == VERSION_PATH]
        self.assertEqual(hosts, ["services.miravell.localhost", "miravell.localhost"])
        # The player's browser got the loading overlay, then went to the lesson.
        with open(log, encoding="utf-8") as handle:
            calls = [json.loads(line) for line in handle if line.strip()]
        view = [c for c in calls if c.get("object") == "view" and c["call"] in ("AddScriptToExecuteOnDocumentCreated", "Navigate")]
        self.assertEqual([c["call"] for c in view][:2], ["AddScriptToExecuteOnDocumentCreated", "Navigate"])
        self.assertIn("quella-full-loader", json.dumps(view[0]["args"]))
        self.assertEqual(view[1]["args"], ["https://media.miravell.localhost/lesson"])
        self.assertEqual([c["call"] for c in calls].count("CreateWebViewEnvironmentWithOptionsInternal"), 1)

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

    def test_a_broken_link_ends_in_the_alert_with_a_decodable_code(self):
        link = make_link("tok", "lesson-9")
        broken = link.rsplit(":", 1)[0]  # two values left
        engine = self.engine_log()
        program = self.start(broken, env=engine.env)
        window = uidriver.wait_window(cls=ALERT_CLASS)
        self.assert_engine_let_go(engine)
        self.assertEqual(window["rect"]["height"], 600)
        code = uidriver.clipboard()
        uidriver.close(cls=ALERT_CLASS)
        self.assertEqual(program.finish(60).exit_code, 1)
        decoded = winerun.run_program("miravell-diag.exe", ["decode", code])
        self.assertEqual(decoded.exit_code, 0, decoded.stdout)
        self.assertIn("split_failed_parts_2", decoded.stdout)

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

    def test_a_link_naming_another_host_ends_in_the_alert_and_nothing_reaches_it(self):
        log = os.path.join(self.folder.name, "refused-runtime.log")
        cases = [("lesson-9", "https://attacker.localhost", "domain_not_allowed"),
                 ("https://attacker.localhost/lesson", "https://miravell.localhost", "content_not_allowed"),
                 ("https://miravell.localhost@attacker.localhost/", "https://miravell.localhost",
                  "content_not_allowed")]
        for content_id, domain, reason in cases:
            with self.subTest(content_id=content_id, domain=domain):
                self.mock.reset()
                if os.path.exists(log):
                    os.remove(log)
                program = self.start(make_link("tok", content_id, domain),
                                     env={"MIRAVELL_RUNTIME_LOG": winerun.windows_path(log)})
                uidriver.wait_window(cls=ALERT_CLASS)
                code = uidriver.clipboard()
                uidriver.close(cls=ALERT_CLASS)
                self.assertEqual(program.finish(60).exit_code, 1)
                decoded = winerun.run_program("miravell-diag.exe", ["decode", code])
                self.assertIn(reason, decoded.stdout)
                reached = {r["host"] for r in self.mock.requests()} | {h["sni"] for h in self.mock.handshakes()}
                self.assertNotIn("attacker.localhost", reached)
                self.assertNotIn(CONTENT_PATH, [r["path"] for r in self.mock.requests()])
                with open(log, encoding="utf-8") as handle:
                    self.assertNotIn("Navigate", handle.read())

if __name__ == "__main__":
    unittest.main()
