#!/usr/bin/env python3
"""The pointer: a click outside the panel closes the launcher, a click
inside does not, a click on a hit opens it."""
import subprocess

import common
import launcher_harness as h
import panel

# sway now and then drops a press under load; a click that must have an
# effect is repeated until it has (the effect is the same for every press).
ATTEMPTS = 3


# An ordinary application window, which sway gives the focus when it maps.
OTHER_WINDOW = """
import gi
gi.require_version("Gtk", "4.0")
from gi.repository import GLib, Gtk
Gtk.init()
Gtk.Window(title="other").present()
GLib.MainLoop().run()
"""


class Pointer(h.LauncherTestCase):
    def click_until(self, x, y, done):
        s = self.sandbox
        for _ in range(ATTEMPTS):
            s.click(x, y)
            try:
                return common.wait_for(s, done, "the click's effect", timeout=2)
            except AssertionError:
                continue
        raise s.error(f"{ATTEMPTS} clicks at ({x}, {y}) had no effect")

    def test_click_outside_the_panel_closes(self):
        s = self.sandbox
        launcher = s.launch()
        width, height = h.output_size()
        self.click_until(100, height - 100, lambda: launcher.poll() is not None)
        self.assertEqual(s.wait_exit(launcher), 0)
        self.assertIsNone(s.pid_file_text())

    def test_losing_the_keyboard_to_another_window_closes(self):
        # Another window takes the focus, as after Alt+Tab or a click on
        # another output: the launcher is not left behind it.
        s = self.sandbox
        launcher = s.launch()
        if s.window_of(launcher) == "layer":
            # An overlay layer surface holds the keyboard exclusively: no
            # other window can take it there.
            launcher.kill()
            launcher.wait()
            self.skipTest("the layer surface keeps the keyboard exclusively")
        other = subprocess.Popen(["/usr/bin/python3", "-c", OTHER_WINDOW], env=s.env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            self.assertEqual(s.wait_exit(launcher), 0)
        finally:
            other.terminate()
            other.wait()
        self.assertIsNone(s.pid_file_text())

    def test_click_inside_the_panel_keeps_the_launcher(self):
        s = self.sandbox
        launcher = s.launch()
        layout = panel.Layout(s)
        left = panel.panel_left()
        for x, y in ((left + 200, (layout.entry[0] + layout.entry[1]) // 2),  # the entry
                     (left + 200, layout.entry[1] + 20),  # the hint row
                     (left, layout.entry[0] + 5)):  # the panel's very edge
            with self.subTest(x=x, y=y):
                s.click(x, y)
                self.assertTrue(s.still_running(launcher),
                                f"a click at ({x}, {y}) inside the panel closed the launcher")
        s.park_pointer()
        # The same session's pointer does reach the launcher.
        self.click_until(left - 30, 600, lambda: launcher.poll() is not None)
        self.assertEqual(s.wait_exit(launcher), 0)

    def test_click_on_a_hit_opens_it(self):
        s = self.sandbox
        s.start_daemon([common.hits_reply(*common.THREE_HITS)])
        launcher = s.launch()
        s.type("notes")
        s.wait_requests(1)
        layout = common.wait_selected(s)
        top, bottom = layout.selected
        second_row_y = bottom + (bottom - top) // 2
        self.click_until(panel.panel_left() + 300, second_row_y, s.opened)
        self.assertEqual(s.wait_opened(), [[common.THREE_HITS[1]["path"]]])
        self.assertEqual(s.wait_exit(launcher), 0)


if __name__ == "__main__":
    h.main()
