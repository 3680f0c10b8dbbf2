"""osslsigncode's verdict on the files the build signed (SIGNED_FILES,
separated by "|"): each holds up to the test chain's root (SIGNING_ROOT) and
to no other (OTHER_ROOT)."""
import os
import subprocess
import unittest


def verified(path, root):
    return subprocess.run(["osslsigncode", "verify", "-CAfile", root, "-in", path],
                          capture_output=True).returncode == 0


class SignedFilesTest(unittest.TestCase):
    def test_each_signed_file_holds_up_to_its_root_and_to_no_other(self):
        files = os.environ["SIGNED_FILES"].split("|")
        self.assertTrue(files)
        for path in files:
            for root, holds in ((os.environ["SIGNING_ROOT"], True), (os.environ["OTHER_ROOT"], False)):
                with self.subTest(file=os.path.basename(path), root=os.path.basename(root)):
                    self.assertEqual(verified(path, root), holds)


if __name__ == "__main__":
    unittest.main()
