"""Looks at and answers windows of programs running in the Wine test bed.

Each call runs the ui_driver test program once and returns its JSON answer.
Screenshots are taken from the bed's X display with ImageMagick's import; the
mouse is the display's own pointer (XTEST).
"""
import ctypes
import json
import os
import subprocess
import time

import winerun


class DriverError(AssertionError):
    pass


def _call(*args, timeout_ms=10000):
    args = [str(a) for a in args]
    if "--timeout" not in args and args and args[0] != "windows" and args[0] != "clipboard":
        args += ["--timeout", str(timeout_ms)]
    env = dict(os.environ)
    env["WINEDEBUG"] = "-all"
    done = subprocess.run([winerun.run_script(), winerun.program_path("ui_driver.exe"), *args],
                          stdin=subprocess.DEVNULL, capture_output=True, env=env,
                          timeout=timeout_ms / 1000 + 30)
    text = done.stdout.decode("utf-8", errors="replace").strip().splitlines()
    if not text:
        raise DriverError(f"ui_driver {args} gave no answer: exit {done.returncode}, stderr {done.stderr!r}")
    answer = json.loads(text[-1])
    if not answer.get("ok"):
        raise DriverError(f"ui_driver {args}: {answer.get('error')}")
    return answer


def _filters(cls=None, title=None):
    args = []
    if cls is not None:
        args += ["--class", cls]
    if title is not None:
        args += ["--title", title]
    return args


def windows(cls=None, title=None):
    """Top-level windows, topmost first (each a dict: class, title, style...)."""
    return _call("windows", *_filters(cls, title))["windows"]


def wait_window(cls=None, title=None, timeout_ms=20000, visible=False):
    """The first matching window once it exists (with visible, once it is
    shown too: a window created visible exists a moment before it is)."""
    window = _call("wait", *_filters(cls, title), timeout_ms=timeout_ms)["window"]
    deadline = time.monotonic() + timeout_ms / 1000.0
    while visible and not window["style"] & WS_VISIBLE:
        if time.monotonic() > deadline:
            raise DriverError(f"window {cls or title} never became visible")
        time.sleep(0.05)
        window = _call("wait", *_filters(cls, title), timeout_ms=timeout_ms)["window"]
    return window


def wait_gone(cls=None, title=None, timeout_ms=20000):
    _call("wait", *_filters(cls, title), "--gone", timeout_ms=timeout_ms)


def box(title=None, timeout_ms=20000):
    """The first message box (class #32770): title, text, buttons."""
    return _call("box", *_filters(None, title), timeout_ms=timeout_ms)["box"]


def press(button, title=None, timeout_ms=20000):
    """Presses a message box button: OK, Cancel, Yes, No or a control id."""
    return _call("press", *_filters(None, title), "--button", button, timeout_ms=timeout_ms)["box"]


def close(cls=None, title=None, timeout_ms=20000):
    return _call("close", *_filters(cls, title), timeout_ms=timeout_ms)["window"]


class _Pointer:
    """The bed's X pointer, moved and pressed through the XTEST extension: the
    events come from the X server as a hand's would, and Wine turns them into
    the window's own mouse messages. (Input injected from inside Wine moves
    the X pointer too, and the server's report of where it was can overtake
    the injected event.)"""

    def __init__(self):
        self.x11 = ctypes.CDLL("libX11.so.6")
        self.xtest = ctypes.CDLL("libXtst.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        for name in ("XFlush", "XSync", "XCloseDisplay"):
            getattr(self.x11, name).argtypes = [ctypes.c_void_p] + ([ctypes.c_int] if name == "XSync" else [])
        self.xtest.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                                    ctypes.c_ulong]
        self.xtest.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]

    def __enter__(self):
        self.display = self.x11.XOpenDisplay(winerun.display().encode())
        if not self.display:
            raise DriverError(f"cannot open the display {winerun.display()}")
        return self

    def __exit__(self, *exc):
        self.x11.XSync(self.display, 0)
        self.x11.XCloseDisplay(self.display)

    def move(self, x, y):
        self.xtest.XTestFakeMotionEvent(self.display, -1, x, y, 0)
        self.x11.XSync(self.display, 0)

    def button(self, down):
        self.xtest.XTestFakeButtonEvent(self.display, 1, 1 if down else 0, 0)
        self.x11.XSync(self.display, 0)


def move(x, y):
    """Moves the mouse to a point of the screen."""
    with _Pointer() as pointer:
        pointer.move(x, y)


def click(x, y):
    """Moves the mouse to a point of the screen and clicks its left button there."""
    with _Pointer() as pointer:
        pointer.move(x, y)
        # A pause between the move and the press, as a hand makes: pages that
        # react to the pointer entering have seen it before the button comes.
        time.sleep(0.05)
        pointer.button(True)
        pointer.button(False)


def clipboard():
    return _call("clipboard")["text"]


def screenshot(path):
    """Saves the whole bed display as a PNG."""
    subprocess.run(["import", "-display", winerun.display(), "-window", "root", path],
                   check=True, capture_output=True, timeout=60)
    return path


def pixels(path, left, top, width, height):
    """RGB triples of a rectangle of a PNG, read with ImageMagick."""
    done = subprocess.run(["convert", path, "-crop", f"{width}x{height}+{left}+{top}", "+repage",
                           "-depth", "8", "rgb:-"], check=True, capture_output=True, timeout=60)
    data = done.stdout
    return [tuple(data[i:i + 3]) for i in range(0, len(data), 3)]


WS_EX_TOPMOST = 0x8
WS_EX_TOOLWINDOW = 0x80
WS_EX_LAYERED = 0x80000
WS_EX_APPWINDOW = 0x40000
WS_VISIBLE = 0x10000000
WS_POPUP = 0x80000000
WS_OVERLAPPEDWINDOW = 0x00CF0000
WS_CAPTION = 0x00C00000
WS_BORDER = 0x00800000
