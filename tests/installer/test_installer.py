"""The per-machine installer under Wine, the way school IT runs it: silent
installs, the installed program on a lesson link, an upgrade over an older
build while the player is open, and what each kind of uninstall leaves."""
import os
import re
import shutil
import time
import unittest

import uidriver
import winerun
from installed import (MACHINE_DATA, PROGRAM, PROGRAM_DIR, SCHEME_VALUES, START_MENU_LINK, VERSION,
                       PackageTest, image_mapped, prefix_path, reg_values, wait_until, write)
from programs import PLAYER_CLASS, expected_steps, make_link, step_lines

INSTALLER = os.environ.get("MIRAVELL_INSTALLER", "")
OLDER_INSTALLER = os.environ.get("MIRAVELL_OLDER_INSTALLER", "")

UNINSTALLER = PROGRAM_DIR + "\\Uninstall.exe"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Miravell"
DESKTOP_LINK = "C:\\users\\Public\\Desktop\\Miravell.lnk"


@unittest.skipUnless(INSTALLER, "the build made no installer (makensis missing)")
class InstallerTest(PackageTest):
    links = (START_MENU_LINK, DESKTOP_LINK)

    def remove_everything(self):
        winerun.wine_command(["reg", "delete", UNINSTALL_KEY, "/f"])
        super().remove_everything()

    def install(self, installer, *args, expect=0):
        result = winerun.run_program(installer, ["/S", *args], timeout=120)
        self.assertEqual(result.exit_code, expect, result.stderr[-2000:])

    def installed_version(self):
        entry = reg_values(UNINSTALL_KEY)
        return None if entry is None else entry["DisplayVersion"]

    def uninstall(self, *args):
        """Runs the quiet uninstall command that Add/Remove Programs holds. The
        uninstaller hands over to a copy of itself and returns at once, so the
        end is when its entry and its folder are gone."""
        command = reg_values(UNINSTALL_KEY)["QuietUninstallString"]
        program, rest = re.match(r'^"([^"]+)"\s*(.*)$', command).groups()
        result = winerun.run_program(program, [*rest.split(), *args], timeout=120)
        self.assertEqual(result.exit_code, 0, result.stderr[-2000:])
        wait_until(lambda: reg_values(UNINSTALL_KEY) is None and not self.exists(PROGRAM_DIR), "uninstalled")
        self.assert_removed()

    def test_installer_declares_dpi_awareness_and_its_version_in_its_name(self):
        self.assertEqual(os.path.basename(INSTALLER), f"MiravellSetup-{VERSION}.exe")
        with open(INSTALLER, "rb") as handle:
            manifest = re.search(rb"<assembly.*?</assembly>", handle.read(), re.S)
        self.assertIsNotNone(manifest)
        self.assertRegex(manifest.group(0), rb"<dpiAware[^>]*>true</dpiAware>")
        self.assertIn(b'level="requireAdministrator"', manifest.group(0))

    def test_silent_install_link_start_and_uninstall_that_keeps_the_data(self):
        self.install(INSTALLER)

        self.assert_the_build_installed()
        for path in (UNINSTALLER, *self.links):
            self.assertTrue(self.exists(path), path)
        # Written on the machine from the copy inside the installer.
        self.assert_signed(prefix_path(UNINSTALLER))
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
        self.open_player(PLAYER_CLASS, PROGRAM, make_link("tok-42", "lesson-7"))
        uidriver.close(cls=PLAYER_CLASS)
        result = self.program.finish(60)
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(step_lines(result), expected_steps(True))
        self.assertEqual(self.scheme_values(), SCHEME_VALUES)

        self.uninstall()
        self.assertTrue(self.exists(MACHINE_DATA), "the data folder the program made stays unless asked")

    def test_upgrade_over_an_open_older_build_then_purge(self):
        self.assert_an_upgrade_closes_the_open_player(OLDER_INSTALLER, INSTALLER, "/NODESKTOP")
        self.assertTrue(self.exists(START_MENU_LINK))
        self.assertFalse(self.exists(DESKTOP_LINK), "/NODESKTOP")

        # Data in both places the program may keep it.
        self.assertTrue(self.exists(MACHINE_DATA))
        os.makedirs(prefix_path(self.user_data), exist_ok=True)
        write(os.path.join(prefix_path(self.user_data), "profile.txt"), "sign-in")
        self.uninstall("/PURGE")
        for path in (MACHINE_DATA, self.user_data):
            self.assertFalse(self.exists(path), path)

    def test_a_failed_silent_install_says_so_and_leaves_nothing(self):
        """What the installer tells a deployment tool: 0 done (every other
        test), 2 failed. A silent run is never cancelled (1 needs a person)."""
        self.assert_a_blocked_install_fails(INSTALLER, 2)

    def test_install_and_purge_never_act_through_a_planted_link(self):
        """Any user may create folders in the machine's data folder, and owns
        the user data folder: links planted as either folder or inside one
        lead the elevated installer and uninstaller nowhere. (Wine shows a
        Unix symlink as a reparse point but cannot remove it as a link, so
        here the links stay; Windows replaces the machine's one.)"""
        victims = [self.plant_link(prefix_path(MACHINE_DATA)),
                   self.plant_link(os.path.join(prefix_path(self.user_data), "WebView2Data"))]
        self.install(INSTALLER, "/NODESKTOP")
        self.uninstall("/PURGE")
        for victim in victims:
            self.assert_untouched(victim)

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
        self.assertEqual(self.installed_version(), VERSION)
        self.assert_the_build_installed()


if __name__ == "__main__":
    unittest.main()
