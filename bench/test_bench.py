#!/usr/bin/env python3
"""Checks the parts of bench.py whose faults would silently skew figures:
following the main surface in a WAYLAND_DEBUG log, the 32-bit wrap of its
stamps, and the percentiles."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench  # noqa: E402


def write(path, lines, end="\n"):
    with open(path, "a") as f:
        f.write("\n".join(lines) + end)


class FirstFrame(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.dir.name, "log")

    def tearDown(self):
        self.dir.cleanup()

    def frame_of(self, lines):
        write(self.path, lines)
        log = bench.WaylandLog(self.path)
        return log.wait_frame(timeout=0.05)

    def test_only_a_buffer_commit_on_the_main_surface_counts(self):
        cases = [
            ("xdg toplevel", [
                "[1000.000]  -> wl_compositor@5.create_surface(new id wl_surface@25)",
                # a cursor surface shows a buffer first: not the launcher
                "[1001.000]  -> wl_surface@25.attach(wl_buffer@40, 0, 0)",
                "[1001.100]  -> wl_surface@25.commit()",
                "[1002.000]  -> xdg_wm_base@27.get_xdg_surface(new id xdg_surface@33, "
                "wl_surface@31)",
                # the initial commit carries no buffer
                "[1003.000]  -> wl_surface@31.commit()",
                "[1004.000] xdg_surface@33.configure(7)",
                "[1005.000]  -> wl_surface@31.attach(nil, 0, 0)",
                "[1005.500]  -> wl_surface@31.commit()",
                "[1006.000]  -> wl_surface@31.attach(wl_buffer@36, 0, 0)",
                "[1006.250]  -> wl_surface@31.damage(0, 0, 1920, 1080)",
                "[1006.500]  -> wl_surface@31.commit()",
            ], 1006500),
            ("layer surface", [
                "[2000.000]  -> zwlr_layer_shell_v1@9.get_layer_surface(new id "
                "zwlr_layer_surface_v1@12, wl_surface@11, nil, 3, \"fuzzel\")",
                "[2001.000]  -> wl_surface@11.commit()",
                "[2002.000]  -> wl_surface@11.attach(wl_buffer@20, 0, 0)",
                "[2002.042]  -> wl_surface@11.commit()",
            ], 2002042),
            ("events never count", [
                "[3000.000]  -> xdg_wm_base@2.get_xdg_surface(new id xdg_surface@3, "
                "wl_surface@4)",
                "[3001.000] wl_surface@4.enter(wl_output@9)",
                "[3002.000]  -> wl_surface@4.attach(wl_buffer@5, 0, 0)",
                "[3003.000]  -> wl_surface@4.commit()",
            ], 3003000),
        ]
        for name, lines, expected in cases:
            with self.subTest(name):
                if os.path.exists(self.path):
                    os.unlink(self.path)
                self.assertEqual(self.frame_of(lines), expected)

    def test_a_line_still_being_written_is_read_once_complete(self):
        write(self.path, ["[10.000]  -> xdg_wm_base@2.get_xdg_surface(new id xdg_surface@3, "
                          "wl_surface@4)",
                          "[11.000]  -> wl_surface@4.attach(wl_buffer@5, 0, 0)"])
        write(self.path, ["[12.000]  -> wl_surface@4.com"], end="")
        log = bench.WaylandLog(self.path)
        with self.assertRaises(bench.WaylandLogError):
            log.wait_frame(timeout=0.05)
        write(self.path, ["mit()"])
        self.assertEqual(log.wait_frame(timeout=0.05), 12000)

    def test_frames_before_the_reference_are_skipped_across_the_wrap(self):
        # 4294967.000 ms is just under 2^32 µs; the stamps wrap to 0.
        write(self.path, ["[100.000]  -> xdg_wm_base@2.get_xdg_surface(new id xdg_surface@3, "
                          "wl_surface@4)",
                          "[4294960.000]  -> wl_surface@4.attach(wl_buffer@5, 0, 0)",
                          "[4294960.000]  -> wl_surface@4.commit()",
                          "[0000003.000]  -> wl_surface@4.attach(wl_buffer@6, 0, 0)",
                          "[0000003.000]  -> wl_surface@4.commit()"])
        log = bench.WaylandLog(self.path)
        reply = 4294965000  # µs, after the first frame, before the wrap
        frame = log.wait_frame(after_us=reply, timeout=0.05)
        self.assertEqual(frame, 3000)
        self.assertEqual(bench.since(reply, frame), 2296 + 3000)


class Arithmetic(unittest.TestCase):
    def test_since_wraps_at_32_bits(self):
        for start, end, expected in [(100, 250, 150), (bench.WRAP - 10, 5, 15),
                                     (0, bench.WRAP - 1, bench.WRAP - 1)]:
            with self.subTest(start=start, end=end):
                self.assertEqual(bench.since(start, end), expected)

    def test_percentiles_interpolate(self):
        values = [5, 1, 4, 2, 3]
        for p, expected in [(0, 1), (50, 3), (95, 4.8), (100, 5)]:
            with self.subTest(p=p):
                self.assertAlmostEqual(bench.percentile(values, p), expected)
        self.assertIsNone(bench.percentile([], 50))


if __name__ == "__main__":
    unittest.main()
