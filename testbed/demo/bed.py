"""The pieces a demonstration run needs, started in order and stopped in
reverse: the build (made when missing), a Wine prefix with its own Xvfb when
there is no display, the scripted browser runtime, and the mock service.

Used by lesson-demo and startup-benchmark; the test support modules
(winerun, uidriver, mockservice, scripted) then work as they do under CTest."""
import contextlib
import os
import shutil
import subprocess
import sys
import time

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "support"))

import mockservice  # noqa: E402
import winerun  # noqa: E402

BUILD_DIR = os.path.join(SOURCE_DIR, "build", "mingw")
BIN_DIR = os.path.join(BUILD_DIR, "bin")
NEEDED = ("Miravell.exe", "miravell-link.exe", "ui_driver.exe", "desktop_keeper.exe",
          "install_scripted_runtime.exe", "EmbeddedBrowserWebView.dll",
          os.path.join("chromium-runtime", "EmbeddedBrowserWebView.dll"))


def say(text):
    print(f"[demo] {text}", flush=True)


def chromium_present():
    """Whether Chromium is here for the runtime that puts it behind the engine's interface."""
    return bool(os.environ.get("MIRAVELL_CHROMIUM")) or shutil.which("chromium") is not None


def wait_chromium_gone(state_dir, timeout=15):
    """Until no Chromium of this bed's prefix runs: the next run's browser
    would find the profile still locked."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        left = subprocess.run(["pgrep", "-f", "--", "--user-data-dir=" + state_dir], capture_output=True, text=True)
        if not left.stdout.strip():
            return
        time.sleep(0.1)


def ensure_build():
    if all(os.path.exists(os.path.join(BIN_DIR, name)) for name in NEEDED):
        return
    say("building (cmake --preset mingw)...")
    if not os.path.exists(os.path.join(BUILD_DIR, "CMakeCache.txt")):
        subprocess.run(["cmake", "--preset", "mingw"], cwd=SOURCE_DIR, check=True)
    subprocess.run(["cmake", "--build", "--preset", "mingw"], cwd=SOURCE_DIR, check=True)


@contextlib.contextmanager
def running_bed(state_dir, https_port=443):
    """Yields a started mock service with everything around it running.
    With https_port 0 the mock serves on a free port, for a caller that puts
    something of its own on 443 in front of it."""
    for tool in ("wine", "python3"):
        if shutil.which(tool) is None:
            raise SystemExit(f"{tool} is missing; .ci/run installs everything the build and the bed need")
    ensure_build()
    os.makedirs(state_dir, exist_ok=True)
    os.environ.update({
        "MIRAVELL_TESTBED": state_dir,
        "MIRAVELL_BIN_DIR": BIN_DIR,
        "MIRAVELL_SOURCE_DIR": SOURCE_DIR,
        "MIRAVELL_RUN_WINDOWS": os.path.join(SOURCE_DIR, "testbed", "wine", "run.sh"),
    })
    bed = os.path.join(SOURCE_DIR, "testbed", "wine", "bed.sh")
    say(f"preparing the Wine prefix in {state_dir} (the first run takes a minute)...")
    subprocess.run([bed, "setup", state_dir, "-", os.path.join(BIN_DIR, "desktop_keeper.exe")], check=True,
                   stdin=subprocess.DEVNULL)
    mock = None
    try:
        winerun.ensure_runtime()
        say(f"starting the mock service (HTTPS on port {https_port or 'a free port'})...")
        mock = mockservice.MockService().start(os.path.join(state_dir, "mock"), https_port=https_port)
        yield mock
    finally:
        if mock is not None:
            mock.stop()
        subprocess.run([bed, "cleanup", state_dir], check=False, stdin=subprocess.DEVNULL)
        say("stopped everything this run started")
