"""Links of every shape resolved through the player's ParseSchemeArgs, with
links made by miravell-link and answers from the mock service."""
import json
import unittest
import urllib.parse

import mockservice
import winerun

DOMAIN = "https://miravell.localhost"
CONTENT_PATH = "/api/v1/desktop/content-link/resolve-id"
SCRIPT_PATH = "/api/v1/desktop/scripts/get?n="


def make(token, content_id, domain=DOMAIN):
    result = winerun.run_program("miravell-link.exe", ["make", token, content_id, domain])
    if result.exit_code != 0:
        raise AssertionError(f"miravell-link make failed: {result.stdout} {result.stderr}")
    return result.stdout.strip()


def parse(link):
    result = winerun.run_program("link_probe.exe", ["parse", link])
    lines = [line for line in result.stdout.splitlines() if line.startswith("{")]
    if result.exit_code != 0 or not lines:
        raise AssertionError(f"link_probe failed: exit {result.exit_code}, timed out {result.timed_out}, "
                             f"stdout {result.stdout!r}, stderr {result.stderr[-2000:]!r}, "
                             f"debug output {result.debug_lines[-20:]!r}")
    return json.loads(lines[-1])


class LinkResolutionTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.mock = mockservice.shared()
        cls.direct = make("token-1", "https://media.miravell.localhost/lesson/7?x=1")
        cls.service = make("token-2", "lesson-42")

    def setUp(self):
        self.mock.reset()

    def content_requests(self):
        return [r for r in self.mock.requests() if r["method"] == "PUT"]

    def answer_content(self, record, status=200):
        self.mock.route(method="PUT", path=CONTENT_PATH, status=status, body=json.dumps(record),
                        headers={"Content-Type": "application/json"})

    def assert_direct(self, outcome):
        self.assertTrue(outcome["ok"], outcome)
        self.assertEqual(outcome["contentUrl"], "https://media.miravell.localhost/lesson/7?x=1")
        self.assertEqual(outcome["contentType"], "url_direct")
        self.assertEqual(outcome["contentNumber"], 0)
        self.assertEqual(outcome["watermarkText"], "")
        self.assertEqual(outcome["domain"], DOMAIN)

    def test_a_direct_address_needs_no_service_call_in_any_written_form(self):
        payload = self.direct.split(":", 1)[1]
        for form in (self.direct,
                     "MIRAVELL://" + payload + "/",                    # capitals, slashes, trailing slash
                     '"miravell:' + payload + '"',                   # quotation marks before and after
                     'open "MiRaVeLl:\\\\' + payload,                # other text before, backslashes
                     payload,                                        # no scheme at all
                     "miravell:" + payload.replace(":", "%3A"),      # percent-encoded separators
                     "miravell:" + urllib.parse.quote(payload, safe=":"),
                     self.direct + ":extra:values"):                 # values after the third
            with self.subTest(form=form[:40]):
                self.assert_direct(parse(form))
        self.assertEqual(self.content_requests(), [])

    def test_too_few_or_broken_values_give_their_reason_codes(self):
        token, content_id, domain = self.direct.split(":", 1)[1].split(":")
        cases = {
            f"miravell:{token}:{content_id}": "split_failed_parts_2",
            "miravell:": "split_failed_parts_0",
            "MIRAVELL://": "split_failed_parts_0",
            f"miravell:{token}": "split_failed_parts_1",
            f"miravell:{token}::{domain}": "exception_Failed to parse AES envelope JSON",
            f"miravell:{token}:bm90IGpzb24=:{domain}": "exception_Failed to parse AES envelope JSON",
        }
        for link, reason in cases.items():
            outcome = parse(link)
            self.assertFalse(outcome["ok"], link)
            self.assertEqual(outcome["reason"], reason, link)

    def test_an_address_in_capitals_is_a_link_id_for_the_service(self):
        self.answer_content({"data": {"type": "pdf", "url": "https://m.example/a.pdf", "user_email": "s@x"}})
        outcome = parse(make("tok&en=1", "HTTPS://cdn.example/x"))
        self.assertTrue(outcome["ok"], outcome)
        self.assertEqual((outcome["contentType"], outcome["contentUrl"]), ("pdf", "https://m.example/a.pdf"))
        (request,) = self.content_requests()
        self.assertEqual(urllib.parse.parse_qs(request["body"]),
                         {"link_tk": ["tok&en=1"], "id": ["HTTPS://cdn.example/x"]})

    def test_service_types_map_to_what_the_player_shows(self):
        cases = [
            ({"type": "zoom", "url": "https://example.com/j/1"}, "url_direct", "https://example.com/j/1"),
            ({"type": "pdf", "url": "https://us02web.zoom.us/j/5"}, "url_direct", "https://us02web.zoom.us/j/5"),
            ({"type": "pdf", "url": "https://m.example/a.pdf"}, "pdf", "https://m.example/a.pdf"),
            ({"type": "PDF", "url": "https://m.example/a.pdf"}, "PDF", "https://m.example/a.pdf"),
            ({"url": "https://m.example/v"}, "url_direct", "https://m.example/v"),  # type defaults to video
        ]
        for record, content_type, url in cases:
            self.mock.reset()
            self.answer_content({"data": {**record, "user_email": "w", "injected_script_number": 5}})
            outcome = parse(self.service)
            self.assertTrue(outcome["ok"], outcome)
            self.assertEqual((outcome["contentType"], outcome["contentUrl"]), (content_type, url), record)
            self.assertEqual((outcome["watermarkText"], outcome["contentNumber"]), ("w", 5))
            self.assertEqual(outcome["injectedScript"], "", "no script without the video platform")

    def test_video_platform_lessons_get_the_embed_address_and_the_service_script(self):
        self.answer_content({"data": {"type": "pdf", "url": "https://m.example/a.pdf",
                                      "video_source": "https://youtu.be/AbC_12?t=5", "injected_script_number": -3}})
        outcome = parse(self.service)
        self.assertTrue(outcome["ok"], outcome)
        self.assertEqual(outcome["contentType"], "url_direct")
        self.assertEqual(outcome["contentUrl"],
                         "https://www.youtube.com/embed/AbC_12?origin=https%3a%2f%2fmiravell.localhost")
        self.assertEqual(outcome["injectedScript"], "console.log('lesson script -3');")
        self.assertIn(SCRIPT_PATH + "-3", [r["path"] for r in self.mock.requests()])

    def test_a_failed_script_fetch_leaves_it_empty_and_the_link_still_resolves(self):
        self.answer_content({"data": {"video_source": "https://www.youtube.com/watch?v=XyZ", "injected_script_number": 2}})
        self.mock.route(method="GET", path=SCRIPT_PATH + "2", status=500, body="oops")
        outcome = parse(self.service)
        self.assertTrue(outcome["ok"], outcome)
        self.assertEqual(outcome["injectedScript"], "")
        self.assertTrue(outcome["contentUrl"].startswith("https://www.youtube.com/embed/XyZ?origin="))

    def test_refusals_from_the_service_and_failures_of_the_transport(self):
        self.answer_content({"message": "انتهت صلاحية الرابط"}, status=403)
        self.assertEqual(parse(self.service)["reason"], "server:انتهت صلاحية الرابط")

        self.mock.reset()
        self.mock.route(method="PUT", path=CONTENT_PATH, status=500, body="<html>")
        self.assertEqual(parse(self.service)["reason"], "api_content_data_failed")

        outcome = parse(make("t", "id", "https://mrvl.localhost:1"))  # a service host where nothing listens
        self.assertRegex(outcome["reason"], r"^server:WinHttpSendRequest failed: \d+$")
        self.assertEqual(outcome["domain"], "https://mrvl.localhost:1")

        self.mock.reset()
        self.mock.route(method="PUT", path=CONTENT_PATH, drip={"bytes": 65536})  # an answer that never ends
        self.assertEqual(parse(self.service)["reason"], "server:Response body too large")

    def test_a_link_naming_another_host_is_refused_before_anything_is_sent(self):
        for domain in ("http://miravell.localhost",
                       "https://attacker.localhost",
                       "https://miravell.localhost.attacker.localhost",
                       "https://xmiravell.localhost",
                       "https://miravell.localhost@attacker.localhost",
                       "https://miravell.localhost\\@attacker.localhost",
                       "HTTPS://attacker.localhost/miravell.localhost"):
            with self.subTest(domain=domain):
                link = make("token-3", "lesson-42", domain)
                self.mock.reset()
                outcome = parse(link)
                self.assertEqual((outcome["ok"], outcome["reason"]), (False, "domain_not_allowed"))
                self.assertEqual(outcome["domain"], "", "the refused domain is not kept")
                self.assertEqual((self.mock.requests(), self.mock.handshakes()), ([], []))

    def test_a_direct_address_opens_only_on_hosts_the_player_already_trusts(self):
        cases = {
            "https://attacker.localhost/lesson": False,
            "http://media.miravell.localhost/lesson": False,           # never in the clear
            "https://miravell.localhost.attacker.localhost/": False,   # a look-alike
            "https://miravell.localhost@attacker.localhost/": False,   # the host follows the user part
            "https://media.miravell.localhost\\@attacker.localhost/": False,
            "https://attacker.localhost/?https://miravell.localhost/": False,
            "https://lessons.b-cdn.net/a.pdf": True,                   # a media host of the allow-list
            "https://MIRAVELL.localhost:443/lesson": True,
        }
        for content_id, allowed in cases.items():
            with self.subTest(content_id=content_id):
                self.mock.reset()
                outcome = parse(make("token-4", content_id))
                if allowed:
                    self.assertEqual((outcome["ok"], outcome["contentUrl"], outcome["contentType"]),
                                     (True, content_id, "url_direct"))
                else:
                    self.assertEqual((outcome["ok"], outcome["reason"], outcome["contentUrl"]),
                                     (False, "content_not_allowed", ""))
                self.assertEqual((self.mock.requests(), self.mock.handshakes()), ([], []))

    def test_ten_thousand_mutated_links_end_in_reason_codes(self):
        result = winerun.run_program("link_probe.exe", ["fuzz", "20261208", "10000", self.service], timeout=300)
        summary = json.loads(result.stdout.splitlines()[-1])
        self.assertEqual(summary["count"], 10000)
        self.assertEqual(summary["unexpected"], [])
        self.assertIn("split_", summary["reasons"])
        self.assertIn("exception_", summary["reasons"])
        self.assertLess(summary["seconds"], 240)


if __name__ == "__main__":
    unittest.main()
