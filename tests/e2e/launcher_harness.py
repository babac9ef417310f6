"""Drives the real launcher inside the private headless compositor.

The test program runs under scripts/with-headless-sway, which provides
WAYLAND_DISPLAY and SWAYSOCK. Every test gets a sandbox of its own:

- temporary XDG_RUNTIME_DIR (pid file, flintmill.sock, flint/theme.css),
  HOME, XDG_CONFIG_HOME and XDG_CACHE_HOME (wal/colors.json);
- recording stubs for xdg-open and kill first on PATH: each call appends its
  arguments, one "arg:" line each, then "end", to a log; kill then really
  kills (the shell's kill builtin), so the toggle can be watched end to end;
- the stand-in daemon (FLINTSEARCH_STANDIN) on the runtime directory's
  socket, answering from a script and logging the exact request bytes.

Every launcher runs with WAYLAND_DEBUG=1: its window is followed in that log
(wayland_log.py), which tells a toplevel and a layer surface alike (sway's
tree has only the former). launcher_output() leaves those lines out.

Typing goes through wtype, pointer clicks through the compositor's seat
(swaymsg), captures through grim (decoded by png.py).

Failures carry the launcher's output, the stand-in's log, the stub logs and
the tail of the compositor's log (see LauncherTestCase).
"""
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

import png
import wayland_log

BINARY = os.environ.get("FLINTSEARCH_BINARY", "")
RESIDENT = os.environ.get("FLINTSEARCH_RESIDENT", "")
STANDIN = os.environ.get("FLINTSEARCH_STANDIN", "")
# The compositor the test program runs in: "sway" (scripts/with-headless-sway)
# or "weston" (scripts/with-headless-weston: no layer shell, no seat devices,
# so nothing is typed or clicked there).
COMPOSITOR = os.environ.get("FLINT_COMPOSITOR", "sway")

# Generous bounds for "does not hang"; the tests never measure speed.
MAP_TIMEOUT = 15.0
EXIT_TIMEOUT = 10.0
REQUEST_TIMEOUT = 10.0
RENDER_TIMEOUT = 10.0

# The desktop shows sway's plain clear colour (no wallpaper client).
PANEL_TOP = 120
PANEL_WIDTH = 640
PANEL_ALPHA = 0.6

# The launcher's fixed neutrals: the panel is bg at 0.6, the entry and the
# selected row are surface.
BG = (0x0C, 0x0C, 0x0C)
SURFACE = (0x1A, 0x1A, 0x1A)

STUB = """#!/bin/sh
# Records one call: the arguments, then what the standard streams are.
streams=$(for fd in 0 1 2; do printf 'fd%s:%s\\n' "$fd" "$(readlink /proc/$$/fd/$fd)"; done)
{{
for a in "$@"; do printf 'arg:%s\\n' "$a"; done
printf '%s\\nend\\n' "$streams"
}} >>"{log}"
{tail}
"""


class HarnessError(AssertionError):
    pass


def output_size():
    width, height = os.environ.get("FLINT_SWAY_SIZE", "1920x1080").split("x")
    return int(width), int(height)


def blend(colour, alpha, under):
    return tuple(round(alpha * c + (1 - alpha) * u) for c, u in zip(colour, under))


def close_to(pixel, colour, tolerance=3):
    return all(abs(p - c) <= tolerance for p, c in zip(pixel, colour))


def find_colour(image, colour, tolerance=24):
    """The first pixel, row by row, within tolerance of colour, or None."""
    for y in range(image.height):
        for x in range(image.width):
            if close_to(image.pixel(x, y), colour, tolerance):
                return x, y
    return None


def hex_colour(text):
    text = text.lstrip("#")
    return tuple(int(text[i:i + 2], 16) for i in (0, 2, 4))


def swaymsg(*args, check=True):
    result = subprocess.run(["swaymsg", *args], capture_output=True, text=True, timeout=10)
    if check and result.returncode != 0:
        raise HarnessError(f"swaymsg {' '.join(args)} failed: {result.stderr.strip()}")
    return result.stdout


def views(node=None):
    """Every application window in the compositor's tree."""
    if node is None:
        node = json.loads(swaymsg("-t", "get_tree", "-r"))
    found = []
    if node.get("pid") and node.get("type") in ("con", "floating_con"):
        found.append(node)
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        found.extend(views(child))
    return found


def parse_calls(text):
    """A stub log as a list of calls, each a dict with "args" and "fds"."""
    calls, current = [], None
    for line in text.splitlines():
        if current is None:
            current = {"args": [], "fds": {}}
        if line == "end":
            calls.append(current)
            current = None
        elif line.startswith("arg:"):
            current["args"].append(line[4:])
        elif line.startswith("fd") and ":" in line:
            fd, _, target = line.partition(":")
            current["fds"][int(fd[2:])] = target
    return calls


class Sandbox:
    """One test's files, environment, stand-in daemon and launchers."""

    def __init__(self):
        if not BINARY or not os.access(BINARY, os.X_OK):
            raise HarnessError(f"FLINTSEARCH_BINARY is not an executable: {BINARY!r}")
        if "WAYLAND_DISPLAY" not in os.environ or (COMPOSITOR == "sway"
                                                    and "SWAYSOCK" not in os.environ):
            raise HarnessError("run the end-to-end tests under scripts/with-headless-sway "
                               "or scripts/with-headless-weston")
        self.root = tempfile.mkdtemp(prefix="flint-e2e-")
        self.runtime = self._dir("run", 0o700)
        self.home = self._dir("home")
        self.config = self._dir("config")
        self.cache = self._dir("cache")
        self.bin = self._dir("bin")
        self.logs = self._dir("logs")
        self.xdg_open_log = os.path.join(self.logs, "xdg-open.log")
        self.kill_log = os.path.join(self.logs, "kill.log")
        self.request_log = os.path.join(self.logs, "requests.log")
        self.standin_output = os.path.join(self.logs, "standin.out")
        self.write_stub("xdg-open", self.xdg_open_log, "exit 0")
        self.write_stub("kill", self.kill_log, 'kill "$@"')
        self.launchers = []
        self.binary = BINARY
        self.popen_user = {}  # user= and group= for launchers of another user
        self.daemon = None
        self.env = dict(os.environ)
        # No session bus: GApplication then runs without uniqueness, and no
        # launcher of a developer's session can be reached.
        for name in ("DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "XDG_CONFIG_DIRS"):
            self.env.pop(name, None)
        self.env.update({
            "XDG_RUNTIME_DIR": self.runtime,
            "HOME": self.home,
            "XDG_CONFIG_HOME": self.config,
            "XDG_CACHE_HOME": self.cache,
            "PATH": self.bin + os.pathsep + os.environ.get("PATH", "/usr/bin:/bin"),
            "GTK_A11Y": "none",
            "NO_AT_BRIDGE": "1",
            "GSK_RENDERER": "cairo",
            "GDK_BACKEND": "wayland",
        })
        # Keep the pointer away from the panel, so no row shows its hover
        # colour.
        self.park_pointer()

    def _dir(self, name, mode=0o755):
        path = os.path.join(self.root, name)
        os.makedirs(path)
        os.chmod(path, mode)
        return path

    # -- files -------------------------------------------------------------

    def write_stub(self, name, log, tail):
        path = os.path.join(self.bin, name)
        with open(path, "w") as f:
            f.write(STUB.format(log=log, tail=tail))
        os.chmod(path, 0o755)

    def write_palette(self, colours):
        """Writes wal/colors.json with the given "colors" map."""
        directory = os.path.join(self.cache, "wal")
        os.makedirs(directory, exist_ok=True)
        self._replace(os.path.join(directory, "colors.json"),
                      json.dumps({"wallpaper": "/nowhere.png", "colors": colours}))

    @property
    def theme_file(self):
        return os.path.join(self.runtime, "flint", "theme.css")

    def write_theme(self, text):
        os.makedirs(os.path.dirname(self.theme_file), exist_ok=True)
        self._replace(self.theme_file, text)

    def write_user_css(self, text):
        directory = os.path.join(self.config, "flintsearch")
        os.makedirs(directory, exist_ok=True)
        self._replace(os.path.join(directory, "style.css"), text)

    @staticmethod
    def _replace(path, text):
        # Written beside the target and renamed onto it, as editors and
        # theme tools do.
        temporary = path + ".new"
        with open(temporary, "w") as f:
            f.write(text)
        os.replace(temporary, path)

    @property
    def pid_file(self):
        return os.path.join(self.runtime, "flintsearch.pid")

    def pid_file_text(self):
        try:
            with open(self.pid_file) as f:
                return f.read()
        except FileNotFoundError:
            return None

    # -- the stand-in daemon ---------------------------------------------------

    def start_daemon(self, actions):
        """Starts the stand-in; connection N is answered by actions[N]
        (the last one repeats). An action is a dict, or a str reply."""
        if not STANDIN or not os.path.exists(STANDIN):
            raise self.error(f"FLINTSEARCH_STANDIN is missing: {STANDIN!r}")
        script = os.path.join(self.logs, "standin-script.jsonl")
        with open(script, "w") as f:
            for action in actions:
                if isinstance(action, str):
                    action = {"reply": action}
                f.write(json.dumps(action) + "\n")
        ready = os.path.join(self.logs, "standin.ready")
        out = open(self.standin_output, "ab")
        self.daemon = subprocess.Popen(
            ["/usr/bin/python3", STANDIN, "--socket", self.socket_path, "--script", script,
             "--log", self.request_log, "--ready-file", ready],
            stdout=out, stderr=subprocess.STDOUT, env=self.env, start_new_session=True)
        out.close()
        deadline = time.monotonic() + 10
        while not os.path.exists(ready):
            if self.daemon.poll() is not None:
                raise self.error("the stand-in daemon exited during start-up")
            if time.monotonic() > deadline:
                raise self.error("the stand-in daemon did not become ready")
            time.sleep(0.02)

    @property
    def socket_path(self):
        return os.path.join(self.runtime, "flintmill.sock")

    def requests(self):
        """The request lines the stand-in received, exact bytes, LF kept."""
        try:
            with open(self.request_log, "rb") as f:
                data = f.read()
        except FileNotFoundError:
            return []
        return data.splitlines(keepends=True)

    def wait_requests(self, count, timeout=REQUEST_TIMEOUT):
        """Waits for at least count requests; returns the arrival time of the
        last counted one (monotonic clock, polled every 5 ms)."""
        deadline = time.monotonic() + timeout
        while len(self.requests()) < count:
            if time.monotonic() > deadline:
                raise self.error(f"expected {count} request(s), got {len(self.requests())}")
            time.sleep(0.005)
        return time.monotonic()

    # -- launchers -------------------------------------------------------------

    def start(self, *args, program=None):
        """Starts the launcher (or another of its programs); returns its
        Popen (output to log files)."""
        index = len(self.launchers)
        out = open(os.path.join(self.logs, f"launcher{index}.out"), "wb")
        err = open(os.path.join(self.logs, f"launcher{index}.err"), "wb")
        process = subprocess.Popen([program or self.binary, *args], stdout=out, stderr=err,
                                   env=dict(self.env, WAYLAND_DEBUG="1"), cwd=self.home,
                                   **self.popen_user)
        out.close()
        err.close()
        process.index = index
        process.wayland = wayland_log.WaylandLog(err.name)
        self.launchers.append(process)
        return process

    def launcher_output(self, process):
        texts = []
        for kind in ("out", "err"):
            path = os.path.join(self.logs, f"launcher{process.index}.{kind}")
            with open(path, "rb") as f:
                texts.append(wayland_log.without_wayland_lines(
                    f.read().decode("utf-8", "replace")))
        return texts

    @staticmethod
    def window_of(process):
        """The kind of window the process shows ("toplevel" or "layer"), or
        None."""
        return process.wayland.shown()

    def wait_mapped(self, process, timeout=MAP_TIMEOUT, settle=0.4, focus=None):
        """Waits until the launcher shows its window with keyboard focus
        (where the seat has a keyboard: not on weston), then lets it draw its
        first frames. Returns the window's kind."""
        if focus is None:
            focus = COMPOSITOR == "sway"
        deadline = time.monotonic() + timeout
        while True:
            if process.poll() is not None:
                raise self.error(f"the launcher exited with {process.returncode} "
                                 "before its window mapped")
            kind = self.window_of(process)
            if kind is not None and (not focus or process.wayland.focus is not None):
                break
            if time.monotonic() > deadline:
                raise self.error("the launcher's window never mapped with focus")
            time.sleep(0.05)
        time.sleep(settle)
        return kind

    @property
    def resident_socket(self):
        return os.path.join(self.runtime, "flintsearch-resident.sock")

    def start_resident(self):
        """Starts flintsearch-resident and waits until it listens."""
        process = self.start(program=RESIDENT)
        deadline = time.monotonic() + MAP_TIMEOUT
        while not os.path.exists(self.resident_socket):
            if process.poll() is not None or time.monotonic() > deadline:
                raise self.error("the resident did not come up")
            time.sleep(0.02)
        return process

    def wait_unmapped(self, process, timeout=EXIT_TIMEOUT):
        """Waits until the process shows no window."""
        deadline = time.monotonic() + timeout
        while self.window_of(process) is not None:
            if time.monotonic() > deadline:
                raise self.error("the launcher's window is still mapped")
            time.sleep(0.05)

    def launch(self, *args):
        process = self.start(*args)
        self.wait_mapped(process)
        return process

    def wait_exit(self, process, timeout=EXIT_TIMEOUT):
        try:
            return process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise self.error(f"the launcher (pid {process.pid}) still runs after {timeout}s")

    def still_running(self, process, grace=0.6):
        """True when the launcher is still running after a grace period."""
        time.sleep(grace)
        return process.poll() is None

    # -- input -----------------------------------------------------------------

    def type(self, *wtype_args):
        """Runs wtype, e.g. type("abc"), type("-k", "Down"),
        type("-M", "ctrl", "-k", "Return", "-m", "ctrl"). Returns the time
        (monotonic clock) at which wtype had sent its last key."""
        result = subprocess.run(["wtype", *wtype_args], capture_output=True, text=True,
                                timeout=10)
        done = time.monotonic()
        if result.returncode != 0:
            raise self.error(f"wtype {wtype_args} failed: {result.stderr.strip()}")
        # Let the compositor hand the keys on before the next step.
        time.sleep(0.05)
        return done

    def key(self, name, *modifiers):
        args = []
        for m in modifiers:
            args += ["-M", m]
        args += ["-k", name]
        for m in reversed(modifiers):
            args += ["-m", m]
        self.type(*args)

    def park_pointer(self):
        if COMPOSITOR != "sway":
            return
        swaymsg("-q", "seat", "-", "cursor", "set", "2", "2")

    def click(self, x, y):
        """One primary-button click at output coordinates. The pointer is
        warped next to the point and onto it first: it enters a surface only
        on motion, and sway drops a press that follows a warp too closely."""
        swaymsg("-q", "seat", "-", "cursor", "set", str(x + 1), str(y))
        time.sleep(0.1)
        swaymsg("-q", "seat", "-", "cursor", "set", str(x), str(y))
        time.sleep(0.2)
        swaymsg("-q", "seat", "-", "cursor", "press", "button1")
        swaymsg("-q", "seat", "-", "cursor", "release", "button1")

    # -- capture ---------------------------------------------------------------

    def capture(self, x=None, y=None, width=None, height=None):
        """Captures the output (or a region of it) with grim; returns an
        Image whose pixel (0, 0) is the region's top-left corner."""
        path = os.path.join(self.logs, "capture.png")
        args = ["grim"]
        if x is not None:
            args += ["-g", f"{x},{y} {width}x{height}"]
        result = subprocess.run(args + [path], capture_output=True, text=True, timeout=20)
        if result.returncode != 0:
            raise self.error(f"grim failed: {result.stderr.strip()}")
        return png.read(path)

    def desktop_colour(self):
        """The bare desktop's colour: the bottom-left corner is far from the
        panel and its shadow."""
        _, height = output_size()
        return self.capture(0, height - 4, 4, 4).pixel(1, 1)

    # -- stubs -----------------------------------------------------------------

    def calls(self, log):
        try:
            with open(log) as f:
                return parse_calls(f.read())
        except FileNotFoundError:
            return []

    def opened(self):
        """Argument lists xdg-open was started with."""
        return [c["args"] for c in self.calls(self.xdg_open_log)]

    def wait_opened(self, count=1, timeout=EXIT_TIMEOUT):
        deadline = time.monotonic() + timeout
        while len(self.opened()) < count:
            if time.monotonic() > deadline:
                raise self.error(f"xdg-open was not started {count} time(s)")
            time.sleep(0.02)
        return self.opened()

    def killed(self):
        return [c["args"] for c in self.calls(self.kill_log)]

    # -- teardown and diagnostics ----------------------------------------------

    def error(self, message):
        """A failure that carries the diagnostics."""
        return HarnessError(message + "\n" + self.diagnostics())

    def diagnostics(self):
        parts = []
        for process in self.launchers:
            out, err = self.launcher_output(process)
            state = process.poll()
            parts.append(f"--- launcher {process.index} (pid {process.pid}, "
                         f"{'running' if state is None else f'exit {state}'})\n"
                         f"stdout: {out!r}\nstderr:\n{err}")
        for title, path in (("stand-in requests", self.request_log),
                            ("stand-in output", self.standin_output),
                            ("xdg-open calls", self.xdg_open_log),
                            ("kill calls", self.kill_log)):
            try:
                with open(path, "rb") as f:
                    parts.append(f"--- {title}\n{f.read()!r}")
            except FileNotFoundError:
                parts.append(f"--- {title}: none")
        parts.append(f"--- pid file: {self.pid_file_text()!r}")
        for process in self.launchers:
            log = process.wayland.poll()
            parts.append(f"--- launcher {process.index} windows: {log.roles}, "
                         f"keyboard focus: {log.focus}")
        log = os.environ.get("FLINT_SWAY_LOG")
        if log and os.path.exists(log):
            with open(log, errors="replace") as f:
                parts.append("--- sway log (tail)\n" + "".join(f.readlines()[-25:]))
        return "\n".join(parts)

    def close(self):
        for process in self.launchers:
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
                try:
                    process.wait(timeout=3)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        if self.daemon is not None and self.daemon.poll() is None:
            self.daemon.terminate()
            try:
                self.daemon.wait(timeout=3)
            except subprocess.TimeoutExpired:
                self.daemon.kill()
                self.daemon.wait()
        # The next test starts on an empty desktop.
        deadline = time.monotonic() + 5
        pids = {p.pid for p in self.launchers}
        while COMPOSITOR == "sway" and time.monotonic() < deadline:
            try:
                if not any(v.get("pid") in pids for v in views()):
                    break
            except Exception:
                break
            time.sleep(0.05)
        shutil.rmtree(self.root, ignore_errors=True)


class LauncherTestCase(unittest.TestCase):
    """A test with its own Sandbox (self.sandbox). Every failed assertion,
    and every harness time-out, carries the sandbox's diagnostics."""

    def setUp(self):
        self.sandbox = Sandbox()
        self.addCleanup(lambda: self.sandbox.close())

    def fresh_sandbox(self):
        """Replaces the sandbox (for table rows that each need a new one)."""
        self.sandbox.close()
        self.sandbox = Sandbox()
        return self.sandbox

    def _formatMessage(self, msg, standardMsg):
        text = super()._formatMessage(msg, standardMsg)
        try:
            return text + "\n" + self.sandbox.diagnostics()
        except Exception as error:
            return text + f"\n(diagnostics unavailable: {error})"


def main():
    unittest.main(verbosity=2)
