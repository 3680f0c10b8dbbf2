"""The MSI package under Wine, the way deployment tools run it: msiexec,
silent, as an administrator. A lesson link for an account that never ran the
player, an upgrade over an older package while the player is open, what each
kind of removal leaves, and msiexec's exit codes."""
import os
import re
import time
import unittest

import uidriver
import winerun
from installed import (MACHINE_DATA, PROGRAM, PROGRAM_DIR, SCHEME_VALUES, START_MENU_LINK, VERSION, PackageTest,
                       image_mapped, prefix_path, reg_values, wait_until, write)
from programs import PLAYER_CLASS, make_link

MSI = os.environ.get("MIRAVELL_MSI", "")
OLDER_MSI = os.environ.get("MIRAVELL_OLDER_MSI", "")

HELPER = PROGRAM_DIR + "\\MiravellSetupHelper.exe"
UNINSTALL_ROOT = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
# Windows puts a per-machine package's shortcut in the all-users menu; Wine
# resolves the menu folder before it reads ALLUSERS, so there it lands in the
# installing user's.
USER_START_MENU_LINK = "C:\\users\\{}\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Miravell.lnk"

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
class MsiTest(PackageTest):
    # The package registers the scheme for the machine only.
    installed_scheme = {key: values if key.startswith("HKLM") else None for key, values in SCHEME_VALUES.items()}

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.links = (START_MENU_LINK, USER_START_MENU_LINK.format(cls.user))

    def remove_everything(self):
        # The packages Windows Installer knows go the way they came.
        for code in msi_entries():
            msiexec("/x", code, "/qn")
        super().remove_everything()

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
        self.assert_removed()

    def installed_version(self):
        entries = msi_entries()
        self.assertLessEqual(len(entries), 1, "two versions installed side by side")
        return next(iter(entries.values()))["DisplayVersion"] if entries else None

    def test_silent_install_a_link_for_an_account_that_never_ran_it_and_uninstall_that_keeps_the_data(self):
        self.assert_signed(MSI)
        self.assertEqual(os.path.basename(MSI), f"MiravellSetup-{VERSION}.msi")
        self.install(MSI)

        self.assert_the_build_installed()
        self.assertTrue(self.exists(HELPER))
        self.assertTrue(any(self.exists(link) for link in self.links), "no Start-menu shortcut")
        (entry,) = msi_entries().values()
        self.assertEqual({name: entry.get(name) for name in ("DisplayVersion", "Publisher", "NoModify", "NoRepair")},
                         {"DisplayVersion": VERSION, "Publisher": "Miravell Learning", "NoModify": 1, "NoRepair": 1})
        self.assertRegex(entry["UninstallString"], r"(?i)^msiexec\.exe /x\{")
        self.assertEqual(self.scheme_values(), self.installed_scheme)
        self.assertTrue(self.exists(MACHINE_DATA), "the data folder is made at install")

        # A student who never started the player: only the machine's
        # registration can lead the shell's association to it (Wine's
        # classes root shows HKLM's classes where HKCU has none).
        self.open_player(PLAYER_CLASS, "C:\\windows\\system32\\rundll32.exe", "url.dll,FileProtocolHandler",
                         make_link("tok-42", "lesson-7"))
        uidriver.close(cls=PLAYER_CLASS)
        image = os.path.realpath(prefix_path(PROGRAM))
        wait_until(lambda: not image_mapped(image), "the player closed", timeout=60)
        # An elevated player keeps its data in the machine's folder only when
        # administrators alone may change it; else in the user's.
        self.assertFalse(self.exists(self.user_data), "the player refused the data folder the package made")

        # Whatever the player registered for its user goes too.
        self.uninstall()
        self.assertTrue(self.exists(MACHINE_DATA), "lesson data stays unless asked")

    def test_upgrade_over_an_open_older_package_then_purge_past_a_planted_link(self):
        self.assert_an_upgrade_closes_the_open_player(OLDER_MSI, MSI)

        # Data in both places the program may keep it, and a link inside
        # the machine's: the removal runs as the system account.
        victim = self.plant_link(os.path.join(prefix_path(MACHINE_DATA), "WebView2Data"))
        write(os.path.join(prefix_path(MACHINE_DATA), "profile.txt"), "sign-in")
        os.makedirs(os.path.join(prefix_path(self.user_data), "cache"))
        self.uninstall("PURGE=1")
        self.assertFalse(self.exists(self.user_data))
        self.assert_untouched(victim)
        # Wine cannot remove a Unix link as a link, so there it stays, alone;
        # Windows removes the junction, then the folder.
        left = os.listdir(prefix_path(MACHINE_DATA)) if self.exists(MACHINE_DATA) else []
        self.assertLessEqual(set(left), {"WebView2Data"})

    def test_exit_codes(self):
        """What msiexec tells a deployment tool, in order on one machine. A
        cancel (1602) needs a person on the progress dialog, which a silent
        run has not."""
        with self.subTest("the program folder cannot be made"):
            self.assert_a_blocked_install_fails(MSI, FAILED)
        os.remove(prefix_path(PROGRAM_DIR))
        for what, msi, code in (("installs", MSI, SUCCESS), ("a newer version is installed", OLDER_MSI, FAILED)):
            with self.subTest(what):
                self.install(msi, expect=code)
                self.assertEqual(self.installed_version(), VERSION)


if __name__ == "__main__":
    unittest.main()
