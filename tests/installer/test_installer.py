"""The per-machine installer under Wine, the way school IT runs it: silent
installs, the installed program on a lesson link, an upgrade over an older
build while the player is open, and what each kind of uninstall leaves."""
import filecmp
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

import uidriver
import winerun
from programs import INIT_CLASS, PLAYER_CLASS, expected_steps, make_link, step_lines
from servicestarts import ServiceStartTest

VERSION = os.environ.get("MIRAVELL_VERSION", "")
INSTALLER = os.environ.get("MIRAVELL_INSTALLER", "")
OLDER_VERSION = os.environ.get("MIRAVELL_OLDER_VERSION", "")
OLDER_INSTALLER = os.environ.get("MIRAVELL_OLDER_INSTALLER", "")
# Set when the build signs with the test chain (tests/signing).
SIGNING_ROOT = os.environ.get("MIRAVELL_SIGNING_ROOT", "")

PROGRAM_DIR = "C:\\Program Files\\Miravell"
PROGRAM = PROGRAM_DIR + "\\Miravell.exe"
UNINSTALLER = PROGRAM_DIR + "\\Uninstall.exe"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Miravell"
SCHEME_ROOT = r"HKCU\Software\Classes\miravell"
MACHINE_SCHEME_ROOT = r"HKLM\Software\Classes\miravell"
START_MENU_LINK = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Miravell.lnk"
DESKTOP_LINK = "C:\\users\\Public\\Desktop\\Miravell.lnk"
MACHINE_DATA = "C:\\ProgramData\\Miravell"
USER_DATA = "C:\\users\\{}\\AppData\\Local\\Miravell"

# What the program itself writes for the current user (app/ProtocolRegistration.cpp),
# and the installers for every account of the machine.
SCHEME_VALUES = {
    root + key: values for root in (SCHEME_ROOT, MACHINE_SCHEME_ROOT) for key, values in (
        ("", {"(Default)": "Quella Desktop Player", "URL Protocol": ""}),
        (r"\DefaultIcon", {"(Default)": PROGRAM + ",1"}),
        (r"\shell\open\command", {"(Default)": f'"{PROGRAM}" "%1"'}))
}

_VALUE = re.compile(r"^    (.*?)    (REG_\w+)    ?(.*)$")


def reg_values(key):
    """The values of one key as {name: data}, None when the key is missing."""
    code, out = winerun.wine_command(["reg", "query", key])
    if code != 0:
        return None
    values = {}
    for line in out.splitlines():
        if line.startswith("HKEY_"):
            if values or line.rstrip().lower() != winerun_key_name(key).lower():
                break  # the first subkey: its values are not this key's
            continue
        match = _VALUE.match(line.rstrip("\r\n"))
        if match:
            name, kind, data = match.groups()
            values[name] = int(data, 16) if kind == "REG_DWORD" else data
    return values


def winerun_key_name(key):
    hive, _, rest = key.partition("\\")
    return {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER"}[hive] + "\\" + rest


def prefix_path(windows_path):
    """The Unix path of a file of the prefix, letter case as Wine made it."""
    path = os.path.join(os.environ.get("MIRAVELL_WINEPREFIX", os.path.join(os.environ["MIRAVELL_TESTBED"], "prefix")),
                        "drive_c")
    for part in windows_path[3:].split("\\"):
        names = os.listdir(path) if os.path.isdir(path) else []
        found = [n for n in names if n.lower() == part.lower()]
        path = os.path.join(path, found[0] if found else part)
    return path


def wine_user():
    code, out = winerun.wine_command(["cmd", "/c", "echo", "%USERNAME%"])
    assert code == 0, out
    return out.strip()


def wait_until(condition, what, timeout=90):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"not {what} after {timeout} s")
        time.sleep(0.5)


@unittest.skipUnless(INSTALLER, "the build made no installer (makensis missing)")
class InstallerTest(ServiceStartTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.user_data = USER_DATA.format(wine_user())

    def setUp(self):
        super().setUp()
        self.remove_everything()

    def tearDown(self):
        super().tearDown()
        self.remove_everything()

    def remove_everything(self):
        """A machine without the player, whatever an earlier run left."""
        for path in (PROGRAM_DIR, START_MENU_LINK, DESKTOP_LINK, MACHINE_DATA, self.user_data):
            unix = prefix_path(path)
            if os.path.islink(unix):
                os.remove(unix)
            elif os.path.isdir(unix):
                shutil.rmtree(unix)
            elif os.path.exists(unix):
                os.remove(unix)
        for key in (UNINSTALL_KEY, SCHEME_ROOT, MACHINE_SCHEME_ROOT):
            winerun.wine_command(["reg", "delete", key, "/f"])

    def install(self, installer, *args):
        result = winerun.run_program(installer, ["/S", *args], timeout=120)
        self.assertEqual(result.exit_code, 0, result.stderr[-2000:])

    def uninstall(self, *args):
        """Runs the quiet uninstall command that Add/Remove Programs holds. The
        uninstaller hands over to a copy of itself and returns at once, so the
        end is when its entry and its folder are gone."""
        command = reg_values(UNINSTALL_KEY)["QuietUninstallString"]
        program, rest = re.match(r'^"([^"]+)"\s*(.*)$', command).groups()
        result = winerun.run_program(program, [*rest.split(), *args], timeout=120)
        self.assertEqual(result.exit_code, 0, result.stderr[-2000:])
        wait_until(lambda: reg_values(UNINSTALL_KEY) is None and not os.path.exists(prefix_path(PROGRAM_DIR)),
                   "uninstalled")

    def exists(self, windows_path):
        return os.path.exists(prefix_path(windows_path))

    def scheme_values(self):
        return {key: reg_values(key) for key in SCHEME_VALUES}

    def test_installer_declares_dpi_awareness_and_its_version_in_its_name(self):
        self.assertEqual(os.path.basename(INSTALLER), f"MiravellSetup-{VERSION}.exe")
        with open(INSTALLER, "rb") as handle:
            manifest = re.search(rb"<assembly.*?</assembly>", handle.read(), re.S)
        self.assertIsNotNone(manifest)
        self.assertRegex(manifest.group(0), rb"<dpiAware[^>]*>true</dpiAware>")
        self.assertIn(b'level="requireAdministrator"', manifest.group(0))

    def test_silent_install_link_start_and_uninstall_that_keeps_the_data(self):
        self.install(INSTALLER)

        self.assertTrue(filecmp.cmp(prefix_path(PROGRAM), os.path.join(winerun.bin_dir(), "Miravell.exe"), False))
        for path in (UNINSTALLER, START_MENU_LINK, DESKTOP_LINK):
            self.assertTrue(self.exists(path), path)
        if SIGNING_ROOT:
            # Written on the machine from the copy inside the installer.
            verified = subprocess.run(["osslsigncode", "verify", "-CAfile", SIGNING_ROOT, prefix_path(UNINSTALLER)],
                                      capture_output=True, text=True)
            self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
        entry = reg_values(UNINSTALL_KEY)
        size = sum(os.path.getsize(prefix_path(p)) for p in (PROGRAM, UNINSTALLER)) // 1024
        self.assertLessEqual(abs(entry.pop("EstimatedSize") - size), 2)
        self.assertEqual(entry, {
            "DisplayName": "Miravell",
            "DisplayVersion": VERSION,
            "Publisher": "Miravell Learning",
            "DisplayIcon": PROGRAM + ",0",
            "InstallLocation": PROGRAM_DIR,
            "UninstallString": f'"{UNINSTALLER}"',
            "QuietUninstallString": f'"{UNINSTALLER}" /S',
            "NoModify": 1,
            "NoRepair": 1,
        })
        self.assertEqual(self.scheme_values(), SCHEME_VALUES)

        # The installed program on a lesson link; its own registration at
        # start must find nothing to change.
        session = self.new_session()
        self.program = winerun.start_program(PROGRAM, [make_link("tok-42", "lesson-7")], env=session.env)
        uidriver.wait_window(cls=PLAYER_CLASS)
        session.wait_call("view", "Navigate")
        uidriver.close(cls=PLAYER_CLASS)
        result = self.program.finish(60)
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(step_lines(result), expected_steps(True))
        self.assertEqual(self.scheme_values(), SCHEME_VALUES)
        self.assertTrue(self.exists(MACHINE_DATA), "the program made its data folder")

        self.uninstall()
        for path in (PROGRAM_DIR, START_MENU_LINK, DESKTOP_LINK):
            self.assertFalse(self.exists(path), path)
        self.assertEqual(self.scheme_values(), dict.fromkeys(SCHEME_VALUES))
        self.assertTrue(self.exists(MACHINE_DATA), "lesson data stays unless asked")

    def test_upgrade_over_an_open_older_build_then_purge(self):
        self.install(OLDER_INSTALLER, "/NODESKTOP")
        self.assertEqual(reg_values(UNINSTALL_KEY)["DisplayVersion"], OLDER_VERSION)

        session = self.new_session()
        self.program = winerun.start_program(PROGRAM, [], env=session.env)
        uidriver.wait_window(cls=INIT_CLASS)
        session.wait_call("view", "Navigate")

        self.install(INSTALLER, "/NODESKTOP")
        result = self.program.finish(30)
        self.assertFalse(result.timed_out, "the installer left the old player running")
        self.assertEqual(result.exit_code, 0, "a player that can close is asked to, not ended")
        entry = reg_values(UNINSTALL_KEY)
        self.assertEqual((entry["DisplayVersion"], entry["InstallLocation"]), (VERSION, PROGRAM_DIR))
        self.assertTrue(filecmp.cmp(prefix_path(PROGRAM), os.path.join(winerun.bin_dir(), "Miravell.exe"), False))
        self.assertTrue(self.exists(START_MENU_LINK))
        self.assertFalse(self.exists(DESKTOP_LINK), "/NODESKTOP")
        self.assertEqual(self.scheme_values(), SCHEME_VALUES)

        # Data in both places the program may keep it.
        self.assertTrue(self.exists(MACHINE_DATA))
        os.makedirs(prefix_path(self.user_data), exist_ok=True)
        with open(os.path.join(prefix_path(self.user_data), "profile.txt"), "w", encoding="ascii") as handle:
            handle.write("sign-in")
        self.uninstall("/PURGE")
        for path in (PROGRAM_DIR, START_MENU_LINK, MACHINE_DATA, self.user_data):
            self.assertFalse(self.exists(path), path)
        self.assertIsNone(reg_values(SCHEME_ROOT))
        self.assertIsNone(reg_values(MACHINE_SCHEME_ROOT))

    def test_a_failed_silent_install_says_so_and_leaves_nothing(self):
        """What the installer tells a deployment tool: 0 done (every other
        test), 2 failed. A silent run is never cancelled (1 needs a person)."""
        target = prefix_path(PROGRAM_DIR)
        # A file where the program folder goes (the bed runs as root, which
        # no mode keeps out).
        with open(target, "w", encoding="ascii") as handle:
            handle.write("in the way")
        result = winerun.run_program(INSTALLER, ["/S"], timeout=120)
        self.assertEqual(result.exit_code, 2, result.stderr[-2000:])
        self.assertIsNone(reg_values(UNINSTALL_KEY))
        self.assertEqual(self.scheme_values(), dict.fromkeys(SCHEME_VALUES))

    def test_install_and_purge_never_act_through_a_planted_link(self):
        """Any user may create folders in the machine's data folder, and owns
        the user data folder: links planted as either folder or inside one
        lead the elevated installer and uninstaller nowhere. (Wine shows a
        Unix symlink as a reparse point but cannot remove it as a link, so
        here the links stay; Windows replaces the machine's one.)"""
        victims = []
        for planted in (prefix_path(MACHINE_DATA), os.path.join(prefix_path(self.user_data), "WebView2Data")):
            victim = tempfile.mkdtemp(dir=self.folder.name)
            os.chmod(victim, 0o777)
            with open(os.path.join(victim, "keep.txt"), "w", encoding="ascii") as handle:
                handle.write("keep")
            os.makedirs(os.path.dirname(planted), exist_ok=True)
            os.symlink(victim, planted)
            victims.append(victim)
        self.install(INSTALLER, "/NODESKTOP")
        self.uninstall("/PURGE")
        for victim in victims:
            self.assertEqual(os.listdir(victim), ["keep.txt"], victim)
            self.assertEqual(os.stat(victim).st_mode & 0o777, 0o777, "no entries were set through the link")

    def test_a_silent_upgrade_ends_a_player_that_does_not_close(self):
        self.install(OLDER_INSTALLER, "/NODESKTOP")
        # A player stuck with no window to close: a program that only sleeps,
        # under the installed name, so it holds the file the upgrade replaces.
        shutil.copyfile(os.path.join(winerun.bin_dir(), "sleeper.exe"), prefix_path(PROGRAM))
        stuck = winerun.start_program(PROGRAM, ["300"])
        image = os.path.realpath(prefix_path(PROGRAM))
        wait_until(lambda: image_mapped(image), "the stand-in running from the installed file", timeout=60)

        started = time.monotonic()
        self.install(INSTALLER, "/NODESKTOP")
        waited = time.monotonic() - started
        result = stuck.finish(30)
        self.assertFalse(result.timed_out, "the silent upgrade left the stuck player running")
        # It gives the player 15 s to let go of its file before ending it. (Wine's
        # taskkill ends a process with exit code 0, so the code cannot tell.)
        self.assertGreaterEqual(waited, 14, "ended without the grace a closing player gets")
        self.assertEqual(reg_values(UNINSTALL_KEY)["DisplayVersion"], VERSION)
        self.assertTrue(filecmp.cmp(prefix_path(PROGRAM), os.path.join(winerun.bin_dir(), "Miravell.exe"), False))


def image_mapped(unix_path):
    """Whether a process has the file mapped as its image (Wine maps a
    program's file once it runs it; the file is then in use for Windows)."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/maps", encoding="utf-8", errors="replace") as handle:
                if any(line.rstrip("\n").endswith(unix_path) for line in handle):
                    return True
        except OSError:
            continue
    return False


if __name__ == "__main__":
    unittest.main()
