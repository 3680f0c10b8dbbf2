"""The player's integrity checks in the real exe: a debugger that starts it or
attaches to it, a changed or re-signed copy of it, a byte written into its
running code. Each ends in the alert with a code support staff decode; a
clean signed start shows none and says what it checked."""
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
from programs import ALERT_CLASS, INIT_CLASS, ScriptedStartTest

CERTS = os.path.join(os.path.dirname(__file__), "..", "..", "testbed", "mock-service", "certs")
# The padding after the lone "ret" that opens the code of a mingw program:
# never run, so changing it cannot crash the player before it notices.
UNUSED_CODE_OFFSET = "1"


class IntegrityTest(ScriptedStartTest):
    def start_any(self, program, args=()):
        """A program that starts the player (or the player itself) on a scripted session of its own."""
        session = scripted.Session(tempfile.mkdtemp(dir=self.folder.name), commands=False)
        self.program = winerun.start_program(program, list(args), env=session.env)
        return self.program

    def copy_of_player(self):
        folder = tempfile.mkdtemp(dir=self.folder.name)
        path = os.path.join(folder, "Miravell.exe")
        shutil.copy(winerun.program_path("Miravell.exe"), path)
        return path

    def expect_alert(self, program, reason, player_pid=None):
        window = uidriver.wait_window(cls=ALERT_CLASS, timeout_ms=30000)
        if player_pid is not None:
            self.assertEqual(window["pid"], player_pid)
        code = uidriver.clipboard()
        uidriver.close(cls=ALERT_CLASS)
        result = program.finish(60)
        self.assertEqual(result.exit_code, 1, result.stderr[-2000:])
        decoded = winerun.run_program("miravell-diag.exe", ["decode", code])
        self.assertEqual(decoded.exit_code, 0, decoded.stdout)
        self.assertIn("reason: " + reason + "\n", decoded.stdout.replace("\r\n", "\n"))
        return result

    def test_a_clean_signed_start_checks_everything_and_shows_no_alert(self):
        program = self.start_any("Miravell.exe")
        uidriver.wait_window(cls=INIT_CLASS, visible=True)
        time.sleep(5)  # two rounds of the guard
        self.assertEqual(uidriver.windows(cls=ALERT_CLASS), [])
        uidriver.close(cls=INIT_CLASS)
        result = program.finish(30)
        self.assertEqual(result.exit_code, 0)
        lines = [line for line in result.debug_lines if line.startswith("Integrity: ")]
        # The checks of the file run beside the start: their lines may come
        # before or after the start-up thread's.
        expected = [
            r"^Integrity: the code in memory matches the player's file \(\d+ KB\)$",
            r'^Integrity: the player\'s signature is intact \(trust 0x00000000, chain 0x[0-9A-F]{8}, '
            r'signer "Miravell Test Build Signer", key [A-Za-z0-9+/]{43}=\)$',
            r"^Integrity: the checks of the player's file took \d+\.\d ms beside the start$",
            r"^Integrity: start-up checks took \d+\.\d ms of the start$",
        ]
        for pattern in expected:
            self.assertEqual(len([line for line in lines if re.match(pattern, line)]), 1, (pattern, lines))
        beside = "Integrity: the checks of the player's file go on beside the start; they end the player if " \
                 "they find anything"
        self.assertEqual(len(lines), len(expected) + lines.count(beside), lines)

    def test_a_debugger_that_starts_the_player_ends_it_at_once(self):
        player = winerun.windows_path(winerun.program_path("Miravell.exe"))
        program = self.start_any("test_debugger.exe", ["start", player])
        result = self.expect_alert(program, "INTEGRITY_DEBUGGER")
        self.assertEqual(uidriver.windows(cls=INIT_CLASS), [], "ended before its window")
        found = [line for line in result.debug_lines if line.startswith("Integrity: a debugger is attached (")]
        self.assertEqual(len(found), 1, result.debug_lines)

    def test_what_happens_to_a_running_player_is_found_by_its_guard(self):
        cases = [
            ("a debugger attached", "test_debugger.exe", ["attach"], "INTEGRITY_DEBUGGER"),
            ("a byte written into its code", "code_patcher.exe", [], "INTEGRITY_CODE"),
        ]
        for name, tool, args, reason in cases:
            with self.subTest(name):
                player = self.start_any("Miravell.exe")
                window = uidriver.wait_window(cls=INIT_CLASS, visible=True)
                started = time.monotonic()
                extra = [UNUSED_CODE_OFFSET] if tool == "code_patcher.exe" else []
                outsider = winerun.start_program(tool, [*args, str(window["pid"]), *extra])
                self.expect_alert(player, reason, player_pid=window["pid"])
                self.assertLess(time.monotonic() - started, 20)
                outcome = outsider.finish(30)
                self.assertIn(outcome.exit_code, (0, 1), outcome.stderr)

    def test_a_changed_or_re_signed_copy_of_the_player_ends_through_the_alert(self):
        osslsigncode = shutil.which("osslsigncode")
        self.assertIsNotNone(osslsigncode, "osslsigncode is a dependency of the signed build")
        changed = self.copy_of_player()
        with open(changed, "rb") as f:
            data = f.read()
        self.assertIn(b"This program cannot", data)
        with open(changed, "wb") as f:
            f.write(data.replace(b"This program cannot", b"This Program cannot", 1))

        resigned = self.copy_of_player()
        unsigned = resigned + ".unsigned"
        subprocess.run([osslsigncode, "remove-signature", "-in", resigned, "-out", unsigned], check=True,
                       capture_output=True)
        os.remove(resigned)
        subprocess.run([osslsigncode, "sign", "-certs", os.path.join(CERTS, "codesign-other-leaf.pem"),
                        "-key", os.path.join(CERTS, "codesign-other-leaf.key"), "-h", "sha256",
                        "-in", unsigned, "-out", resigned], check=True, capture_output=True)

        for name, path, verdict in [("one byte changed", changed, "not signed, or changed after signing"),
                                    ("signed by another certificate", resigned, "signed by another key")]:
            with self.subTest(name):
                program = self.start_any(path)
                result = self.expect_alert(program, "INTEGRITY_SIGNATURE")
                found = [line for line in result.debug_lines if line.startswith("Integrity: the player's file is")]
                self.assertEqual(len(found), 1, result.debug_lines)
                self.assertIn(verdict, found[0])


if __name__ == "__main__":
    unittest.main()
