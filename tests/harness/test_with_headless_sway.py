#!/usr/bin/env python3
"""The compositor wrapper's contract: what CMD gets, the exit statuses, and
that nothing is left behind."""
import os
import subprocess
import tempfile
import unittest

WRAPPER = os.environ.get("FLINT_HEADLESS_SWAY") or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "with-headless-sway")


def run(*args, env=None, timeout=60):
    return subprocess.run([WRAPPER, *args], capture_output=True, text=True, timeout=timeout,
                          env=env)


class Wrapper(unittest.TestCase):
    def test_command_gets_the_compositor_and_its_status_comes_back(self):
        with tempfile.TemporaryDirectory() as tmp:
            env_file = os.path.join(tmp, "env")
            script = ('test -S "$WAYLAND_DISPLAY" && case $WAYLAND_DISPLAY in /*) ;; *) exit 90;; '
                      'esac && swaymsg -t get_outputs -r | tr -d " \\n" | '
                      'grep -q "\\"width\\":800,\\"height\\":600" && '
                      'swaymsg -t get_seats -r | tr -d " \\n" | grep -q "\\"capabilities\\":3" && '
                      'grim -g "0,0 8x8" "$OUT" && '
                      'echo "$GSK_RENDERER $GTK_A11Y $GDK_BACKEND" && exit 7')
            env = dict(os.environ, OUT=os.path.join(tmp, "shot.png"))
            result = run("--size", "800x600", "--env-file", env_file, "--", "sh", "-c", script,
                         env=env)
            self.assertEqual(result.returncode, 7, result.stderr)
            self.assertEqual(result.stdout.strip(), "cairo none wayland")
            self.assertTrue(os.path.getsize(env["OUT"]) > 0)
            with open(env_file) as f:
                names = {line.split("=", 1)[0] for line in f}
            self.assertLessEqual({"WAYLAND_DISPLAY", "SWAYSOCK", "GSK_RENDERER", "GTK_A11Y",
                                  "GDK_BACKEND", "XDG_RUNTIME_DIR"}, names)

    def test_runtime_directory_is_kept_or_provided(self):
        with tempfile.TemporaryDirectory() as own:
            env = dict(os.environ, XDG_RUNTIME_DIR=own)
            result = run("--", "sh", "-c", 'echo "$XDG_RUNTIME_DIR"', env=env)
            self.assertEqual(result.stdout.strip(), own, result.stderr)
        env = {k: v for k, v in os.environ.items() if k != "XDG_RUNTIME_DIR"}
        result = run("--", "sh", "-c", 'test -d "$XDG_RUNTIME_DIR" && echo "$XDG_RUNTIME_DIR"',
                     env=env)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertFalse(os.path.exists(result.stdout.strip()), "private runtime dir left")

    def test_usage_errors_and_start_failures(self):
        table = [
            ("no command", ["--"], {}, 2),
            ("bad size", ["--size", "12", "--", "true"], {}, 2),
            ("unknown option", ["--frobnicate", "--", "true"], {}, 2),
            ("no sway on PATH", ["--", "true"], {"PATH": "/nonexistent"}, 125),
        ]
        for name, args, extra, status in table:
            with self.subTest(name):
                env = dict(os.environ, **extra)
                result = subprocess.run(["/bin/bash", WRAPPER, *args], capture_output=True,
                                        text=True, timeout=60, env=env)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertIn("with-headless-sway", result.stderr)

    def test_nothing_is_left_behind(self):
        # Also after CMD is stopped by a signal (as ctest does on time-out).
        for name, script, status in (("normal end", 'echo "$FLINT_SWAY_LOG"', 0),
                                     ("terminated", 'echo "$FLINT_SWAY_LOG"; kill -TERM $PPID; '
                                                    'exec sleep 30', 143)):
            with self.subTest(name):
                result = run("--", "sh", "-c", script)
                self.assertEqual(result.returncode, status, result.stderr)
                log = result.stdout.strip()
                self.assertTrue(log)
                self.assertFalse(os.path.exists(os.path.dirname(log)), "compositor dir left")


if __name__ == "__main__":
    unittest.main(verbosity=2)
