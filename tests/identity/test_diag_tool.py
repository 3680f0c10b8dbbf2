"""miravell-diag as support staff use it: codes it or the player makes decode
to the record, and texts that are not codes get a clear error."""
import base64
import datetime
import re
import unittest

import winerun

KEY = b"QRTOLK-NEBRAVIS#"
UUID = re.compile(r"^\{?[0-9A-Fa-f]{8}(-[0-9A-Fa-f]{4}){3}-[0-9A-Fa-f]{12}\}?$")


def scramble(record):
    data = record.encode()
    return base64.b64encode(bytes(b ^ KEY[i % 16] for i, b in enumerate(data))).decode()


def diag(*args):
    return winerun.run_program("miravell-diag.exe", list(args))


def fields(stdout):
    return dict(line.split(": ", 1) for line in stdout.splitlines())


class DiagToolTest(unittest.TestCase):
    def test_a_made_code_decodes_to_now_this_machine_and_the_reason(self):
        reason = "exception_MAC verification failed \u2014 data|may|be tampered"
        before = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
        made = diag("make", reason)
        after = datetime.datetime.now(datetime.timezone.utc)
        self.assertEqual(made.exit_code, 0, made.stderr)
        code = made.stdout.strip()
        self.assertRegex(code, r"^[A-Za-z0-9+/]+={0,2}$")

        decoded = diag("decode", code)
        self.assertEqual(decoded.exit_code, 0, decoded.stderr)
        record = fields(decoded.stdout)
        self.assertEqual(record["reason"], reason)
        when = datetime.datetime.strptime(record["time"].split(" UTC")[0], "%Y-%m-%d %H:%M:%S")
        when = when.replace(tzinfo=datetime.timezone.utc)
        self.assertTrue(before - datetime.timedelta(seconds=1) <= when <= after, (before, when, after))
        if record["machine key"]:
            self.assertRegex(base64.b64decode(record["machine key"]).decode(), UUID)
            self.assertRegex(record["machine id"], UUID)

    def test_codes_scrambled_elsewhere_decode_with_a_utc_time(self):
        cases = [
            ("ERRDIAG|v1|ts=0|mk=|reason=split_failed_parts_2|END",
             {"time": "1970-01-01 00:00:00 UTC (ts=0)", "machine key": "", "reason": "split_failed_parts_2"}),
            ("ERRDIAG|v1|ts=1700000000|mk=QUJDLTEyMw==|reason=a|b|END",
             {"time": "2023-11-14 22:13:20 UTC (ts=1700000000)", "machine key": "QUJDLTEyMw==",
              "machine id": "ABC-123", "reason": "a|b"}),
            ("ERRDIAG|v1|ts=0|mk=|reason=INTEGRITY_CODE|END",
             {"time": "1970-01-01 00:00:00 UTC (ts=0)", "machine key": "", "reason": "INTEGRITY_CODE",
              "meaning": "the player's code was changed in memory while it ran (a cheat or injected program); the "
                         "student should close other programs, scan the computer for malware and try again"}),
        ]
        for record, expected in cases:
            with self.subTest(record=record):
                result = diag("decode", scramble(record))
                self.assertEqual(result.exit_code, 0, result.stderr)
                self.assertEqual(fields(result.stdout), expected)

    def test_a_text_that_is_not_a_code_is_refused_clearly(self):
        result = diag("decode", scramble("ERRDIAG|v1|ts=1|mk=|reason=x"))
        self.assertEqual((result.exit_code, result.stdout), (1, ""))
        self.assertIn("not a diagnostic code", result.stderr)


if __name__ == "__main__":
    unittest.main()
