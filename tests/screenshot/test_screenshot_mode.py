#!/usr/bin/env python3
"""End-to-end tests of the real binary's screenshot mode.

Every case starts its own private headless compositor of the size it needs
($FLINT_HEADLESS_SWAY, else scripts/with-headless-sway), so the output size
is known exactly.

    test_screenshot_mode.py [--binary PATH] [unittest options]

The binary comes from --binary, else $FLINTSEARCH_BINARY.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
import wayland_log  # noqa: E402
WRAPPER = os.environ.get("FLINT_HEADLESS_SWAY", str(REPO / "scripts" / "with-headless-sway"))
BINARY = os.environ.get("FLINTSEARCH_BINARY", "")
RUN_TIMEOUT = 60  # seconds; a "does not hang" bound, not a timing goal

# The grim stand-in: records its arguments (NUL-terminated), its parent's pid
# (the launcher) and when it ran, in the microseconds of WAYLAND_DEBUG's
# stamps (the wall clock, modulo 2^32).
STUB_GRIM = """#!/bin/sh
for a in "$@"; do printf '%s\\0' "$a"; done > "$STUB_DIR/argv"
echo "$PPID" > "$STUB_DIR/ppid"
date +%s%6N > "$STUB_DIR/when"
exit 0
"""

# Runs CMD while recording the compositor's window events.
WATCH_WINDOWS = """#!/bin/sh
out=$1; shift
swaymsg -m -t subscribe '["window"]' > "$out" 2>/dev/null &
watcher=$!
sleep 0.3
status=0
"$@" || status=$?
sleep 0.3
kill "$watcher" 2>/dev/null
wait "$watcher" 2>/dev/null
exit "$status"
"""


def read_png(path, max_rows=None):
    """Returns (width, height, rows of (r, g, b) tuples) for an 8-bit PNG,
    decoding only the first max_rows rows when given (pure Python is slow)."""
    data = Path(path).read_bytes()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos : pos + 4])
        kind = data[pos + 4 : pos + 8]
        body = data[pos + 8 : pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
    width, height, depth, colour, _, _, interlace = header
    channels = {2: 3, 6: 4}.get(colour)
    if depth != 8 or channels is None or interlace != 0:
        raise ValueError(f"unsupported PNG format depth={depth} colour={colour}")
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height if max_rows is None else min(height, max_rows)):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1 : start + 1 + stride])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 0xFF
        rows.append([tuple(line[x * channels : x * channels + 3]) for x in range(width)])
        previous = line
    return width, height, rows


class ScreenshotModeTest(unittest.TestCase):
    def setUp(self):
        self.tmp = Path(tempfile.mkdtemp(prefix="flint-shot-"))
        self.runtime = self.tmp / "runtime"
        self.runtime.mkdir(mode=0o700)
        self.cwd = self.tmp / "cwd"
        self.cwd.mkdir()
        self.stub_dir = self.tmp / "stub"
        self.stub_dir.mkdir()
        grim = self.stub_dir / "grim"
        grim.write_text(STUB_GRIM)
        grim.chmod(0o755)
        watch = self.tmp / "watch-windows"
        watch.write_text(WATCH_WINDOWS)
        watch.chmod(0o755)
        self.watch = watch

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def run_launcher(self, args, size="1920x1080", stub_grim=True, watch_file=None,
                     extra_env=None):
        env = dict(os.environ, **(extra_env or {}))
        for name in ("WAYLAND_DISPLAY", "WAYLAND_SOCKET", "DISPLAY", "DBUS_SESSION_BUS_ADDRESS"):
            env.pop(name, None)
        env.update(
            XDG_RUNTIME_DIR=str(self.runtime),
            XDG_CONFIG_HOME=str(self.tmp / "config"),
            XDG_CACHE_HOME=str(self.tmp / "cache"),
            STUB_DIR=str(self.stub_dir),
        )
        if stub_grim:
            env["PATH"] = f"{self.stub_dir}:{env.get('PATH', '/usr/bin:/bin')}"
        command = [str(WRAPPER), "--size", size, "--"]
        if watch_file is not None:
            command += [str(self.watch), str(watch_file)]
        command += [BINARY] + args
        return subprocess.run(command, cwd=self.cwd, env=env, capture_output=True,
                              timeout=RUN_TIMEOUT)

    def test_unknown_view_exits_1_before_any_window_is_mapped(self):
        for view in ["Search", "", "search ", "searchx", "SEARCH"]:
            with self.subTest(view=view):
                events = self.tmp / "events.json"
                result = self.run_launcher(["--screenshot", view, "--output", "s.png"],
                                           watch_file=events)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertEqual(
                    result.stderr.decode(),
                    f"flintsearch: unknown screenshot view '{view}' (known: search)\n")
                self.assertEqual(result.stdout, b"")
                self.assertEqual(events.read_text().strip(), "", "a window was mapped")
                self.assertFalse((self.stub_dir / "argv").exists(), "grim ran")
                self.assertFalse((self.cwd / "s.png").exists())

    def test_capture_runs_grim_after_map_and_exits_silently(self):
        result = self.run_launcher(
            ["--screenshot", "search", "--output", "shots/today/s.png"],
            extra_env={"WAYLAND_DEBUG": "1"})
        self.assertEqual(result.returncode, 0, result.stderr)
        log_path = self.tmp / "wayland.log"
        log_path.write_bytes(result.stderr)
        self.assertEqual(wayland_log.without_wayland_lines(result.stderr.decode()), "")
        self.assertEqual(result.stdout, b"")
        argv = (self.stub_dir / "argv").read_bytes().split(b"\0")[:-1]
        self.assertEqual(argv, [b"-g", b"0,0 1920x1080", b"shots/today/s.png"])
        self.assertTrue((self.cwd / "shots" / "today").is_dir())
        # grim runs after the launcher's window showed its first frame,
        # whichever kind of window it is.
        log = wayland_log.WaylandLog(str(log_path)).poll()
        self.assertTrue(log.frames, "the launcher never showed a frame")
        grim_at = int((self.stub_dir / "when").read_text()) % wayland_log.WRAP
        self.assertLess(wayland_log.since(log.frames[0], grim_at), wayland_log.WRAP // 2,
                        "grim ran before the first frame")

    def test_size_options_reach_the_geometry(self):
        result = self.run_launcher(
            ["--screenshot", "search", "--output", "s.png", "--width", "1280", "--height", "720"],
            size="1280x720")
        self.assertEqual(result.returncode, 0, result.stderr)
        argv = (self.stub_dir / "argv").read_bytes().split(b"\0")[:-1]
        self.assertEqual(argv, [b"-g", b"0,0 1280x720", b"s.png"])

    def test_too_large_width_fails_without_running_grim(self):
        result = self.run_launcher(
            ["--screenshot", "search", "--output", "s.png", "--width", "4294967295"])
        self.assertEqual(result.returncode, 1)
        self.assertEqual(
            result.stderr.decode(),
            "flintsearch: screenshot capture failed: width 4294967295 is too large for a "
            "capture (at most 2147483647)\n")
        self.assertFalse((self.stub_dir / "argv").exists())

    def test_failing_grim_is_reported(self):
        (self.stub_dir / "grim").write_text("#!/bin/sh\nprintf '  cannot open display\\n' >&2\n"
                                            "exit 1\n")
        result = self.run_launcher(["--screenshot", "search", "--output", "s.png"])
        self.assertEqual(result.returncode, 1)
        self.assertEqual(
            result.stderr.decode(),
            "flintsearch: screenshot capture failed: grim failed for geometry 0,0 1920x1080: "
            "cannot open display\n")

    def test_real_capture_shows_the_panel(self):
        for size in ["1920x1080", "1280x720"]:
            with self.subTest(size=size):
                width, height = map(int, size.split("x"))
                out = self.cwd / f"shot-{size}.png"
                result = self.run_launcher(
                    ["--screenshot", "search", "--output", out.name,
                     "--width", str(width), "--height", str(height)],
                    size=size, stub_grim=False)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stderr, b"")
                w, h, rows = read_png(out, max_rows=320)
                self.assertEqual((w, h), (width, height))
                background = rows[5][5]
                for x, y in [(5, 300), (width - 5, 300), (width // 2, 20)]:
                    self.assertEqual(rows[y][x], background,
                                     f"pixel {x},{y}: the desktop should show around the panel")
                # The panel: 640 px wide, centred, from 120 px below the top.
                centre = width // 2
                for x, y in [(centre, 135), (centre - 300, 140), (centre + 300, 140),
                             (centre, 165)]:
                    self.assertNotEqual(rows[y][x], background,
                                        f"pixel {x},{y} shows no panel")

    def test_screenshot_run_leaves_a_running_launchers_pid_file_alone(self):
        pid_file = self.runtime / "flintsearch.pid"
        pid_file.write_text(str(os.getpid()))
        result = self.run_launcher(["--screenshot", "search", "--output", "s.png"])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(pid_file.read_text(), str(os.getpid()))
        result = self.run_launcher(["--screenshot", "nope", "--output", "s.png"])
        self.assertEqual(result.returncode, 1)
        self.assertEqual(pid_file.read_text(), str(os.getpid()))


if __name__ == "__main__":
    args = sys.argv[1:]
    if len(args) >= 2 and args[0] == "--binary":
        BINARY = args[1]
        args = args[2:]
    if not BINARY:
        sys.exit("test_screenshot_mode.py: no binary (--binary PATH or FLINTSEARCH_BINARY)")
    BINARY = str(Path(BINARY).resolve())
    unittest.main(argv=[sys.argv[0]] + args)
