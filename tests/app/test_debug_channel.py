"""The step log as an outside observer sees it: Wine's debug channel."""
import unittest

import winerun


class DebugChannelTest(unittest.TestCase):
    def test_each_log_line_is_two_outputs_the_text_then_a_line_feed(self):
        result = winerun.run_program("log_probe.exe", ["Step 9: hasSchemeArgs=1", "ثانية"])
        self.assertEqual(result.exit_code, 7, result.stderr)
        self.assertEqual(result.debug_outputs, ["Step 9: hasSchemeArgs=1", "\n",
                                                "ثانية", "\n"])
        self.assertEqual(result.debug_lines, ["Step 9: hasSchemeArgs=1", "ثانية"])

    def test_a_program_that_logs_nothing_shows_no_lines(self):
        result = winerun.run_program("log_probe.exe", [])
        self.assertEqual(result.exit_code, 7)
        self.assertEqual(result.debug_outputs, [])


if __name__ == "__main__":
    unittest.main()
