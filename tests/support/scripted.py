"""A whole-program session with the scripted browser runtime: the files that
script it, record its calls and feed it events, for one run of a program.

    session = scripted.Session(folder, script={"can_go_back": True})
    program = winerun.start_program("Miravell.exe", [], env=session.env)
    session.wait_call("view", "Navigate")
    outcome = session.raise_event({"raise": "message", "string": "btn_home"})
"""
import json
import os
import time

import winerun


class Session:
    def __init__(self, folder, script=None, commands=True):
        os.makedirs(folder, exist_ok=True)
        self.log_path = os.path.join(folder, "runtime.log")
        self.commands_path = os.path.join(folder, "commands.txt")
        for path in (self.log_path, self.commands_path):
            if os.path.exists(path):
                os.remove(path)
        self.env = {"MIRAVELL_RUNTIME_LOG": winerun.windows_path(self.log_path)}
        if commands:
            with open(self.commands_path, "w", encoding="utf-8"):
                pass
            self.env["MIRAVELL_RUNTIME_COMMANDS"] = winerun.windows_path(self.commands_path)
        if script is not None:
            script_path = os.path.join(folder, "script.json")
            with open(script_path, "w", encoding="utf-8") as handle:
                json.dump(script, handle)
            self.env["MIRAVELL_RUNTIME_SCRIPT"] = winerun.windows_path(script_path)

    def calls(self, obj=None, call=None):
        """Every call recorded so far (a partly written last line is left out)."""
        try:
            with open(self.log_path, encoding="utf-8") as handle:
                text = handle.read()
        except FileNotFoundError:
            return []
        found = []
        for line in text.split("\n")[:-1]:
            if not line.strip():
                continue
            entry = json.loads(line)
            if (obj is None or entry.get("object") == obj) and (call is None or entry.get("call") == call):
                found.append(entry)
        return found

    def wait_call(self, obj, call, count=1, timeout=30):
        deadline = time.monotonic() + timeout
        while True:
            found = self.calls(obj, call)
            if len(found) >= count:
                return found[count - 1]
            if time.monotonic() > deadline:
                raise AssertionError(f"no {obj}.{call} #{count} after {timeout} s; log:\n" +
                                     "\n".join(json.dumps(c) for c in self.calls()[-30:]))
            time.sleep(0.1)

    def raise_event(self, command, timeout=30):
        """Appends one command and returns the outcome line the runtime left for it."""
        before = len(self.calls("command"))
        with open(self.commands_path, "a", encoding="utf-8") as handle:
            handle.write(json.dumps(command) + "\n")
        deadline = time.monotonic() + timeout
        while True:
            calls = self.calls()
            done = [i for i, c in enumerate(calls) if c.get("object") == "command"]
            if len(done) > before:
                index = done[before]
                outcomes = [c for c in calls[:index] if c.get("object") == "outcome"]
                return outcomes[-1] if outcomes else calls[index]
            if time.monotonic() > deadline:
                raise AssertionError(f"command {command} not run after {timeout} s; log:\n" +
                                     "\n".join(json.dumps(c) for c in calls[-20:]))
            time.sleep(0.1)
