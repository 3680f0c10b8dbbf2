"""Looks at and answers windows of programs running in the Wine test bed.

Each call runs the ui_driver test program once and returns its JSON answer.
Screenshots are taken from the bed's X display with ImageMagick's import.
"""
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


def move(x, y):
    """Moves the mouse to a point of the screen, through the system's input queue."""
    return _call("move", "--at", f"{x},{y}")


def click(x, y):
    """Moves the mouse to a point of the screen and clicks its left button there."""
    return _call("click", "--at", f"{x},{y}")


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
