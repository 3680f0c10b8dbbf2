"""Links of every shape resolved through the player's ParseSchemeArgs, with
links made by miravell-link and answers from the mock service."""
import json
import unittest
import urllib.parse

import mockservice
import winerun
from programs import CONTENT_PATH, make_link

DOMAIN = "https://miravell.localhost"
SCRIPT_PATH = "/api/v1/desktop/scripts/get?n="


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
        cls.direct = make_link("token-1", "https://media.miravell.localhost/lesson/7?x=1")
        cls.service = make_link("token-2", "lesson-42")

    def setUp(self):
        self.mock.reset()

    def content_requests(self):
        return [r for r in self.mock.requests() if r["method"] == "PUT"]

    def answer_content(self, record, status=200):
        self.mock.route(method="PUT", path=CONTENT_PATH, status=status, body=json.dumps(record),
                        headers={"Content-Type": "application/json"})

    def test_a_direct_address_needs_no_service_call(self):
        # The other ways a shell or browser wraps a link are DecodeSchemeLink's
        # (SchemeLinkTest); here a link from miravell-link, whole and quoted.
        payload = self.direct.split(":", 1)[1]
        for form in (self.direct, '"miravell:' + payload + '"'):
            with self.subTest(form=form[:40]):
                outcome = parse(form)
                self.assertEqual({k: outcome[k] for k in ("ok", "contentUrl", "contentType", "contentNumber",
                                                          "watermarkText", "domain")},
                                 {"ok": True, "contentUrl": "https://media.miravell.localhost/lesson/7?x=1",
                                  "contentType": "url_direct", "contentNumber": 0, "watermarkText": "",
                                  "domain": DOMAIN})
        self.assertEqual(self.content_requests(), [])

    def test_an_address_in_capitals_is_a_link_id_for_the_service(self):
        self.answer_content({"data": {"type": "pdf", "url": "https://m.example/a.pdf", "user_email": "s@x"}})
        outcome = parse(make_link("tok&en=1", "HTTPS://cdn.example/x"))
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
        embed = "https://www.youtube.com/embed/{}?origin=https%3a%2f%2fmiravell.localhost"
        cases = [
            # the record's video, script number and the script's answer; the address and script shown
            ("https://youtu.be/AbC_12?t=5", -3, None, embed.format("AbC_12"), "console.log('lesson script -3');"),
            # A lesson whose script cannot be fetched still plays, without it.
            ("https://www.youtube.com/watch?v=XyZ", 2, 500, embed.format("XyZ"), ""),
        ]
        for video, number, script_status, url, script in cases:
            with self.subTest(video=video):
                self.mock.reset()
                self.answer_content({"data": {"type": "pdf", "url": "https://m.example/a.pdf",
                                              "video_source": video, "injected_script_number": number}})
                if script_status:
                    self.mock.route(method="GET", path=SCRIPT_PATH + str(number), status=script_status, body="oops")
                outcome = parse(self.service)
                self.assertEqual((outcome["ok"], outcome["contentType"], outcome["contentUrl"], outcome["injectedScript"]),
                                 (True, "url_direct", url, script), outcome)
                self.assertIn(SCRIPT_PATH + str(number), [r["path"] for r in self.mock.requests()])

    def test_refusals_from_the_service_and_failures_of_the_transport(self):
        # The bounds of an answer (size, time) are HttpClient's, checked in
        # test_net_engine; here how a refusal or a failure becomes the reason.
        cases = [
            # content answer (status, body), the link's domain, reason
            ((403, json.dumps({"message": "انتهت صلاحية الرابط"})), DOMAIN, r"server:انتهت صلاحية الرابط"),
            ((500, "<html>"), DOMAIN, r"api_content_data_failed"),
            (None, "https://mrvl.localhost:1", r"server:WinHttpSendRequest failed: \d+"),  # nothing listens there
        ]
        for answer, domain, reason in cases:
            with self.subTest(reason=reason):
                self.mock.reset()
                if answer:
                    self.mock.route(method="PUT", path=CONTENT_PATH, status=answer[0], body=answer[1])
                outcome = parse(self.service if domain == DOMAIN else make_link("t", "id", domain))
                self.assertRegex(outcome["reason"], f"^{reason}$")
                self.assertEqual(outcome["domain"], domain)

    def test_a_link_naming_another_host_is_refused_before_anything_is_sent(self):
        domains = ("http://miravell.localhost", "https://attacker.localhost",
                   "https://miravell.localhost.attacker.localhost", "https://xmiravell.localhost",
                   "https://miravell.localhost@attacker.localhost", "https://miravell.localhost\\@attacker.localhost",
                   "HTTPS://attacker.localhost/miravell.localhost")
        # A direct address opens only on hosts the player already trusts.
        addresses = ("https://attacker.localhost/lesson",
                     "http://media.miravell.localhost/lesson",             # never in the clear
                     "https://miravell.localhost.attacker.localhost/",     # a look-alike
                     "https://miravell.localhost@attacker.localhost/",     # the host follows the user part
                     "https://media.miravell.localhost\\@attacker.localhost/",
                     "https://attacker.localhost/?https://miravell.localhost/")
        trusted = ("https://lessons.b-cdn.net/a.pdf",                      # a media host of the allow-list
                   "https://MIRAVELL.localhost:443/lesson")
        cases = ([("lesson-42", domain, "domain_not_allowed") for domain in domains] +
                 [(address, DOMAIN, "content_not_allowed") for address in addresses] +
                 [(address, DOMAIN, None) for address in trusted])
        for content_id, domain, reason in cases:
            with self.subTest(content_id=content_id, domain=domain):
                link = make_link("token-3", content_id, domain)
                self.mock.reset()
                outcome = parse(link)
                if reason is None:
                    self.assertEqual((outcome["ok"], outcome["contentUrl"], outcome["contentType"]),
                                     (True, content_id, "url_direct"))
                else:
                    self.assertEqual((outcome["ok"], outcome["reason"], outcome["contentUrl"]), (False, reason, ""))
                if reason == "domain_not_allowed":
                    self.assertEqual(outcome["domain"], "", "the refused domain is not kept")
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
