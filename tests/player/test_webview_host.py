"""The browser host starting the scripted runtime through the program's own
loader, as it would start the real engine: attempts, repairs, settings,
events and the request filter."""
import json
import os
import re
import tempfile
import unittest

import winerun

BROKEN = "0x8007139F"


class WebViewHostTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.runtime_dir = winerun.program_files_folder("webview-host")
        result = winerun.run_program("install_scripted_runtime.exe", ["--folder", cls.runtime_dir])
        assert result.exit_code == 0, result.stdout + result.stderr

    @classmethod
    def tearDownClass(cls):
        winerun.run_program("install_scripted_runtime.exe", ["--uninstall", "--folder", cls.runtime_dir])
        cls.folder.cleanup()

    def run_host(self, script=None, *args):
        work = tempfile.mkdtemp(dir=self.folder.name)
        log = os.path.join(work, "runtime.log")
        env = {"MIRAVELL_RUNTIME_LOG": winerun.windows_path(log)}
        if script is not None:
            path = os.path.join(work, "script.json")
            with open(path, "w", encoding="utf-8") as handle:
                json.dump(script, handle)
            env["MIRAVELL_RUNTIME_SCRIPT"] = winerun.windows_path(path)
        profile = os.path.join(work, "profile")
        os.makedirs(profile)
        with open(os.path.join(profile, "Cookies"), "w", encoding="ascii") as handle:
            handle.write("old")
        result = winerun.run_program("host_probe.exe", ["--folder", winerun.windows_path(profile), *args], env=env)
        self.assertEqual(result.exit_code, 0, result.stderr[-2000:])
        self.last_run = result
        out = json.loads(result.stdout.strip().splitlines()[-1])
        calls = []
        if os.path.exists(log):
            with open(log, encoding="utf-8") as handle:
                calls = [json.loads(line) for line in handle if line.strip()]
        return out, calls, os.path.isdir(profile)

    EVENTS = ("NavigationStarting", "WebMessageReceived", "PermissionRequested", "NewWindowRequested",
              "WebResourceRequested", "DownloadStarting")

    @staticmethod
    def names(calls, obj=None):
        return [c["call"] for c in calls if obj is None or c.get("object") == obj]

    def test_a_plain_start_sets_up_the_view_inside_the_completion(self):
        out, calls, _ = self.run_host({}, "--settings")
        self.assertTrue(out["initialized"])
        self.assertEqual(out["completions"], [{"success": True, "inside_initialize": True}])
        self.assertEqual(out["boxes"], [])
        order = [(c["object"], c["call"]) for c in calls]
        args = {(c["object"], c["call"]): c.get("args") for c in calls}
        self.assertEqual(args[("controller", "put_DefaultBackgroundColor")], [255, 18, 18, 18])
        self.assertEqual(args[("controller", "put_AllowExternalDrop")], [0])
        self.assertIn(("view", "AddWebResourceRequestedFilterWithRequestSourceKinds"), order)
        self.assertNotIn(("view", "AddWebResourceRequestedFilter"), order)
        settings = [(c["call"], c["args"]) for c in calls if c.get("object") == "settings" and c["call"].startswith("put_")]
        self.assertEqual(settings, [("put_AreDevToolsEnabled", [0]), ("put_AreDefaultContextMenusEnabled", [0]),
                                    ("put_IsStatusBarEnabled", [0]), ("put_IsZoomControlEnabled", [0]),
                                    ("put_AreBrowserAcceleratorKeysEnabled", [0])])
        self.assertNotIn("unknown_slot", self.names(calls))
        # Deleting the host removes every handler it registered (each holds
        # the host), then closes the controller.
        for event in self.EVENTS:
            self.assertIn(("view", "add_" + event), order)
            self.assertLess(order.index(("view", "remove_" + event)), order.index(("controller", "Close")))
        text = json.dumps(next(c for c in calls if c.get("call") == "CreateWebViewEnvironmentWithOptionsInternal"))
        self.assertIn("129.0.2792.45", text)
        self.assertIn("--autoplay-policy=no-user-gesture-required", text)

    def test_older_interfaces_fall_back_or_are_skipped(self):
        out, calls, _ = self.run_host({"offer_view22": False, "offer_controller2": False, "offer_controller4": False,
                                       "offer_settings3": False}, "--settings")
        self.assertTrue(out["initialized"])
        view = self.names(calls, "view")
        self.assertIn("AddWebResourceRequestedFilter", view)
        self.assertNotIn("AddWebResourceRequestedFilterWithRequestSourceKinds", view)
        controller = self.names(calls, "controller")
        self.assertNotIn("put_DefaultBackgroundColor", controller)
        self.assertNotIn("put_AllowExternalDrop", controller)
        self.assertNotIn("put_AreBrowserAcceleratorKeysEnabled", self.names(calls, "settings"))

    def test_a_broken_runtime_is_repaired_and_tried_again_any_other_failure_is_not(self):
        # (script, started, repairs, attempts). A repair after each broken
        # attempt, the third too; only a broken runtime is repaired.
        cases = (({"environment_results": [BROKEN, BROKEN, "0"]}, True, 2, 3),
                 ({"environment_results": [BROKEN, BROKEN, BROKEN, "0"]}, False, 3, 3),
                 ({"environment_results": ["0x80004005"]}, False, 0, 1),
                 ({"environment_call_result": "0x80070002"}, False, 0, 1),
                 ({"controller_result": "0x80004005"}, False, 0, 1),
                 ({"controller_sync_failure": "0x80004005"}, False, 0, 1))
        # The environment made by the host itself, and one started before the
        # window existed and handed over: the same attempts, repairs and failures.
        for start in ((), ("--early",)):
            for script, started, repairs, attempts in cases:
                with self.subTest(start=start, script=script):
                    out, calls, profile_left = self.run_host(script, *start)
                    self.assertEqual(out["initialized"], started)
                    self.assertEqual(out["completions"], [{"success": started, "inside_initialize": True}])
                    self.assertEqual([b["title"] for b in out["boxes"]], ["Repairing..."] * repairs)
                    self.assertTrue(all(b["owned"] for b in out["boxes"]), "the repair box belongs to the window")
                    self.assertEqual(profile_left, repairs == 0, "a repair deletes the profile folder")
                    self.assertEqual(self.names(calls, "runtime").count("CreateWebViewEnvironmentWithOptionsInternal"),
                                     attempts)
                    if started:
                        self.assertEqual(out["slept_ms"], 2000)

    def test_an_early_environment_is_taken_over_once_or_let_go(self):
        # (options, engine delay ms, controller expected). The answer comes
        # before the host asks for it, after, or after the start was dropped.
        for args, delay, taken in ((("--early",), 0, True), (("--early",), 1000, True),
                                   (("--drop-early", "--run-ms", "300"), 0, False),
                                   (("--drop-early", "--run-ms", "1000"), 1200, False)):
            with self.subTest(args=args, delay=delay):
                out, calls, _ = self.run_host({"environment_delay_ms": delay}, *args)
                order = [(c["object"], c["call"]) for c in calls]
                self.assertEqual(order.count(("runtime", "CreateWebViewEnvironmentWithOptionsInternal")), 1, order)
                self.assertEqual(out.get("initialized", False), taken)
                self.assertEqual(("environment", "CreateCoreWebView2Controller") in order, taken, order)
                # Nothing keeps the environment once its owner is gone.
                self.assertIn(("environment", "released"), order)
                self.assertLess(order.index(("runtime", "environment_completed")),
                                order.index(("environment", "released")))

    def test_a_refused_registration_fails_the_start(self):
        # Without any one of them the browser would run without its policy,
        # its pin check or its tags: the start fails and the controller goes.
        failed = "0x80004005"
        for failing in [{"add_" + event: failed} for event in self.EVENTS] + [
                {"AddWebResourceRequestedFilterWithRequestSourceKinds": failed, "AddWebResourceRequestedFilter": failed}]:
            out, calls, _ = self.run_host({"failing_calls": failing})
            self.assertFalse(out["initialized"], failing)
            self.assertEqual(out["completions"], [{"success": False, "inside_initialize": True}], failing)
            self.assertEqual(out["boxes"], [], failing)
            self.assertIn("Close", self.names(calls, "controller"), failing)

        # The newer filter refused: the older one takes its place.
        out, calls, _ = self.run_host({"failing_calls": {"AddWebResourceRequestedFilterWithRequestSourceKinds": failed}})
        self.assertTrue(out["initialized"])
        view = self.names(calls, "view")
        self.assertLess(view.index("AddWebResourceRequestedFilterWithRequestSourceKinds"),
                        view.index("AddWebResourceRequestedFilter"))
        self.assertIn("add_WebResourceRequested", view)
        # A refusal the host survives still shows in the debug output: the
        # call as written, its code and where it was made.
        refusal = re.compile(r"Failure: 0x80004005 in view22->AddWebResourceRequestedFilterWithRequestSourceKinds\("
                             r".*\) at .*player[/\\]WebViewHost\.cpp:\d+$")
        self.assertEqual(len([line for line in self.last_run.failure_lines if refusal.match(line)]), 1,
                         self.last_run.failure_lines)

    def test_events_reach_the_owner_as_the_host_maps_them(self):
        out, calls, _ = self.run_host({}, "--events", "--delete-unstarted", "--devices-from", "https://devices.example/")
        self.assertTrue(out["deleted_unstarted"])
        self.assertEqual((out["cancel_blocked"], out["cancel_fine"]), (1, 0))
        self.assertEqual(out["messages"], ["pageLoaded"], "a non-string message is dropped")
        self.assertEqual(out["permission_states"], {
            "https://devices.example/room": {"0": 0, "1": 1, "2": 1, "3": 0, "4": 1, "5": 0, "6": 0},
            "https://other.example/frame": {str(kind): 0 for kind in range(7)}})
        self.assertEqual(out["new_window_handled"], [1, 1], "no second window, whatever the address")
        navigations = [c["args"] for c in calls if c.get("call") == "Navigate"]
        self.assertIn(["https://popup.example/page"], navigations)
        self.assertNotIn(["file://evil.example/share/x"], navigations, "only web pages replace the view's page")
        headers = out["resource"]["headers_set"]
        self.assertEqual(headers.get("X-Miravell-Client"), "desktop-4.8.0")
        self.assertIn("X-Stream-Host", headers, "a media request carries the identity")
        self.assertIsNone(out["resource"]["response"])
        self.assertEqual(out["requests_seen"], ["https://stream.b-cdn.net/lesson/hls/x.ts"])


if __name__ == "__main__":
    unittest.main()
