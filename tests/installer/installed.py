"""What both of the player's packages leave on a machine, how their tests read
it under Wine, and the checks of the rules both packages must honour."""
import filecmp
import os
import re
import shutil
import subprocess
import tempfile
import time

import uidriver
import winerun
from programs import INIT_CLASS
from servicestarts import ServiceStartTest

VERSION = os.environ.get("MIRAVELL_VERSION", "")
OLDER_VERSION = os.environ.get("MIRAVELL_OLDER_VERSION", "")
# Set when the build signs with the test chain (tests/signing).
SIGNING_ROOT = os.environ.get("MIRAVELL_SIGNING_ROOT", "")

PROGRAM_DIR = "C:\\Program Files\\Miravell"
PROGRAM = PROGRAM_DIR + "\\Miravell.exe"
SCHEME_ROOT = r"HKCU\Software\Classes\miravell"
MACHINE_SCHEME_ROOT = r"HKLM\Software\Classes\miravell"
START_MENU_LINK = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Miravell.lnk"
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
NO_SCHEME = dict.fromkeys(SCHEME_VALUES)

_VALUE = re.compile(r"^    (.*?)    (REG_\w+)    ?(.*)$")
_HIVES = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER"}


def reg_values(key):
    """The values of one key as {name: data}, None when the key is missing."""
    code, out = winerun.wine_command(["reg", "query", key])
    if code != 0:
        return None
    hive, _, rest = key.partition("\\")
    values = {}
    for line in out.splitlines():
        if line.startswith("HKEY_"):
            if values or line.rstrip().lower() != (_HIVES[hive] + "\\" + rest).lower():
                break  # the first subkey: its values are not this key's
            continue
        match = _VALUE.match(line.rstrip("\r\n"))
        if match:
            name, kind, data = match.groups()
            values[name] = int(data, 16) if kind == "REG_DWORD" else data
    return values


def prefix_path(windows_path):
    """The Unix path of a file of the prefix, letter case as Wine made it."""
    path = os.path.join(os.environ.get("MIRAVELL_WINEPREFIX", os.path.join(os.environ["MIRAVELL_TESTBED"], "prefix")),
                        "drive_c")
    for part in windows_path[3:].split("\\"):
        names = os.listdir(path) if os.path.isdir(path) else []
        found = [n for n in names if n.lower() == part.lower()]
        path = os.path.join(path, found[0] if found else part)
    return path


def wait_until(condition, what, timeout=90):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"not {what} after {timeout} s")
        time.sleep(0.5)


def image_mapped(unix_path):
    """Whether a process has the file mapped as its image (Wine maps a
    program's file once it runs it; the file is then in use for Windows)."""
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{entry}/maps", encoding="utf-8", errors="replace") as handle:
                if any(line.rstrip("\n").endswith(unix_path) for line in handle):
                    return True
        except OSError:
            continue
    return False


def write(path, text):
    with open(path, "w", encoding="ascii") as handle:
        handle.write(text)


class PackageTest(ServiceStartTest):
    """A machine without the player before and after each test. A package's
    tests say which shortcuts it makes (links), which scheme keys it leaves
    (installed_scheme), and define install(package, *args, expect) and
    installed_version()."""
    links = ()
    installed_scheme = SCHEME_VALUES

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        code, out = winerun.wine_command(["cmd", "/c", "echo", "%USERNAME%"])
        assert code == 0, out
        cls.user = out.strip()
        cls.user_data = USER_DATA.format(cls.user)

    def setUp(self):
        super().setUp()
        self.remove_everything()

    def tearDown(self):
        super().tearDown()
        self.remove_everything()

    def remove_everything(self):
        """A machine without the player, whatever an earlier run left."""
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

    def exists(self, windows_path):
        return os.path.lexists(prefix_path(windows_path))

    def scheme_values(self):
        return {key: reg_values(key) for key in SCHEME_VALUES}

    def assert_signed(self, path):
        if SIGNING_ROOT:
            verified = subprocess.run(["osslsigncode", "verify", "-CAfile", SIGNING_ROOT, "-in", path],
                                      capture_output=True, text=True)
            self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)

    def assert_the_build_installed(self):
        self.assertTrue(filecmp.cmp(prefix_path(PROGRAM), os.path.join(winerun.bin_dir(), "Miravell.exe"), False))

    def open_player(self, window, program=PROGRAM, *args):
        """Starts a program on a session of its own; returns once the player's page loads."""
        session = self.new_session()
        self.program = winerun.start_program(program, list(args), env=session.env)
        uidriver.wait_window(cls=window)
        session.wait_call("view", "Navigate")

    def assert_an_upgrade_closes_the_open_player(self, older, newer, *args):
        self.install(older, *args)
        self.assertEqual(self.installed_version(), OLDER_VERSION)
        self.open_player(INIT_CLASS)
        self.install(newer, *args)
        result = self.program.finish(30)
        self.assertFalse(result.timed_out, "the upgrade left the old player running")
        self.assertEqual(result.exit_code, 0, "a player that can close is asked to, not ended")
        self.assertEqual(self.installed_version(), VERSION)
        self.assert_the_build_installed()
        self.assertEqual(self.scheme_values(), self.installed_scheme)

    def assert_a_blocked_install_fails(self, package, code):
        """code: what the package tells a deployment tool; nothing may stay."""
        # A file where the program folder goes (the bed runs as root, which
        # no mode keeps out).
        write(prefix_path(PROGRAM_DIR), "in the way")
        self.install(package, expect=code)
        self.assertIsNone(self.installed_version())
        self.assertEqual(self.scheme_values(), NO_SCHEME, "a failed install was not rolled back")

    def assert_removed(self):
        for path in (PROGRAM_DIR, *self.links):
            self.assertFalse(self.exists(path), path)
        self.assertIsNone(self.installed_version())
        self.assertEqual(self.scheme_values(), NO_SCHEME)

    def plant_link(self, planted):
        """A link at planted to a folder any user may write to; returns the folder."""
        victim = tempfile.mkdtemp(dir=self.folder.name)
        os.chmod(victim, 0o777)
        write(os.path.join(victim, "keep.txt"), "keep")
        os.makedirs(os.path.dirname(planted), exist_ok=True)
        os.symlink(victim, planted)
        return victim

    def assert_untouched(self, victim):
        self.assertEqual(os.listdir(victim), ["keep.txt"], victim)
        self.assertEqual(os.stat(victim).st_mode & 0o777, 0o777, "no entries were set through the link")
