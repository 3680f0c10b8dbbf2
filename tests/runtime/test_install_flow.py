"""The real Miravell.exe on a machine without the browser runtime: the
question, the download of the bootstrapper from the service, its run, and the
ways this can end. The bootstrapper is the test one, which carries the
scripted runtime inside itself."""
import glob
import os
import re
import shutil
import tempfile
import unittest
import urllib.parse

import mockservice
import uidriver
import winerun
from programs import INIT_CLASS, ProgramTest

REQUIRED = "Quella \u2014 Component Required"
INSTALLING = "Installing..."
DOWNLOAD_ERROR = "Download Error"
INSTALLATION = "Installation"


def installer_address():
    """Host and path of the runtime installer in the local profile's configuration."""
    path = os.path.join(os.environ["MIRAVELL_SOURCE_DIR"], "common", "config", "Local.inc")
    with open(path, encoding="utf-8") as handle:
        text = handle.read()
    url = re.search(r'MIRAVELL_CONFIG\(RuntimeInstallerUrl,\s*"([^"]+)"\)', text).group(1)
    parts = urllib.parse.urlsplit(url)
    return parts.hostname, parts.path


HOST, PATH = installer_address()
# The machine's registration, in the 32-bit view the real updater writes: the
# elevated player finds no other.
CLIENT_STATE = r"HKLM\Software\Wow6432Node\Microsoft\EdgeUpdate\ClientState\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}"


def runtime_registered():
    code, _ = winerun.wine_command(["reg", "query", CLIENT_STATE, "/v", "EBWebView"])
    return code == 0


def download_folders():
    """The player downloads the installer into a fresh folder of its own,
    "MiravellSetup-" and a GUID, in the system's temporary folder."""
    prefix = os.environ.get("MIRAVELL_WINEPREFIX") or os.path.join(os.environ["MIRAVELL_TESTBED"], "prefix")
    return glob.glob(os.path.join(prefix, "drive_c", "windows", "temp", "MiravellSetup-*"))


def downloaded_file_present():
    return any(os.path.exists(os.path.join(folder, "WebView2Installer.exe")) for folder in download_folders())


def remove_downloads():
    for folder in download_folders():
        shutil.rmtree(folder, ignore_errors=True)


class InstallFlowTest(ProgramTest):
    @classmethod
    def setUpClass(cls):
        cls.mock = mockservice.shared()
        # The download goes through the system's HTTPS stack, which checks the
        # chain as the real download site's would be checked: the mock's CA
        # is trusted by this user while these tests run, and only then.
        cls.untrust = winerun.trust_root(mockservice.MockService.cert_path("service-ca"))
        # The test installers are signed by the test PKI's publisher, whose
        # root is trusted the same way.
        cls.untrust_signer = winerun.trust_root(mockservice.MockService.cert_path("codesign-ca"))

    @classmethod
    def tearDownClass(cls):
        cls.untrust_signer()
        cls.untrust()

    def setUp(self):
        self.mock.reset()
        removed = winerun.run_program("install_scripted_runtime.exe", ["--uninstall"])
        self.assertEqual(removed.exit_code, 0, removed.stderr)
        remove_downloads()

    def tearDown(self):
        super().tearDown()
        remove_downloads()
        # The other program tests run on the installed runtime.
        winerun.ensure_runtime()

    def serve(self, program=None, **fields):
        """The service's answer at the runtime installer address: a program of
        the build, or the given route fields."""
        if program is not None:
            fields["body_file"] = winerun.program_path(program)
            fields.setdefault("headers", {"Content-Type": "application/octet-stream"})
        self.mock.route(method="GET", host=HOST, path=PATH, **fields)

    def downloads(self):
        return [r for r in self.mock.requests() if r["host"] == HOST and r["method"] == "GET"]

    def accept(self):
        """Starts the program and agrees to the install."""
        self.start_player()
        question = uidriver.box(title=REQUIRED)
        self.assertEqual(question["text"],
                         "WebView2 Runtime is required to run this application.\n"
                         "يحتاج هذا التطبيق إلى WebView2 Runtime للتشغيل.\n\n"
                         "Would you like to install it now?")
        self.assertEqual(sorted(b["id"] for b in question["buttons"]), [6, 7])
        uidriver.press("Yes", title=REQUIRED)
        informing = uidriver.box(title=INSTALLING)
        self.assertEqual(informing["text"], "WebView2 Runtime is being downloaded and installed.\n"
                                            "جاري تحميل وتثبيت WebView2 Runtime.\n\nPlease wait...")
        self.assertEqual(self.downloads(), [], "the download waits for the box to be closed")
        uidriver.press("OK", title=INSTALLING)
        return self.program

    def ends_with_box(self, program, title, text, timeout_ms=20000):
        """Answers the one-button box a failed install ends with; the program
        then ends with 1, nothing installed and no window of its own."""
        box = uidriver.box(title=title, timeout_ms=timeout_ms)
        self.assertEqual(box["text"], text)
        self.assertEqual([b["id"] for b in box["buttons"]], [1])
        uidriver.press("OK", title=title)
        result = program.finish(30)
        self.assertEqual(result.exit_code, 1)
        self.assertFalse(runtime_registered())
        self.assertEqual(uidriver.windows(cls=INIT_CLASS), [])
        return result

    def test_declining_ends_with_1_and_downloads_nothing(self):
        self.serve("MicrosoftEdgeWebview2Setup.exe")
        self.start_player()
        uidriver.press("No", title=REQUIRED)
        result = self.program.finish(30)
        self.assertEqual(result.exit_code, 1)
        self.assertEqual(self.downloads(), [])
        self.assertEqual([line for line in result.debug_lines if line.startswith("Step ")], [],
                         "nothing after the runtime step ran")
        self.assertEqual(uidriver.windows(title=INSTALLING), [])
        self.assertFalse(runtime_registered())

    def test_the_downloaded_bootstrapper_installs_the_runtime_and_the_start_goes_on(self):
        self.serve("MicrosoftEdgeWebview2Setup.exe")
        program = self.accept()
        uidriver.wait_window(cls=INIT_CLASS, timeout_ms=60000, visible=True)
        self.assertTrue(runtime_registered())
        self.assertFalse(downloaded_file_present(), "the bootstrapper is deleted after a good install")
        self.assertEqual([r["path"] for r in self.downloads()], [PATH])
        uidriver.close(cls=INIT_CLASS)
        result = program.finish(30)
        self.assertEqual(result.exit_code, 0)
        self.assertIn("Step 7: Initializing SSL pinning defaults", result.debug_lines)

    def test_a_failed_download_is_reported_and_ends_with_1(self):
        # (Wine's download call reports success for HTTP error answers, so the
        # failures here are the ones it does report: nothing answers, and a
        # certificate the system does not trust.)
        failures = {
            "moved to a closed port": lambda: self.serve(status=302, headers={"Location": "https://127.0.0.1:9/x.exe"}),
            "untrusted certificate": lambda: self.mock.tls(HOST, "attacker"),
        }
        for name, fail in failures.items():
            with self.subTest(name):
                self.mock.reset()
                fail()
                self.ends_with_box(self.accept(), DOWNLOAD_ERROR,
                                   "Failed to download WebView2 Runtime.\nPlease check your internet connection.")
                self.assertFalse(downloaded_file_present())

    def test_only_an_installer_signed_by_the_publisher_is_run(self):
        # The plain installer, downloaded alone, is the publisher's but has no
        # runtime DLL to install; each other copy would install it if it ran.
        refused = {
            "install_scripted_runtime.exe": None,
            "installer-variants/unsigned.exe": "untrusted",
            "installer-variants/tampered.exe": "untrusted",
            "installer-variants/untrusted-ca.exe": "untrusted",
            "installer-variants/other-publisher.exe": "other publisher",
            # The publisher's name from the mock service's CA, which this
            # user trusts: a trusted root, but not the publisher's.
            "installer-variants/other-root.exe": "other root",
        }
        for name, reason in refused.items():
            with self.subTest(name):
                self.mock.reset()
                self.serve(name)
                result = self.ends_with_box(self.accept(), INSTALLATION, "WebView2 installation may have failed.\n"
                                            "Please restart the application.", timeout_ms=60000)
                refusals = [line for line in result.debug_lines if line.startswith("Runtime installer refused: ")]
                if reason is None:
                    self.assertEqual(refusals, [], "it is signed by the publisher, so it ran")
                    self.assertTrue(downloaded_file_present(), "an administrator may run it again")
                else:
                    self.assertEqual(len(refusals), 1, result.debug_lines)
                    self.assertTrue(refusals[0].startswith("Runtime installer refused: " + reason + " "), refusals[0])

    def test_the_elevated_player_never_loads_an_engine_the_user_named(self):
        # Unelevated code of the same user can set the folder variable and the
        # user's registration; both name a planted DLL that leaves a marker
        # when loaded. The player (elevated, as the bed runs it) takes the
        # machine's engine, and without one, asks to install it.
        work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, work, True)
        variable = os.path.join(work, "variable")
        dll_folder = os.path.join(variable, "EBWebView", "x64")
        os.makedirs(dll_folder)
        shutil.copy(winerun.program_path("planted_engine.dll"),
                    os.path.join(dll_folder, "EmbeddedBrowserWebView.dll"))
        user_args = ["--user", "--folder", winerun.windows_path(os.path.join(work, "user")),
                     "--client", winerun.program_path("planted_engine.dll")]
        self.assertEqual(winerun.run_program("install_scripted_runtime.exe", user_args).exit_code, 0)
        self.addCleanup(winerun.run_program, "install_scripted_runtime.exe", ["--uninstall", *user_args[:3]])
        env = {"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER": winerun.windows_path(variable)}

        def markers():
            return [os.path.join(folder, name) for folder, _, names in os.walk(work) for name in names
                    if name.endswith(".loaded")]

        for machine_wide in (True, False):
            with self.subTest(machine_wide=machine_wide):
                if machine_wide:
                    winerun.ensure_runtime()
                else:
                    winerun.run_program("install_scripted_runtime.exe", ["--uninstall"])
                self.start_player(env=env)
                if machine_wide:
                    uidriver.wait_window(cls=INIT_CLASS, timeout_ms=60000)
                    uidriver.close(cls=INIT_CLASS)
                    self.assertEqual(self.program.finish(30).exit_code, 0)
                else:
                    uidriver.press("No", title=REQUIRED)
                    self.assertEqual(self.program.finish(30).exit_code, 1)
                self.assertEqual(markers(), [])

if __name__ == "__main__":
    unittest.main()
