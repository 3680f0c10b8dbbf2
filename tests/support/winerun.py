"""Runs Windows programs of the build inside the Wine test bed.

run_program() starts one program the way a user would (through run.sh, in the
bed's prefix and display) and returns its exit code, its standard streams and
what it wrote to the debugger output channel, read from Wine's debugstr
trace. The program is stopped (with its whole process group) on timeout.

Lines starting with FAILURE_PREFIX are the program's log of failures it
survived on purpose (common/FailureLog.h). They come and go with the machine:
the bed's Wine refuses some calls on every run (SetWindowDisplayAffinity,
WinHTTP's option 98), so debug_lines leaves them out and failure_lines holds
them.
"""
import dataclasses
import hashlib
import os
import re
import signal
import ssl
import subprocess

FAILURE_PREFIX = "Failure: "

_TRACE = re.compile(rb'^([0-9a-f]+):(?:trace|warn|fixme|err):debugstr:OutputDebugString([AW]) (?:L?)"(.*)"$')


@dataclasses.dataclass
class Result:
    exit_code: int
    stdout: str
    stderr: str
    debug_outputs: list      # every OutputDebugString call, in order
    timed_out: bool = False
    debug_threads: list = dataclasses.field(default_factory=list)  # the thread of each output

    @property
    def all_debug_lines(self):
        """The outputs joined and split into lines (each LogLine is one line),
        each thread's on their own: a LogLine is two outputs, and another
        thread may log between them."""
        lines, pending = [], {}
        for thread, text in zip(self.debug_threads or [0] * len(self.debug_outputs), self.debug_outputs):
            complete, newline, rest = (pending.pop(thread, "") + text).rpartition("\n")
            lines += complete.split("\n") if newline else []
            if rest:
                pending[thread] = rest
        lines += pending.values()
        return [line for line in lines if line != ""]

    @property
    def debug_lines(self):
        """The lines without the logged failures."""
        return [line for line in self.all_debug_lines if not line.startswith(FAILURE_PREFIX)]

    @property
    def failure_lines(self):
        return [line for line in self.all_debug_lines if line.startswith(FAILURE_PREFIX)]


def bin_dir():
    return os.environ["MIRAVELL_BIN_DIR"]


def run_script():
    script = os.environ.get("MIRAVELL_RUN_WINDOWS", "")
    if not script:
        raise RuntimeError("MIRAVELL_RUN_WINDOWS is not set (run the tests through CTest)")
    return script


def _unescape(body):
    """Reverses Wine's debugstr escaping (C-style, bytes as \\xNN)."""
    out = bytearray()
    i = 0
    simple = {ord("n"): 10, ord("r"): 13, ord("t"): 9, ord('"'): 34, ord("\\"): 92, ord("'"): 39,
              ord("0"): 0, ord("a"): 7, ord("b"): 8, ord("f"): 12, ord("v"): 11}
    while i < len(body):
        c = body[i]
        if c == 0x5C and i + 1 < len(body):
            n = body[i + 1]
            if n == ord("x"):
                j = i + 2
                while j < len(body) and j < i + 4 and chr(body[j]) in "0123456789abcdefABCDEF":
                    j += 1
                out.append(int(body[i + 2:j], 16))
                i = j
                continue
            if n == ord("u"):
                out.extend(chr(int(body[i + 2:i + 6], 16)).encode("utf-8"))
                i += 6
                continue
            out.append(simple.get(n, n))
            i += 2
            continue
        out.append(c)
        i += 1
    return bytes(out)


def parse_debug_outputs(stderr_bytes):
    """(thread, text) of every OutputDebugString call, in order."""
    outputs = []
    for line in stderr_bytes.splitlines():
        match = _TRACE.match(line)
        if match:
            outputs.append((match.group(1), _unescape(match.group(3)).decode("utf-8", errors="replace")))
    return outputs


class Running:
    """A program started in the background; finish() waits and collects it."""

    def __init__(self, process):
        self.process = process

    def running(self):
        return self.process.poll() is None

    def finish(self, timeout=30):
        timed_out = False
        try:
            stdout, stderr = self.process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            timed_out = True
            self.kill()
            stdout, stderr = self.process.communicate()
        outputs = parse_debug_outputs(stderr)
        return Result(exit_code=self.process.returncode,
                      stdout=stdout.decode("utf-8", errors="replace"),
                      stderr=stderr.decode("utf-8", errors="replace"),
                      debug_outputs=[text for _, text in outputs],
                      debug_threads=[thread for thread, _ in outputs],
                      timed_out=timed_out)

    def kill(self):
        try:
            os.killpg(self.process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


def program_path(program):
    """A file name in the bin folder, a Unix path, or a path inside the prefix
    (C:\\...), which Wine takes as it is."""
    if os.path.isabs(program) or re.match(r"^[A-Za-z]:\\", program):
        return program
    return os.path.join(bin_dir(), program)


def start_program(program, args=(), env=None, cwd=None):
    """Starts a program (see program_path)."""
    full_env = dict(os.environ)
    full_env["WINEDEBUG"] = "-all,+debugstr"
    if env:
        full_env.update(env)
    process = subprocess.Popen([run_script(), program_path(program), *args], stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=full_env,
                               cwd=cwd, start_new_session=True)
    return Running(process)


def run_program(program, args=(), timeout=60, env=None, cwd=None):
    """Runs a program to its end and returns its Result."""
    return start_program(program, args, env=env, cwd=cwd).finish(timeout)


def wine_command(args, timeout=60):
    """Runs a Windows command of the prefix (reg, cmd...) and returns (code, stdout)."""
    env = dict(os.environ)
    env["WINEDEBUG"] = "-all"
    done = subprocess.run([run_script(), *args], stdin=subprocess.DEVNULL, capture_output=True,
                          env=env, timeout=timeout)
    return done.returncode, done.stdout.decode("utf-8", errors="replace")


def display():
    """The X display the bed's programs draw on."""
    path = os.path.join(os.environ["MIRAVELL_TESTBED"], "display")
    with open(path, encoding="ascii") as handle:
        return handle.read().strip()


def windows_path(unix_path):
    """The path under which Windows programs of the bed see a Unix file (drive Z:)."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def program_files_folder(name):
    """A folder of its own under the prefix's program folder, for a test's own
    browser runtime: the programs run elevated (as everything does under
    Wine), and an elevated program takes the engine only from the machine's
    registration of a folder under the program folders."""
    return f"C:\\Program Files (x86)\\Miravell test runtimes\\{name}-{os.getpid()}"


def ensure_runtime():
    """Installs the scripted browser runtime machine-wide at its default place
    in the prefix (tests that install their own may have removed it)."""
    result = run_program("install_scripted_runtime.exe", [])
    if result.exit_code != 0:
        raise RuntimeError(f"cannot install the scripted runtime: {result.stdout} {result.stderr}")


def chromium_runtime_dll():
    return os.path.join(bin_dir(), "chromium-runtime", "EmbeddedBrowserWebView.dll")


def install_chromium_runtime(folder=None, browser_args=None):
    """Installs the Chromium-backed runtime (testbed/chromium-runtime) as the
    prefix's browser runtime, or in `folder`, started with `browser_args`:
    by default the mock service's trust and host mapping
    (mockservice.MockService.browser_arguments); "" for none."""
    import mockservice  # only here: mockservice needs nothing of this module
    if browser_args is None:
        browser_args = mockservice.MockService.browser_arguments()
    args = ["--client", windows_path(chromium_runtime_dll())]
    if folder is not None:
        args += ["--folder", folder]
    if browser_args:
        args += ["--browser-args", browser_args]
    result = run_program("install_scripted_runtime.exe", args)
    if result.exit_code != 0:
        raise RuntimeError(f"cannot install the Chromium runtime: {result.stdout} {result.stderr}")


def unix_processes():
    """(pid, process group, arguments) of every Unix process still running
    (zombies left out)."""
    running = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as handle:
                args = [a.decode(errors="replace") for a in handle.read().split(b"\0") if a]
            with open(f"/proc/{entry}/stat", encoding="ascii", errors="replace") as handle:
                fields = handle.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if fields[0] != "Z":
            running.append((int(entry), int(fields[2]), args))
    return running


def kill_chromium(part):
    """SIGKILLs the browser ("browser") or the pages' renderers ("renderer")
    of the Chromium on this bed's prefix, as a crash would end them; returns
    the process ids."""
    running = [(pid, group, " ".join(args)) for pid, group, args in unix_processes()]
    # The browser leads the process group its helpers share (they name the
    # profile too); the profile lives in this bed's prefix, so another bed's
    # Chromium is not ours.
    profile = "--user-data-dir=" + os.environ["MIRAVELL_TESTBED"]
    browser = [pid for pid, group, switches in running if profile in switches and pid == group]
    if len(browser) != 1:
        raise AssertionError(f"not one browser on {profile}: {running}")
    if part == "browser":
        victims = browser
    else:
        # Helpers write their switches over their name, as one string; the
        # browser's own pages (webui) and the PDF viewer's extension have
        # renderers of their own.
        victims = [pid for pid, group, switches in running if group == browser[0]
                   and "--type=renderer" in switches and "--top-chrome-webui" not in switches
                   and "--extension-process" not in switches]
        if not victims:
            raise AssertionError(f"no page renderer of {profile}: {running}")
    for pid in victims:
        os.kill(pid, signal.SIGKILL)
    return victims


USER_ROOTS = r"HKCU\Software\Microsoft\SystemCertificates\Root\Certificates"


def trust_root(pem_path):
    """Makes the prefix's user trust a root certificate (the system's HTTPS
    stack checks chains, as it would for a real download site). Returns the
    call that undoes it, which does nothing when the root was trusted before."""
    with open(pem_path, encoding="ascii") as handle:
        thumbprint = hashlib.sha1(ssl.PEM_cert_to_DER_cert(handle.read())).hexdigest().upper()
    key = USER_ROOTS + "\\" + thumbprint
    if wine_command(["reg", "query", key])[0] == 0:
        return lambda: None
    added = run_program("net_probe.exe", ["--trust-root", windows_path(pem_path)])
    if added.exit_code != 0:
        raise RuntimeError(f"cannot trust {pem_path}: {added.stdout} {added.stderr}")
    return lambda: wine_command(["reg", "delete", key, "/f"])
