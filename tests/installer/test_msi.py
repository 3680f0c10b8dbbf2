"""The MSI package under Wine, the way deployment tools run it: msiexec,
silent, as an administrator. A lesson link for an account that never ran the
player, an upgrade over an older package while the player is open, what each
kind of removal leaves, and msiexec's exit codes."""
import filecmp
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

import scripted
import uidriver
import winerun
from programs import INIT_CLASS, PLAYER_CLASS, ProgramTest, make_link
# The NSIS installer's tests hold the machine's layout and how to read it.
from test_installer import (MACHINE_DATA, MACHINE_SCHEME_ROOT, PROGRAM, PROGRAM_DIR, SCHEME_ROOT, SCHEME_VALUES,
                            SIGNING_ROOT, START_MENU_LINK, USER_DATA, OLDER_VERSION, VERSION, image_mapped,
                            prefix_path, reg_values, wait_until, wine_user)

MSI = os.environ.get("MIRAVELL_MSI", "")
OLDER_MSI = os.environ.get("MIRAVELL_OLDER_MSI", "")

HELPER = PROGRAM_DIR + "\\MiravellSetupHelper.exe"
UNINSTALL_ROOT = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
# Windows puts a per-machine package's shortcut in the all-users menu; Wine
# resolves the menu folder before it reads ALLUSERS, so there it lands in the
# installing user's.
USER_START_MENU_LINK = "C:\\users\\{}\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Miravell.lnk"
MACHINE_SCHEME_VALUES = {key: values for key, values in SCHEME_VALUES.items() if key.startswith("HKLM")}

# msiexec's own codes.
SUCCESS, FAILED = 0, 1603


def msi_entries():
    """{key: values} of the Add/Remove Programs entries an MSI package of the player made."""
    code, out = winerun.wine_command(["reg", "query", UNINSTALL_ROOT])
    entries = {}
    for line in out.splitlines() if code == 0 else []:
        name = line.strip().rpartition("\\")[2]
        if re.fullmatch(r"\{[0-9A-Fa-f-]{36}\}", name):
            values = reg_values(UNINSTALL_ROOT + "\\" + name)
            if values and values.get("DisplayName") == "Miravell":
                entries[name] = values
    return entries


def msiexec(*args):
    """msiexec's exit code. Wine hands a Unix parent only its low 8 bits (1603
    arrives as 67), so cmd reads the whole one and says it."""
    words = " ".join(f'"{arg}"' if " " in arg else arg for arg in args)
    code, out = winerun.wine_command(
        ["C:\\windows\\system32\\cmd.exe", "/v:on", "/c",
         f"C:\\windows\\system32\\msiexec.exe {words} & echo exit=!errorlevel!"], timeout=180)
    said = re.search(r"exit=(\d+)", out)
    assert said, f"no exit code from msiexec (cmd gave {code}): {out}"
    return int(said.group(1))


@unittest.skipUnless(MSI, "the build made no MSI package (wixl missing)")
class MsiTest(ProgramTest):
    @classmethod
    def setUpClass(cls):
        winerun.ensure_runtime()
        cls.folder = tempfile.TemporaryDirectory()
        user = wine_user()
        cls.user_data = USER_DATA.format(user)
        cls.links = (START_MENU_LINK, USER_START_MENU_LINK.format(user))

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def setUp(self):
        self.remove_everything()

    def tearDown(self):
        super().tearDown()
        self.remove_everything()

    def remove_everything(self):
        """A machine without the player, whatever an earlier run left: the
        packages Windows Installer knows go the way they came."""
        for code in msi_entries():
            msiexec("/x", code, "/qn")
        for path in (PROGRAM_DIR, MACHINE_DATA, self.user_data, *self.links):
            unix = prefix_path(path)
            if os.path.isdir(unix) and not os.path.islink(unix):
                for folder, _, _ in os.walk(unix):
                    os.chmod(folder, 0o755)
                shutil.rmtree(unix)
            elif os.path.lexists(unix):
                os.remove(unix)
        for key in (SCHEME_ROOT, MACHINE_SCHEME_ROOT):
            winerun.wine_command(["reg", "delete", key, "/f"])

    def install(self, msi, *args, expect=SUCCESS):
        log = os.path.join(self.folder.name, f"install-{time.monotonic_ns()}.log")
        code = msiexec("/i", winerun.windows_path(msi), "/qn", "/l*v", winerun.windows_path(log), *args)
        if code != expect:
            written = ""
            if os.path.exists(log):
                with open(log, encoding="utf-8", errors="replace") as handle:
                    written = handle.read()[-4000:]
            self.fail(f"msiexec gave {code}, not {expect}:\n{written}")

    def uninstall(self, *args):
        self.assertEqual(msiexec("/x", winerun.windows_path(MSI), "/qn", *args), SUCCESS)

    def exists(self, windows_path):
        return os.path.lexists(prefix_path(windows_path))

    def installed_version(self):
        entries = msi_entries()
        self.assertLessEqual(len(entries), 1, "two versions installed side by side")
        return next(iter(entries.values()))["DisplayVersion"] if entries else None

    def assert_nothing_installed(self):
        for path in (PROGRAM_DIR, *self.links):
            self.assertFalse(self.exists(path), path)
        self.assertEqual(msi_entries(), {})
        self.assertIsNone(reg_values(MACHINE_SCHEME_ROOT))

    def test_silent_install_a_link_for_an_account_that_never_ran_it_and_uninstall_that_keeps_the_data(self):
        if SIGNING_ROOT:
            verified = subprocess.run(["osslsigncode", "verify", "-CAfile", SIGNING_ROOT, "-in", MSI],
                                      capture_output=True, text=True)
            self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
        self.assertEqual(os.path.basename(MSI), f"MiravellSetup-{VERSION}.msi")
        self.install(MSI)

        self.assertTrue(filecmp.cmp(prefix_path(PROGRAM), os.path.join(winerun.bin_dir(), "Miravell.exe"), False))
        self.assertTrue(self.exists(HELPER))
        self.assertTrue(any(self.exists(link) for link in self.links), "no Start-menu shortcut")
        (entry,) = msi_entries().values()
        self.assertEqual({name: entry.get(name) for name in ("DisplayVersion", "Publisher", "NoModify", "NoRepair")},
                         {"DisplayVersion": VERSION, "Publisher": "Miravell Learning", "NoModify": 1, "NoRepair": 1})
        self.assertRegex(entry["UninstallString"], r"(?i)^msiexec\.exe /x\{")
        self.assertEqual({key: reg_values(key) for key in MACHINE_SCHEME_VALUES}, MACHINE_SCHEME_VALUES)
        self.assertTrue(self.exists(MACHINE_DATA), "the data folder is made at install")

        # A student who never started the player: only the machine's
        # registration can lead the shell's association to it (Wine's
        # classes root shows HKLM's classes where HKCU has none).
        self.assertIsNone(reg_values(SCHEME_ROOT))
        session = scripted.Session(tempfile.mkdtemp(dir=self.folder.name))
        self.program = winerun.start_program("C:\\windows\\system32\\rundll32.exe",
                                             ["url.dll,FileProtocolHandler", make_link("tok-42", "lesson-7")],
                                             env=session.env)
        uidriver.wait_window(cls=PLAYER_CLASS)
        session.wait_call("view", "Navigate")
        uidriver.close(cls=PLAYER_CLASS)
        image = os.path.realpath(prefix_path(PROGRAM))
        wait_until(lambda: not image_mapped(image), "the player closed", timeout=60)
        # An elevated player keeps its data in the machine's folder only when
        # administrators alone may change it; else in the user's.
        self.assertFalse(self.exists(self.user_data), "the player refused the data folder the package made")

        self.uninstall()
        self.assert_nothing_installed()
        self.assertIsNone(reg_values(SCHEME_ROOT), "the player's own registration for its user stays")
        self.assertTrue(self.exists(MACHINE_DATA), "lesson data stays unless asked")

    def test_upgrade_over_an_open_older_package_then_purge_past_a_planted_link(self):
        self.install(OLDER_MSI)
        self.assertEqual(self.installed_version(), OLDER_VERSION)

        session = scripted.Session(tempfile.mkdtemp(dir=self.folder.name))
        self.program = winerun.start_program(PROGRAM, [], env=session.env)
        uidriver.wait_window(cls=INIT_CLASS)
        session.wait_call("view", "Navigate")

        self.install(MSI)
        result = self.program.finish(30)
        self.assertFalse(result.timed_out, "the upgrade left the old player running")
        self.assertEqual(result.exit_code, 0, "a player that can close is asked to, not ended")
        self.assertEqual(self.installed_version(), VERSION)
        self.assertTrue(filecmp.cmp(prefix_path(PROGRAM), os.path.join(winerun.bin_dir(), "Miravell.exe"), False))
        self.assertEqual({key: reg_values(key) for key in MACHINE_SCHEME_VALUES}, MACHINE_SCHEME_VALUES)

        # Data in both places the program may keep it, and a link inside
        # the machine's: the removal runs as the system account.
        victim = tempfile.mkdtemp(dir=self.folder.name)
        with open(os.path.join(victim, "keep.txt"), "w", encoding="ascii") as handle:
            handle.write("keep")
        os.symlink(victim, os.path.join(prefix_path(MACHINE_DATA), "WebView2Data"))
        with open(os.path.join(prefix_path(MACHINE_DATA), "profile.txt"), "w", encoding="ascii") as handle:
            handle.write("sign-in")
        os.makedirs(os.path.join(prefix_path(self.user_data), "cache"))
        self.uninstall("PURGE=1")
        self.assert_nothing_installed()
        self.assertFalse(self.exists(self.user_data))
        self.assertEqual(os.listdir(victim), ["keep.txt"])
        # Wine cannot remove a Unix link as a link, so there it stays, alone;
        # Windows removes the junction, then the folder.
        left = os.listdir(prefix_path(MACHINE_DATA)) if self.exists(MACHINE_DATA) else []
        self.assertLessEqual(set(left), {"WebView2Data"})

    def test_exit_codes(self):
        """What msiexec tells a deployment tool, in order on one machine. A
        cancel (1602) needs a person on the progress dialog, which a silent
        run has not."""
        target = prefix_path(PROGRAM_DIR)

        def file_in_the_way():
            # A file where the program folder goes (the bed runs as root,
            # which no mode keeps out).
            with open(target, "w", encoding="ascii") as handle:
                handle.write("in the way")

        steps = (
            ("the program folder cannot be made", file_in_the_way, MSI, FAILED, None),
            ("installs", lambda: os.remove(target), MSI, SUCCESS, VERSION),
            ("a newer version is installed", None, OLDER_MSI, FAILED, VERSION),
        )
        for what, before, msi, code, version in steps:
            with self.subTest(what):
                if before:
                    before()
                self.install(msi, expect=code)
                self.assertEqual(self.installed_version(), version)
                if version is None:
                    self.assertIsNone(reg_values(MACHINE_SCHEME_ROOT), "a failed install was not rolled back")


if __name__ == "__main__":
    unittest.main()
