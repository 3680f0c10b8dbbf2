"""Runs the player's pages and scripts in headless Chromium.

Scripts the player compiles in unchanged are read from their files (--scripts);
page_texts (a Windows program, under Wine when cross-compiled) writes the
texts the player fills in, for the requests in inputs.json. Node's test runner
then drives Chromium over them with playwright-core, installed once per build
tree from the pinned package-lock.json.

    run_browser_tests.py --node-dir DIR --out DIR --scripts DIR [test files...]
"""
import argparse
import hashlib
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

import winerun

HERE = os.path.dirname(os.path.abspath(__file__))
MANIFESTS = ("package.json", "package-lock.json")
TESTS = ("content_scripts.test.js", "navbar.test.js")


def log(message):
    print(f"== {message}", flush=True)


def install_node_modules(node_dir):
    """npm ci into node_dir, skipped while the pinned manifests are unchanged."""
    digest = hashlib.sha256()
    for name in MANIFESTS:
        with open(os.path.join(HERE, name), "rb") as handle:
            digest.update(handle.read())
    stamp = os.path.join(node_dir, "installed.sha256")
    if os.path.isdir(os.path.join(node_dir, "node_modules", "playwright-core")) and os.path.exists(stamp):
        with open(stamp, encoding="ascii") as handle:
            if handle.read().strip() == digest.hexdigest():
                return
    os.makedirs(node_dir, exist_ok=True)
    for name in MANIFESTS:
        shutil.copyfile(os.path.join(HERE, name), os.path.join(node_dir, name))
    log(f"npm ci in {node_dir}")
    subprocess.run(["npm", "ci", "--no-audit", "--no-fund", "--ignore-scripts"], cwd=node_dir, check=True,
                   stdin=subprocess.DEVNULL)
    with open(stamp, "w", encoding="ascii") as handle:
        handle.write(digest.hexdigest() + "\n")


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def write_texts(out_dir, port):
    """The request with this run's server address, answered by page_texts."""
    with open(os.path.join(HERE, "inputs.json"), encoding="utf-8") as handle:
        raw = handle.read()
    request = json.loads(raw.replace("{origin}", f"http://127.0.0.1:{port}"))
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir)
    request_path = os.path.join(out_dir, "request.json")
    with open(request_path, "w", encoding="utf-8") as handle:
        json.dump(request, handle, ensure_ascii=False)
    if os.environ.get("MIRAVELL_RUN_WINDOWS"):
        result = winerun.run_program("page_texts.exe", [winerun.windows_path(request_path),
                                                        winerun.windows_path(out_dir)], timeout=120)
        code, output = result.exit_code, result.stdout + result.stderr
    else:
        done = subprocess.run([winerun.program_path("page_texts.exe"), request_path, out_dir],
                              capture_output=True, text=True, check=False)
        code, output = done.returncode, done.stdout + done.stderr
    if code != 0:
        raise SystemExit(f"page_texts failed ({code}): {output[-2000:]}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--node-dir", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--scripts", required=True)
    parser.add_argument("tests", nargs="*", default=list(TESTS))
    options = parser.parse_args()

    chromium = os.environ.get("MIRAVELL_CHROMIUM", "/usr/bin/chromium")
    if not os.access(chromium, os.X_OK):
        raise SystemExit(f"{chromium} is missing (apt-get install chromium)")
    started = time.monotonic()
    install_node_modules(options.node_dir)
    port = free_port()
    texts = os.path.abspath(options.out)
    write_texts(texts, port)
    log(f"texts written in {time.monotonic() - started:.1f} s; running the browser tests")

    env = dict(os.environ)
    env.update({
        "NODE_PATH": os.path.join(os.path.abspath(options.node_dir), "node_modules"),
        "MIRAVELL_PAGE_TEXTS": texts,
        "MIRAVELL_PAGE_SCRIPTS": os.path.abspath(options.scripts),
        "MIRAVELL_PAGE_PORT": str(port),
        "MIRAVELL_CHROMIUM": chromium,
    })
    # One file at a time: both serve on this run's port. The runner and its
    # browsers are one process group, ended together should they hang.
    runner = subprocess.Popen(["node", "--test", "--test-concurrency=1", "--test-timeout=60000",
                               *options.tests],
                              cwd=HERE, env=env, stdin=subprocess.DEVNULL, start_new_session=True)
    try:
        code = runner.wait(timeout=240)
    except subprocess.TimeoutExpired:
        os.killpg(runner.pid, signal.SIGKILL)
        runner.wait()
        raise SystemExit("the browser tests hung for 240 s")
    log(f"done in {time.monotonic() - started:.1f} s")
    return code


if __name__ == "__main__":
    sys.exit(main())
