"""The lessons the mock serves by default: the start pages, a lesson page
with a picture, a PDF, the video platform's embed page on the platform's own
host names, and the content-resolve answer for each lesson id. The pages and
pictures are files in content/ (make-images.sh renders the pictures from
their drawings); the PDF is written here, as a PDF writer would, so that the
mock needs nothing beyond Python. See README.md beside this file."""
import functools
import html
import json
import os
import re
import urllib.parse
import zlib

CONTENT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "content")
SERVICE = "https://miravell.localhost"

# The video platform's host names the embed page is served under (the player
# rewrites a watch address to www.youtube.com/embed/<id>), and its image host.
VIDEO_HOSTS = ("youtube.com", "www.youtube.com", "m.youtube.com", "youtube-nocookie.com", "www.youtube-nocookie.com")
VIDEO_IMAGE_HOST = "i.ytimg.com"
OUTSIDE_HOSTS = VIDEO_HOSTS + (VIDEO_IMAGE_HOST,)
# The names certs/outside-leaf is valid for (each with its subdomains): what
# a browser must be pointed at the mock for, and trust it with.
OUTSIDE_DOMAINS = ("youtube.com", "youtube-nocookie.com", "ytimg.com")

# Video id -> (title, poster file, duration shown).
VIDEOS = {"mrvVolcano01": ("How volcanoes erupt", "volcano-poster.png", "6:12")}

STUDENT = "student@example.com"

# Content id -> the resolve answer's record. Unknown ids get the PDF lesson,
# as they always did.
RESOLVE = {
    "html-lesson": {"type": "url_direct", "url": f"{SERVICE}/lessons/water-cycle", "video_source": "",
                    "user_email": STUDENT, "injected_script_number": 0},
    "pdf-lesson": {"type": "pdf", "url": f"{SERVICE}/files/lesson.pdf", "video_source": "",
                   "user_email": STUDENT, "injected_script_number": 1},
    "video-lesson": {"type": "video", "url": "", "video_source": "https://www.youtube.com/watch?v=mrvVolcano01",
                     "user_email": STUDENT, "injected_script_number": 4},
    # Any type the player has no road of its own for is framed in its embed page.
    "framed-lesson": {"type": "html", "url": f"{SERVICE}/lessons/fractions", "video_source": "",
                      "user_email": STUDENT, "injected_script_number": 5},
}
DEFAULT_RESOLVE = {"type": "pdf", "url": f"{SERVICE}/files/lesson.pdf", "video_source": "",
                   "user_email": STUDENT, "injected_script_number": 1}

HTML = "text/html; charset=utf-8"
PNG = "image/png"


def content_id(form_body):
    """The id the player sent in its form ("link_tk=...&id=...")."""
    text = form_body.decode("utf-8", errors="replace") if isinstance(form_body, bytes) else form_body
    return urllib.parse.parse_qs(text, keep_blank_values=True).get("id", [""])[0]


def resolve_answer(form_body):
    return json.dumps({"data": RESOLVE.get(content_id(form_body), DEFAULT_RESOLVE)}).encode("utf-8")


@functools.lru_cache(maxsize=None)
def _file(name):
    with open(os.path.join(CONTENT, name), "rb") as f:
        return f.read()


def _page(name, **values):
    text = _file(name).decode("utf-8")
    for key, value in values.items():
        text = text.replace("{{" + key + "}}", html.escape(value, quote=True))
    return text.encode("utf-8")


# Service paths -> (content type, body maker).
SERVICE_PAGES = {
    "/app": (HTML, lambda: _page("start.html", TITLE="Miravell", SUBTITLE="Welcome back! Pick up where you left off.")),
    "/app/courses": (HTML, lambda: _page("start.html", TITLE="Courses", SUBTITLE="Your courses and this week's lessons")),
    "/lessons/water-cycle": (HTML, lambda: _file("water-cycle.html")),
    "/lessons/fractions": (HTML, lambda: _file("fractions.html")),
    "/lessons/media/water-cycle.png": (PNG, lambda: _file("water-cycle.png")),
    "/lessons/media/fractions.png": (PNG, lambda: _file("fractions.png")),
    "/files/lesson.pdf": ("application/pdf", lambda: lesson_pdf()),
}


def service_page(path):
    """(content type, body) of a lesson address on the service's hosts, or None."""
    found = SERVICE_PAGES.get(path)
    return (found[0], found[1]()) if found else None


def outside_answer(host, path):
    """(status, headers, body) for the video platform's hosts; None for any other host."""
    if host in VIDEO_HOSTS:
        match = re.fullmatch(r"/embed/([A-Za-z0-9_-]+)", path)
        if not match:
            return 404, {"Content-Type": HTML}, b"<!DOCTYPE html><title>Not found</title><p>Not found</p>"
        video = VIDEOS.get(match.group(1))
        if video is None:
            page = _page("video-embed.html", TITLE="Video unavailable", POSTER="", DURATION="0:00")
        else:
            page = _page("video-embed.html", TITLE=video[0], DURATION=video[2],
                         POSTER=f"https://{VIDEO_IMAGE_HOST}/vi/{match.group(1)}/hqdefault.jpg")
        return 200, {"Content-Type": HTML}, page
    if host == VIDEO_IMAGE_HOST:
        match = re.fullmatch(r"/vi/([A-Za-z0-9_-]+)/hqdefault\.jpg", path)
        if match and match.group(1) in VIDEOS:
            # A PNG under the platform's usual name: browsers go by the bytes.
            return 200, {"Content-Type": PNG}, _file(VIDEOS[match.group(1)][1])
        return 404, {"Content-Type": "text/plain"}, b"not found"
    return None


# ---------------------------------------------------------------- the PDF

PDF_PAGES = [
    [("title", "Photosynthesis"),
     ("subtitle", "Biology - Lesson 3"),
     ("text", "Green plants make their own food. In their leaves, a green substance called"),
     ("text", "chlorophyll captures the energy of sunlight. The plant uses that energy to turn"),
     ("text", "carbon dioxide from the air and water from the soil into glucose, a sugar."),
     ("text", "Oxygen is given off as a by-product and leaves through tiny pores called stomata."),
     ("gap", ""),
     ("heading", "The word equation"),
     ("text", "carbon dioxide + water  ->  glucose + oxygen   (with light and chlorophyll)"),
     ("diagram", "")],
    [("heading", "Key words"),
     ("text", "Chlorophyll - the green pigment in chloroplasts that absorbs light."),
     ("text", "Stomata - pores on the underside of a leaf that let gases in and out."),
     ("text", "Glucose - the sugar a plant makes; it is used for energy and growth."),
     ("gap", ""),
     ("heading", "Check your understanding"),
     ("text", "1. Which two substances does a plant take in for photosynthesis?"),
     ("text", "2. Why are most leaves broad and thin?"),
     ("text", "3. What would happen to a plant kept in the dark for a week? Explain."),
     ("gap", ""),
     ("small", "Miravell sample lesson, served by the local mock service.")],
]


def _pdf_text(value):
    return value.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)")


def _leaf_diagram(y):
    """Drawing operators: a sun, a leaf, and labelled arrows in and out of it."""
    ops = [
        # Sun: a yellow disc of four curves, and its label.
        "0.99 0.82 0.25 rg", f"110 {y + 40} m", f"110 {y + 62} 92 {y + 80} 70 {y + 80} c",
        f"48 {y + 80} 30 {y + 62} 30 {y + 40} c", f"30 {y + 18} 48 {y} 70 {y} c",
        f"92 {y} 110 {y + 18} 110 {y + 40} c", "f",
        # Leaf: two curves between its tips, and its midrib.
        "0.30 0.62 0.27 rg", f"200 {y + 40} m", f"260 {y + 110} 380 {y + 110} 440 {y + 40} c",
        f"380 {y - 30} 260 {y - 30} 200 {y + 40} c", "f",
        "0.18 0.40 0.16 RG 2 w", f"205 {y + 40} m 435 {y + 40} l S",
        # Arrows: light in, carbon dioxide in, oxygen out.
        "0.14 0.22 0.36 RG 0.14 0.22 0.36 rg 2.5 w",
        f"115 {y + 45} m 195 {y + 45} l S", f"195 {y + 45} m 185 {y + 51} l 185 {y + 39} l f",
        f"320 {y - 70} m 320 {y - 20} l S", f"320 {y - 20} m 314 {y - 30} l 326 {y - 30} l f",
        f"445 {y + 40} m 520 {y + 40} l S", f"520 {y + 40} m 510 {y + 46} l 510 {y + 34} l f",
    ]
    labels = [(120, y + 55, "light"), (330, y - 60, "carbon dioxide + water"), (455, y + 50, "oxygen"),
              (455, y + 20, "+ glucose (stays)")]
    for x, ly, label in labels:
        ops.append(f"BT /F1 12 Tf 0.14 0.22 0.36 rg {x} {ly} Td ({_pdf_text(label)}) Tj ET")
    return ops


def _page_stream(lines):
    y = 780
    ops = []
    styles = {"title": ("F2", 28, 40), "subtitle": ("F1", 14, 30), "heading": ("F2", 16, 26),
              "text": ("F1", 12, 18), "small": ("F1", 10, 16)}
    for kind, text in lines:
        if kind == "gap":
            y -= 12
            continue
        if kind == "diagram":
            ops += _leaf_diagram(y - 140)
            y -= 200
            continue
        font, size, step = styles[kind]
        colour = "0.17 0.48 0.84" if kind == "subtitle" else "0 0 0"
        ops.append(f"BT /{font} {size} Tf {colour} rg 60 {y} Td ({_pdf_text(text)}) Tj ET")
        y -= step
    return "\n".join(ops).encode("latin-1")


@functools.lru_cache(maxsize=None)
def lesson_pdf():
    """A two-page lesson: text in the standard fonts and a vector drawing."""
    objects = {1: b"<< /Type /Catalog /Pages 2 0 R >>",
               3: b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
               4: b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold /Encoding /WinAnsiEncoding >>"}
    kids = []
    number = 5
    for lines in PDF_PAGES:
        stream = zlib.compress(_page_stream(lines))
        objects[number] = (b"<< /Length %d /Filter /FlateDecode >>\nstream\n" % len(stream)) + stream + \
            b"\nendstream"
        objects[number + 1] = (b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] "
                               b"/Resources << /Font << /F1 3 0 R /F2 4 0 R >> >> /Contents %d 0 R >>" % number)
        kids.append(number + 1)
        number += 2
    objects[2] = b"<< /Type /Pages /Kids [%s] /Count %d >>" % (
        b" ".join(b"%d 0 R" % kid for kid in kids), len(kids))
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = {}
    for n in sorted(objects):
        offsets[n] = len(out)
        out += b"%d 0 obj\n" % n + objects[n] + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (number)
    for n in range(1, number):
        out += b"%010d 00000 n \n" % offsets[n]
    out += b"trailer\n<< /Size %d /Root 1 0 R /Info << /Title (Photosynthesis) >> >>\nstartxref\n%d\n%%%%EOF\n" % (
        number, xref)
    return bytes(out)
