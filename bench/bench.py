#!/usr/bin/env python3
"""Measures the launcher beside a GTK 4 floor and other launchers.

    bench.py --build DIR [--runs N] [--quick] [--no-bus] [--only TEXT]

Runs inside a private headless compositor (scripts/bench starts it) and
prints one table. What it measures, and how:

- First frame, for the launcher, bench_floor (the least a GTK 4 program
  needs to show the same widgets), the same floor inside a GtkApplication
  ("app floor", as the launcher must be built) and fuzzel, tofi and wofi:
  from exec (bench_run stamps CLOCK_REALTIME and execs in the
  same process) to the first wl_surface.commit after an attach of a
  non-null buffer on the client's main surface (the one handed to
  get_xdg_surface or get_layer_surface), read from WAYLAND_DEBUG=1. That log
  stamps each message with CLOCK_REALTIME in microseconds, truncated to 32
  bits (it wraps every 71.6 minutes) and printed as [ms.us], so both ends
  are compared modulo 2^32 microseconds.
- Idle memory: Rss and Pss of /proc/PID/smaps_rollup once the first frame
  is on screen and the client has been idle for a moment.
- Closing press: exec of a second launcher until it exits, having stopped
  the first (bench_run time: spawn to reaped exit); beside it the same
  binary's --help (loading alone) and LD_DEBUG=statistics. The executable
  links no GTK (the interface module is loaded only by a start that shows a
  window), so neither pays for GTK's libraries.
- Keystroke to request: from the last key press of a typed word (wtype's
  own WAYLAND_DEBUG stamp of its virtual-keyboard request) to the arrival of
  the request's line feed at the stand-in daemon (its --timing-log).
- Reply to rows: from just before the daemon writes its reply to the next
  frame commit on the launcher's surface (caret blinking off; every reply
  has other titles, since rows identical to those on screen need no frame).
- WAYLAND_DEBUG's own cost: the floor's exec-to-exit time when it quits
  right after its first frame, with and without the log.
- Main-loop stalls: the longest iteration of the default main context while
  typing with searches in flight (from the end of a first warm-up word to
  the last rendered reply), from the bench_loop_shim.so preload.
- Reply decoding: bench_decode (decode_response and send_request_to).
- Replies of any size (the stand-in's --shape: 10, 1,000 and 100,000 hits,
  one hit with a 10 MB snippet line, 60 MiB of empty hits, 60 MiB of
  nested "["): the longest
  main-loop iteration from the reply on, the launcher's peak RSS (VmHWM)
  3 s later, and how long Escape then takes to end it.
- The resident: with flintsearch-resident running, exec of flintsearch
  until the resident's next frame (the opening press), exec to exit of the
  press that hides it, and the hidden resident's Rss/Pss and CPU over 10 s.
"""
import argparse
import json
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from wayland_log import MESSAGE, WRAP, WaylandLog, WaylandLogError, since  # noqa: E402,F401


def now_us():
    return time.time_ns() // 1000


def median(values):
    return statistics.median(values) if values else None


def percentile(values, p):
    if not values:
        return None
    ordered = sorted(values)
    rank = p / 100 * (len(ordered) - 1)
    low = int(rank)
    high = min(low + 1, len(ordered) - 1)
    return ordered[low] + (ordered[high] - ordered[low]) * (rank - low)


# One error for every figure that could not be taken, the log's included.
BenchError = WaylandLogError


class Sandbox:
    """Private XDG directories and environment for one client."""

    def __init__(self, root, name, bus_address):
        self.dir = os.path.join(root, name)
        self.runtime = self._dir("run", 0o700)
        self.config = self._dir("config")
        self.cache = self._dir("cache")
        self.home = self._dir("home")
        self.env = dict(os.environ)
        for var in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DEBUG", "LD_PRELOAD"):
            self.env.pop(var, None)
        self.env.update({"XDG_RUNTIME_DIR": self.runtime, "XDG_CONFIG_HOME": self.config,
                         "XDG_CACHE_HOME": self.cache, "HOME": self.home,
                         "GSK_RENDERER": "cairo", "GTK_A11Y": "none", "NO_AT_BRIDGE": "1",
                         "GDK_BACKEND": "wayland"})
        if bus_address:
            self.env["DBUS_SESSION_BUS_ADDRESS"] = bus_address

    def _dir(self, name, mode=0o755):
        path = os.path.join(self.dir, name)
        os.makedirs(path, exist_ok=True)
        os.chmod(path, mode)
        return path

    @property
    def socket(self):
        return os.path.join(self.runtime, "flintmill.sock")

    def no_caret_blink(self):
        directory = os.path.join(self.config, "gtk-4.0")
        os.makedirs(directory, exist_ok=True)
        with open(os.path.join(directory, "settings.ini"), "w") as f:
            f.write("[Settings]\ngtk-cursor-blink=false\n")


class Bench:
    def __init__(self, args):
        self.args = args
        self.build = os.path.abspath(args.build)
        self.binary = os.path.join(self.build, "src", "flintsearch")
        self.floor = os.path.join(self.build, "bench", "bench_floor")
        self.run_tool = os.path.join(self.build, "bench", "bench_run")
        self.shim = os.path.join(self.build, "bench", "bench_loop_shim.so")
        self.decoder = os.path.join(self.build, "bench", "bench_decode")
        self.standin = os.path.join(ROOT, "tests", "standin", "flintmill_standin.py")
        self.root = tempfile.mkdtemp(prefix="flint-bench-")
        self.bus = None
        self.bus_address = None
        self.children = []
        self.results = {}

    # -- plumbing ----------------------------------------------------------

    def start_bus(self):
        if self.args.no_bus or shutil.which("dbus-daemon") is None:
            return
        self.bus = subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--print-address=1"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.bus_address = self.bus.stdout.readline().strip()

    def cleanup(self):
        for process in self.children + ([self.bus] if self.bus else []):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=3)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        if os.environ.get("BENCH_KEEP"):
            print(f"bench: files kept in {self.root}", file=sys.stderr)
        else:
            shutil.rmtree(self.root, ignore_errors=True)

    def spawn(self, args, env, **kwargs):
        process = subprocess.Popen(args, env=env, **kwargs)
        self.children.append(process)
        return process

    def stop(self, process, timeout=5.0):
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        if process in self.children:
            self.children.remove(process)

    def close_launcher(self, launcher, sandbox):
        """Ends a launcher the way a user does, with a second start (the
        toggle's closing press); a launcher that outlives it is stopped."""
        self.timed([self.binary], sandbox.env)
        try:
            launcher.wait(timeout=5)
        except subprocess.TimeoutExpired:
            pass
        self.stop(launcher)

    def timed(self, args, env, stderr=subprocess.DEVNULL):
        """Spawn-to-exit microseconds and exit status, from bench_run time."""
        out = subprocess.run([self.run_tool, "time", "--", *args], env=env, stdout=subprocess.PIPE,
                             stderr=stderr, text=True, timeout=30, check=True).stdout.split()
        return int(out[0]), int(out[1])

    def start_daemon(self, sandbox, hits=10, delay_ms=0, standin=False, shape=None):
        log = os.path.join(sandbox.dir, "daemon.log")
        ready = os.path.join(sandbox.dir, "daemon.ready")
        for path in (log, ready):
            if os.path.exists(path):
                os.unlink(path)
        args = [sys.executable, self.standin, "--socket", sandbox.socket, "--ready-file", ready]
        if not standin:
            args += ["--timing-log", log, "--delay-ms", str(delay_ms)]
            args += ["--shape", shape] if shape else ["--hits", str(hits)]
        process = self.spawn(args, sandbox.env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not os.path.exists(ready):
            if process.poll() is not None or time.monotonic() > deadline:
                raise BenchError("the daemon did not start")
            time.sleep(0.01)
        return process, log

    def start_logged(self, sandbox, command, tag, stdin_text=None, extra_env=None):
        """Starts a client with WAYLAND_DEBUG=1; returns the process, its
        exec stamp (µs mod 2^32) and its WaylandLog."""
        stamp = os.path.join(sandbox.dir, f"{tag}.stamp")
        log = os.path.join(sandbox.dir, f"{tag}.wayland")
        env = dict(sandbox.env, WAYLAND_DEBUG="1", **(extra_env or {}))
        with open(log, "w") as err:
            process = self.spawn([self.run_tool, "stamp", stamp, "--", *command], env,
                                 stdin=subprocess.PIPE if stdin_text is not None else
                                 subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=err)
        if stdin_text is not None:
            process.stdin.write(stdin_text.encode())
            process.stdin.close()
        wayland = WaylandLog(log)
        deadline = time.monotonic() + 10
        while not os.path.exists(stamp) or os.path.getsize(stamp) == 0:
            if time.monotonic() > deadline or process.poll() is not None:
                raise BenchError(f"{command[0]} did not start")
            time.sleep(0.001)
        with open(stamp) as f:
            started = int(f.read()) % WRAP
        return process, started, wayland

    def start_watched(self, name, threshold_us, caret_blinks=False, **daemon_args):
        """A sandbox with a timing daemon (daemon_args go to start_daemon) and
        a launcher whose main-loop iterations over threshold_us are logged,
        up and idle: (sandbox, daemon, daemon log, launcher, its WaylandLog,
        the iteration log). The Wayland log tells when the window is up,
        whichever kind it is (a layer surface is not in sway's tree)."""
        sandbox = Sandbox(self.root, name, self.bus_address)
        if not caret_blinks:
            sandbox.no_caret_blink()
        daemon, log = self.start_daemon(sandbox, **daemon_args)
        stalls = os.path.join(sandbox.dir, "loop.log")
        launcher, _, wayland = self.start_logged(
            sandbox, [self.binary], "launcher",
            extra_env={"LD_PRELOAD": self.shim, "BENCH_LOOP_LOG": stalls,
                       "BENCH_LOOP_THRESHOLD_US": str(threshold_us)})
        wayland.wait_frame(process=launcher)
        time.sleep(0.5)
        return sandbox, daemon, log, launcher, wayland, stalls

    @staticmethod
    def memory(pid):
        values = {}
        with open(f"/proc/{pid}/smaps_rollup") as f:
            for line in f:
                key, _, rest = line.partition(":")
                if key in ("Rss", "Pss"):
                    values[key] = int(rest.split()[0]) / 1024  # MiB
        return values

    # -- 1-3: start-up, memory, closing press ------------------------------

    def clients(self):
        floor = [self.floor]
        # The same floor inside a GtkApplication and a GtkApplicationWindow,
        # as the launcher must be: what the application object costs.
        found = [("flintsearch", [self.binary], None), ("floor", floor, None),
                 ("app floor", floor + ["--application"], None)]
        others = {
            "fuzzel": (["fuzzel", "--dmenu"], "Type to search\n"),
            "tofi": (["tofi"], "Type to search\n"),
            "wofi": (["wofi", "--show", "dmenu"], "Type to search\n"),
        }
        missing = []
        for name, (command, stdin_text) in others.items():
            if shutil.which(command[0]):
                found.append((name, command, stdin_text))
            else:
                missing.append(name)
        return found, missing

    def startup(self):
        clients, missing = self.clients()
        self.results["missing"] = missing
        sandboxes = {name: Sandbox(self.root, "start-" + name.replace(" ", "-"), self.bus_address)
                     for name, _, _ in clients}
        daemon, _ = self.start_daemon(sandboxes["flintsearch"], standin=True)
        frames = {name: [] for name, _, _ in clients}
        memory = {name: [] for name, _, _ in clients}
        closing = []
        closing_stopped = 0
        runs = self.args.runs
        failed = {}
        for run in range(runs + 1):  # run 0 warms the caches up
            for name, command, stdin_text in clients:
                if name in failed:
                    continue
                sandbox = sandboxes[name]
                process, started, wayland = self.start_logged(sandbox, command, f"run{run}",
                                                               stdin_text)
                try:
                    frame = wayland.wait_frame(process=process)
                except BenchError as e:
                    if name in ("flintsearch", "floor"):
                        raise
                    # Another launcher that cannot start here is reported,
                    # not allowed to end the whole bench.
                    failed[name] = str(e)
                    self.stop(process)
                    continue
                time.sleep(self.args.settle)
                if run > 0:
                    frames[name].append(since(started, frame) / 1000)
                    memory[name].append(self.memory(process.pid))
                if name == "flintsearch":
                    elapsed, status = self.timed([self.binary], sandbox.env)
                    try:
                        process.wait(timeout=5)
                    except subprocess.TimeoutExpired:
                        raise BenchError("a second start did not stop the running launcher")
                    self.children.remove(process)
                    if run > 0:
                        closing.append(elapsed / 1000)
                        closing_stopped += status == 0 and process.returncode == -signal.SIGTERM
                else:
                    self.stop(process)
                time.sleep(0.1)
        self.stop(daemon)
        self.results["failed"] = failed
        self.results["frames"] = frames
        self.results["memory"] = memory
        self.results["closing"] = closing
        self.results["closing_stopped"] = closing_stopped
        self.loader_figures(sandboxes["flintsearch"])

    def loader_figures(self, sandbox):
        """What the closing press costs before main: exec of the same binary
        for --help (loading, relocation, constructors, option parsing) and
        the loader's own statistics."""
        helps, trues = [], []
        for _ in range(max(self.args.runs, 5)):
            helps.append(self.timed([self.binary, "--help"], sandbox.env)[0] / 1000)
            trues.append(self.timed(["/bin/true"], sandbox.env)[0] / 1000)
        self.results["help"] = helps
        self.results["true"] = trues
        env = dict(sandbox.env, LD_DEBUG="statistics")
        text = subprocess.run([self.binary, "--help"], env=env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, text=True, timeout=30).stderr
        stats = {}
        ldd = subprocess.run(["ldd", self.binary], capture_output=True, text=True).stdout
        stats["objects"] = sum(1 for line in ldd.splitlines() if "=>" in line)
        for key, pattern in (("startup", r"total startup time in dynamic loader:\s*([\d,]+)"),
                             ("relocation", r"time needed for relocation:\s*([\d,]+)"),
                             ("relocations", r"number of relocations:\s*([\d,]+)")):
            m = re.search(pattern, text)
            if m:
                stats[key] = int(m.group(1).replace(",", ""))
        unit = re.search(r"total startup time in dynamic loader:\s*[\d,]+\s*(\w+)", text)
        stats["unit"] = unit.group(1) if unit else "?"
        self.results["loader"] = stats

    def wayland_debug_cost(self):
        """The floor's exec-to-exit time when it quits right after its first
        frame, with and without WAYLAND_DEBUG=1."""
        sandbox = Sandbox(self.root, "debug-cost", self.bus_address)
        plain, logged = [], []
        for run in range(self.args.runs + 1):
            log = os.path.join(sandbox.dir, "floor.wayland")
            a = self.timed([self.floor, "--exit-after-frame"], sandbox.env)[0] / 1000
            with open(log, "w") as err:
                b = self.timed([self.floor, "--exit-after-frame"],
                               dict(sandbox.env, WAYLAND_DEBUG="1"), stderr=err)[0] / 1000
            if run > 0:
                plain.append(a)
                logged.append(b)
            time.sleep(0.1)
        self.results["debug_cost"] = (plain, logged)

    # -- 4 and 6: keystroke to request, main-loop stalls -----------------

    def type_word(self, text, env):
        """Types text with wtype; returns the stamp (µs mod 2^32) of the last
        key press request wtype sent."""
        result = subprocess.run(["wtype", "-d", "25", text], env=dict(env, WAYLAND_DEBUG="1"),
                                capture_output=True, text=True, timeout=20)
        if result.returncode != 0:
            raise BenchError(f"wtype failed: {result.stderr[-300:]}")
        last = None
        for line in result.stderr.splitlines():
            m = MESSAGE.match(line)
            if m and m.group(3) and m.group(6) == "key" and m.group(7).replace(" ", "").endswith(
                    ",1"):
                last = int(m.group(1)) * 1000 + int(m.group(2))
        if last is None:
            raise BenchError("no key press in wtype's log")
        return last

    @staticmethod
    def daemon_entries(log):
        try:
            with open(log) as f:
                return [json.loads(line) for line in f if line.strip()]
        except FileNotFoundError:
            return []

    def wait_entries(self, log, count, timeout=10.0):
        deadline = time.monotonic() + timeout
        while True:
            entries = self.daemon_entries(log)
            if len(entries) >= count:
                return entries
            if time.monotonic() > deadline:
                raise BenchError(f"the daemon saw {len(entries)} requests, expected {count}")
            time.sleep(0.002)

    def typing(self):
        # The reply comes 60 ms after the request, while the next word is
        # being typed: searches are in flight as the user types.
        sandbox, daemon, log, launcher, _, stalls = self.start_watched(
            "typing", 1000, caret_blinks=True, hits=10, delay_ms=60)
        words = ["quarterly", "report", "revenue", "hosting", "support", "draft", "costs",
                 "third", "growth", "flat", "summary", "budget"]
        count = self.args.words + 1  # the first word only warms up
        # One wtype run types every word, 25 ms between keys and a pause of
        # 450 ms after each word (past the debounce, the reply and its
        # rows). One run means one virtual keyboard: a new wtype uploads a
        # keymap of its own, which the launcher then compiles, a cost no
        # real keyboard brings with every word.
        command = ["wtype", "-d", "25"]
        expected = []
        typed = ""
        for i in range(count):
            word = words[i % len(words)]
            text = word if not typed else " " + word
            typed += text
            expected.append(typed)
            command += [text] + (["-s", "450"] if i + 1 < count else [])
        result = subprocess.run(command, env=dict(sandbox.env, WAYLAND_DEBUG="1"),
                                capture_output=True, text=True, timeout=120)
        if result.returncode != 0:
            raise BenchError(f"wtype failed: {result.stderr[-300:]}")
        presses = []
        for line in result.stderr.splitlines():
            m = MESSAGE.match(line)
            if m and m.group(3) and m.group(6) == "key" and \
                    m.group(7).replace(" ", "").endswith(",1"):
                presses.append(int(m.group(1)) * 1000 + int(m.group(2)))
        # The last press of each word: the one before a pause.
        last_keys = [p for p, q in zip(presses, presses[1:]) if since(p, q) > 200_000]
        last_keys.append(presses[-1])
        if len(last_keys) != count:
            raise BenchError(f"found {len(last_keys)} words in wtype's log, typed {count}")
        entries = self.wait_entries(log, count)
        latencies = []
        for i, (entry, key) in enumerate(zip(entries, last_keys)):
            if entry["query"] != expected[i]:
                raise BenchError(f"request {i + 1} asked for {entry['query']!r}, "
                                 f"typed {expected[i]!r}")
            if i > 0:
                latencies.append(since(key, entry["arrive_us"] % WRAP) / 1000)
        time.sleep(0.3)  # the last reply renders
        phase_start = last_keys[0]
        phase_length = since(phase_start, now_us() % WRAP)
        self.close_launcher(launcher, sandbox)
        self.stop(daemon)
        iterations = []
        with open(stalls) as f:
            for line in f:
                start, length = (int(v) for v in line.split())
                if since(phase_start, start % WRAP) <= phase_length:
                    iterations.append(length / 1000)
        self.results["keystroke"] = latencies
        self.results["iterations"] = iterations

    # -- 5: reply to rows ----------------------------------------------------

    def reply_to_rows(self, hits, samples):
        sandbox, daemon, log, launcher, wayland, _ = self.start_watched(
            f"rows-{hits}", 2000, hits=hits)
        latencies = []
        for i in range(samples):
            self.type_word("abcdefghijklmnopqrstuvwxyz"[i % 26], sandbox.env)
            entry = self.wait_entries(log, i + 1)[i]
            reply = entry["reply_us"] % WRAP
            frame = wayland.wait_frame(after_us=reply, timeout=20, process=launcher)
            latencies.append(since(reply, frame) / 1000)
            time.sleep(0.35)
        self.close_launcher(launcher, sandbox)
        self.stop(daemon)
        self.results[f"rows{hits}"] = latencies

    # -- 9: the resident instance -------------------------------------------

    def resident(self):
        """With flintsearch-resident running: exec of flintsearch until the
        resident's next frame (the opening press), exec to exit of the press
        that hides it, and the resident's memory and CPU while hidden."""
        sandbox = Sandbox(self.root, "resident", self.bus_address)
        sandbox.no_caret_blink()
        daemon, _ = self.start_daemon(sandbox, standin=True)
        resident_binary = os.path.join(os.path.dirname(self.binary), "flintsearch-resident")
        resident, _, wayland = self.start_logged(sandbox, [resident_binary], "resident")
        socket_path = os.path.join(sandbox.runtime, "flintsearch-resident.sock")
        deadline = time.monotonic() + 15
        while not os.path.exists(socket_path):
            if resident.poll() is not None or time.monotonic() > deadline:
                raise BenchError("the resident did not come up")
            time.sleep(0.01)
        time.sleep(1.0)
        opening, hiding = [], []
        for run in range(self.args.runs + 1):
            stamp = os.path.join(sandbox.dir, f"press{run}.stamp")
            subprocess.run([self.run_tool, "stamp", stamp, "--", self.binary], env=sandbox.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=10,
                           check=True)
            with open(stamp) as f:
                pressed = int(f.read()) % WRAP
            frame = wayland.wait_frame(after_us=pressed, process=resident)
            time.sleep(self.args.settle)
            elapsed, status = self.timed([self.binary], sandbox.env)
            deadline = time.monotonic() + 5
            while wayland.shown() is not None:
                if time.monotonic() > deadline:
                    raise BenchError("the resident's window did not hide")
                time.sleep(0.005)
            if run > 0:
                opening.append(since(pressed, frame) / 1000)
                hiding.append(elapsed / 1000)
            time.sleep(0.2)
        time.sleep(1.0)
        memory = self.memory(resident.pid)

        def cpu_ticks():
            with open(f"/proc/{resident.pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            return int(fields[11]) + int(fields[12])  # utime + stime

        before, start = cpu_ticks(), time.monotonic()
        time.sleep(10.0)
        ticks = cpu_ticks() - before
        cpu = ticks / os.sysconf("SC_CLK_TCK") / (time.monotonic() - start) * 100
        self.stop(resident)
        self.stop(daemon)
        self.results["resident"] = {"opening": opening, "hiding": hiding, "memory": memory,
                                    "cpu": cpu, "ticks": ticks}

    # -- 8: replies of any size ---------------------------------------------

    def replies(self):
        """For each shape of reply: the longest main-loop iteration from the
        reply to the last row, the launcher's peak resident memory, and how
        long Escape then takes to end it."""
        shapes = ["hits:10", "hits:1000", "hits:100000", "snippet-10mb", "empty-hits-60mib",
                  "nested-60mib"]
        figures = {}
        for shape in shapes:
            sandbox, daemon, log, launcher, wayland, stalls = self.start_watched(
                "reply-" + shape.replace(":", "-"), 1000, shape=shape)
            self.type_word("q", sandbox.env)
            entry = self.wait_entries(log, 1, timeout=60)[0]
            reply = entry["reply_us"] % WRAP
            time.sleep(3.0)  # decoding and every batch of rows
            with open(f"/proc/{launcher.pid}/status") as f:
                peak = next(int(line.split()[1]) for line in f if line.startswith("VmHWM:"))
            start = time.monotonic()
            subprocess.run(["wtype", "-k", "Escape"], env=sandbox.env, timeout=20)
            try:
                launcher.wait(timeout=20)
                escape_ms = (time.monotonic() - start) * 1000
            except subprocess.TimeoutExpired:
                escape_ms = None
                self.stop(launcher)
            self.stop(daemon)
            longest = 0.0
            with open(stalls) as f:
                for line in f:
                    begin, length = (int(v) for v in line.split())
                    if since(reply, begin % WRAP) < WRAP // 2:
                        longest = max(longest, length / 1000)
            figures[shape] = (longest, peak / 1024, escape_ms)
        self.results["replies"] = figures

    # -- 7: decoding -------------------------------------------------------

    def decoding(self):
        args = [self.decoder] + (["--quick"] if self.args.quick else [])
        self.results["decode"] = subprocess.run(args, capture_output=True, text=True, timeout=600,
                                                check=True).stdout.splitlines()

    # -- the table -----------------------------------------------------------

    def report(self):
        r = self.results
        out = []

        def fmt(value, digits=1):
            return "-" if value is None else f"{value:.{digits}f}"

        load = os.getloadavg()
        out.append(f"flintsearch bench: {self.args.runs} runs after a warm-up, "
                   f"load average {load[0]:.2f} {load[1]:.2f}, "
                   f"session bus {'yes' if self.bus_address else 'no'}")
        out.append("")
        names = ["flintsearch", "floor", "app floor", "fuzzel", "tofi", "wofi"]
        header = f"{'':34}" + "".join(f"{n:>13}" for n in names)
        out.append(header)
        frames = r.get("frames", {})

        def row(label, values):
            out.append(f"{label:34}" + "".join(f"{v:>13}" for v in values))

        def per_client(fn):
            values = []
            for n in names:
                if n in r.get("missing", []):
                    values.append("not installed")
                elif n in r.get("failed", {}):
                    values.append("failed")
                elif n in frames and frames[n]:
                    values.append(fn(n))
                else:
                    values.append("-")
            return values

        row("first frame, median ms", per_client(lambda n: fmt(median(frames[n]))))
        row("first frame, min-max ms",
            per_client(lambda n: f"{min(frames[n]):.0f}-{max(frames[n]):.0f}"))
        floor = median(frames.get("floor", [])) if frames.get("floor") else None
        row("first frame / floor",
            per_client(lambda n: fmt(median(frames[n]) / floor, 2) if floor else "-"))
        app_floor = median(frames["app floor"]) if frames.get("app floor") else None
        row("first frame / app floor",
            per_client(lambda n: fmt(median(frames[n]) / app_floor, 2) if app_floor else "-"))
        mem = r.get("memory", {})
        row("idle RSS, median MiB",
            per_client(lambda n: fmt(median([m["Rss"] for m in mem[n]]))))
        row("idle PSS, median MiB",
            per_client(lambda n: fmt(median([m["Pss"] for m in mem[n]]))))
        out.append("")
        closing = r.get("closing", [])
        if closing:
            out.append(f"closing press (second start until it exits): median "
                       f"{fmt(median(closing))} ms, p95 {fmt(percentile(closing, 95))} ms, "
                       f"{r['closing_stopped']}/{len(closing)} stopped the running launcher "
                       f"(goal < 20 ms)")
            out.append(f"  the same binary for --help (loading, no toggle): median "
                       f"{fmt(median(r['help']))} ms; /bin/true: median {fmt(median(r['true']))} ms")
            loader = r.get("loader", {})
            if loader:
                out.append(f"  LD_DEBUG=statistics (--help): {loader.get('objects', '?')} libraries, "
                           f"{loader.get('relocations', '?')} relocations, startup "
                           f"{loader.get('startup', '?')} {loader['unit']}, of which relocation "
                           f"{loader.get('relocation', '?')} {loader['unit']}")
        if "debug_cost" in r:
            plain, logged = r["debug_cost"]
            out.append(f"WAYLAND_DEBUG cost (floor, exec to exit after its first frame): "
                       f"{fmt(median(plain))} ms plain, {fmt(median(logged))} ms logged, "
                       f"difference {fmt(median(logged) - median(plain))} ms")
        keys = r.get("keystroke", [])
        if keys:
            out.append(f"keystroke to request ({len(keys)} words): p50 "
                       f"{fmt(percentile(keys, 50))} ms, p95 {fmt(percentile(keys, 95))} ms, "
                       f"max {fmt(max(keys))} ms (goal p95 <= 155 ms; 150 ms is the debounce)")
        for hits in (10, 1000):
            rows = r.get(f"rows{hits}", [])
            if rows:
                goal = " (goal <= 20 ms)" if hits == 10 else ""
                out.append(f"reply to rows, {hits} hits ({len(rows)} samples): p50 "
                           f"{fmt(percentile(rows, 50))} ms, p95 {fmt(percentile(rows, 95))} ms, "
                           f"max {fmt(max(rows))} ms{goal}")
        if "iterations" in r:
            its = r["iterations"]
            longest = max(its) if its else 0.0
            over = sum(1 for v in its if v > 16)
            out.append(f"main loop while typing: longest iteration {fmt(longest)} ms, "
                       f"{over} over 16 ms, {sum(1 for v in its if v > 4)} over 4 ms "
                       f"(goal: none over 16 ms)")
        if "resident" in r:
            res = r["resident"]
            out.append(f"resident: opening press (exec of flintsearch to the resident's next "
                       f"frame) median {fmt(median(res['opening']))} ms "
                       f"(min {fmt(min(res['opening']))}, max {fmt(max(res['opening']))}); "
                       f"hiding press median {fmt(median(res['hiding']))} ms (goal <= 5 ms)")
            out.append(f"  hidden: RSS {fmt(res['memory'].get('Rss'))} MiB, PSS "
                       f"{fmt(res['memory'].get('Pss'))} MiB, CPU {fmt(res['cpu'], 2)} % "
                       f"over 10 s ({res['ticks']} clock ticks; goal 0 %)")
        if "replies" in r:
            out.append("replies of any size (goals: longest iteration <= 50 ms, peak RSS <= 256 MiB):")
            out.append(f"  {'reply':18}{'longest iteration':>20}{'peak RSS':>12}{'Escape':>10}")
            for shape, (longest, peak, escape) in r["replies"].items():
                out.append(f"  {shape:18}{fmt(longest) + ' ms':>20}{fmt(peak) + ' MiB':>12}"
                           f"{(fmt(escape) + ' ms') if escape is not None else 'never':>10}")
        if "decode" in r:
            out.append("reply decoding:")
            out.extend("  " + line for line in r["decode"])
        for name, why in r.get("failed", {}).items():
            out.append(f"{name} failed: {why}")
        print("\n".join(out), flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--runs", type=int, default=None)
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--no-bus", action="store_true")
    parser.add_argument("--only", help="run only the steps whose title contains this text")
    args = parser.parse_args()
    if args.runs is None:
        args.runs = 3 if args.quick else 9
    args.settle = 0.3 if args.quick else 0.6
    args.words = 6 if args.quick else 20
    args.row_samples = 4 if args.quick else 12
    if "WAYLAND_DISPLAY" not in os.environ:
        sys.exit("bench.py: run it through scripts/bench (no compositor here)")

    bench = Bench(args)
    try:
        bench.start_bus()
        steps = [("start-up, memory, closing press", bench.startup),
                 ("WAYLAND_DEBUG cost", bench.wayland_debug_cost),
                 ("keystroke to request, main-loop stalls", bench.typing),
                 ("reply to rows, 10 hits", lambda: bench.reply_to_rows(10, args.row_samples)),
                 ("reply to rows, 1000 hits",
                  lambda: bench.reply_to_rows(1000, max(2, args.row_samples // 3))),
                 ("reply decoding", bench.decoding),
                 ("replies of any size", bench.replies),
                 ("the resident instance", bench.resident)]
        for title, step in steps:
            if args.only and args.only not in title:
                continue
            print(f"bench: {title} ...", file=sys.stderr, flush=True)
            step()
        bench.report()
    except BenchError as e:
        print(f"bench: {e}", file=sys.stderr)
        return 1
    finally:
        bench.cleanup()
    return 0


if __name__ == "__main__":
    sys.exit(main())
