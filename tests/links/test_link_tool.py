"""miravell-link as the service operator uses it: links it makes open back to
their values through the player's decoding, and its envelopes check out with
tools that share no code with the player (Python's hmac, openssl). The many
forms a link can arrive in are covered by links_tests."""
import base64
import hmac
import hashlib
import json
import subprocess
import unittest

import winerun

KEY = "5f0e1d2c3b4a69788796a5b4c3d2e1f00f1e2d3c4b5a69788796a5b4c3d2e1f0"
MAC_ERROR = "exception_MAC verification failed \u2014 data may be tampered"


def link_tool(*args):
    return winerun.run_program("miravell-link.exe", list(args))


def make(*args):
    result = link_tool("make", *args)
    if result.exit_code != 0:
        raise AssertionError(f"make failed: {result.exit_code} {result.stderr}")
    return result.stdout.strip("\n")


def envelopes_of(link):
    scheme, payload = link.split(":", 1)
    assert scheme == "miravell", link
    return [json.loads(base64.b64decode(text)) for text in payload.split(":")]


class LinkToolTest(unittest.TestCase):
    def assertOpens(self, link, values, *key_args):
        result = link_tool("open", *key_args, link)
        self.assertEqual(result.exit_code, 0, result.stdout + result.stderr)
        self.assertEqual(result.stdout, "".join(v + "\n" for v in values))

    def test_a_link_made_with_the_build_key_opens_back_to_its_values(self):
        values = ["tok-\u0627\u062e\u062a\u0628\u0627\u0631", "https://cdn.example.com/lesson.pdf?a=1&b=2",
                  "https://miravell.localhost"]
        link = make(*values)
        self.assertTrue(link.startswith("miravell:"))
        self.assertOpens(link, values)

    def test_envelopes_verify_and_decrypt_with_independent_tools(self):
        values = ["token-1", "lesson-42", "https://miravell.com"]
        link = make("--key", KEY, *values)
        envelopes = envelopes_of(link)
        self.assertEqual(len(envelopes), 3)
        ivs = set()
        for envelope, value in zip(envelopes, values):
            expected_mac = hmac.new(bytes.fromhex(KEY), (envelope["iv"] + envelope["value"]).encode(),
                                    hashlib.sha256).hexdigest()
            self.assertEqual(envelope["mac"], expected_mac)
            iv = base64.b64decode(envelope["iv"])
            self.assertEqual(len(iv), 16)
            ivs.add(iv)
            plain = subprocess.run(["openssl", "enc", "-d", "-aes-256-cbc", "-K", KEY, "-iv", iv.hex()],
                                   input=base64.b64decode(envelope["value"]), stdout=subprocess.PIPE,
                                   check=True).stdout
            self.assertEqual(plain.decode(), value)
        self.assertEqual(len(ivs), 3, "every envelope has its own IV")
        self.assertNotEqual(make("--key", KEY, *values), link, "a new link every time")

    def test_keys_must_match_and_no_mac_links_open_too(self):
        values = ["t", "i", "https://d.example"]
        self.assertOpens(make("--key", KEY, *values), values, "--key", KEY)
        wrong = link_tool("open", make("--key", KEY, *values))
        self.assertEqual(wrong.exit_code, 1)
        self.assertEqual(wrong.stdout, MAC_ERROR + "\n")

        no_mac = make("--no-mac", "--key", KEY, *values)
        self.assertTrue(all("mac" not in e for e in envelopes_of(no_mac)))
        self.assertOpens(no_mac, values, "--key", KEY)

    def test_a_key_of_other_than_64_hex_digits_is_refused(self):
        # U+0661 narrowed by a cast would be the digit "a".
        for key in (KEY[:-2], KEY + "00", KEY[:-1] + "g", KEY[:-1] + "\u0661"):
            result = link_tool("make", "--key", key, "t", "i", "https://d.example")
            self.assertEqual(result.exit_code, 2, key)
            self.assertIn("--key needs 64 hexadecimal digits", result.stderr, key)

    def test_a_broken_link_gives_the_players_reason_code_and_exit_code_1(self):
        env1, env2, _ = make("a", "b", "c").split(":", 1)[1].split(":")
        result = link_tool("open", f"miravell:{env1}:{env2}")
        self.assertEqual(result.exit_code, 1)
        self.assertEqual(result.stdout, "split_failed_parts_2\n")


if __name__ == "__main__":
    unittest.main()
