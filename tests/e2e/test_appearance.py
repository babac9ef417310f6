#!/usr/bin/env python3
"""What the launcher looks like: the panel's place and colours, taken from
the palette file, and a live repaint when the runtime theme file changes."""
import common
import launcher_harness as h
import panel

# Accents used nowhere else, so a pixel of them can only come from the
# palette file.
ACCENT = "#33cc99"
NEW_ACCENT = "#cc3366"
THEME_RED = (250, 0, 0)


class Appearance(h.LauncherTestCase):
    def setUp(self):
        super().setUp()
        self.sandbox.write_palette({"color1": "#ff0000", "color4": ACCENT})

    def entry_image(self, layout):
        top, bottom = layout.entry
        return self.sandbox.capture(panel.panel_left(), top - 1, h.PANEL_WIDTH, bottom - top + 2)

    def test_panel_is_640_wide_centred_and_120_from_the_top(self):
        s = self.sandbox
        s.launch()
        layout = panel.Layout(s)
        self.assertIsNotNone(layout.entry, "no search entry drawn")
        # The entry fills the panel's top (a 1 px focus line may come first).
        self.assertIn(layout.entry[0], (h.PANEL_TOP, h.PANEL_TOP + 1))
        width, _ = h.output_size()
        row = s.capture(0, layout.entry[1] + 1, width, 1).row(0)
        inside = [x for x, p in enumerate(row) if h.close_to(p, layout.panel_colour, 2)]
        self.assertTrue(inside, f"no panel colour {layout.panel_colour} below the entry")
        self.assertEqual((inside[0], inside[-1] + 1),
                         ((width - h.PANEL_WIDTH) // 2, (width + h.PANEL_WIDTH) // 2))
        # Above the panel there is only desktop (and shadow).
        above = s.capture(width // 2, h.PANEL_TOP - 2, 1, 1).pixel(0, 0)
        self.assertFalse(h.close_to(above, h.SURFACE, 4) or
                         h.close_to(above, layout.panel_colour, 2), f"{above} above the panel")

    def test_the_window_is_an_overlay_of_either_kind(self):
        s = self.sandbox
        desktop = s.desktop_colour()
        launcher = s.launch()
        log = launcher.wayland.poll()
        if s.window_of(launcher) == "layer":
            # What the compositor was asked for, from the client's own log.
            self.assertEqual(len(log.layer_surfaces), 1)
            layer = log.layer_surfaces[0]
            self.assertEqual((layer["namespace"], layer["layer"]), ("flintsearch", 3))
            requests = {name: args.replace(" ", "") for name, args in layer["requests"].items()}
            self.assertEqual(requests.get("set_keyboard_interactivity"), "1")
            self.assertEqual(requests.get("set_anchor"), "15")  # all four edges
            self.assertIn(requests.get("set_exclusive_zone", "0"), ("0",))
        else:
            # An ordinary window, dressed as the overlay: maximized, no title
            # bar, and (checked below) the desktop around the panel.
            self.assertEqual(s.window_of(launcher), "toplevel")
            self.assertIn("set_maximized", [name for _, _, name, _ in log.requests])
        self.assertIsNotNone(log.focus, "typed keys would not reach it")
        self.assertEqual(s.desktop_colour(), desktop, "the window hides the desktop")

    def test_a_floated_window_still_covers_the_output(self):
        # Stacking compositors place a window where they like; a floating
        # window in sway is one of those.
        s = self.sandbox
        h.swaymsg("-q", "for_window", "[app_id=\".*\"]", "floating", "enable")
        try:
            launcher = s.launch()
            if s.window_of(launcher) != "toplevel":
                self.skipTest("a layer surface does not float")
            layout = panel.Layout(s)
            self.assertIsNotNone(layout.entry, "no search entry drawn")
            self.assertIn(layout.entry[0], (h.PANEL_TOP, h.PANEL_TOP + 1))
            width, height = h.output_size()
            s.click(width // 2, height - 40)  # beside the panel, near the bottom
            self.assertEqual(s.wait_exit(launcher), 0)
        finally:
            h.swaymsg("-q", "for_window", "[app_id=\".*\"]", "floating", "disable")

    def test_colours_come_from_the_palette(self):
        s = self.sandbox
        s.launch()
        layout = panel.Layout(s)
        image = self.entry_image(layout)
        self.assertTrue(h.close_to(image.pixel(h.PANEL_WIDTH // 2, image.height // 2), h.SURFACE, 2)
                        or h.find_colour(image, h.SURFACE, 2), "the entry is not surface-coloured")
        found = common.wait_for(s, lambda: h.find_colour(self.entry_image(layout),
                                                       h.hex_colour(ACCENT)),
                                "the palette's accent in the search entry", timeout=5)
        self.assertIsNotNone(found)

    def test_theme_file_change_repaints_without_restart(self):
        s = self.sandbox
        launcher = s.launch()
        x = panel.panel_left() + h.PANEL_WIDTH // 2
        probe = lambda: s.capture(x, h.PANEL_TOP + 2, 1, 1).pixel(0, 0)
        self.assertFalse(h.close_to(probe(), THEME_RED, 30))
        s.write_theme(".launcher-bg { border-top: 6px solid rgb(250, 0, 0); }\n")
        common.wait_for(s, lambda: h.close_to(probe(), THEME_RED, 30),
                        "the theme file's rule on screen")
        self.assertIsNone(launcher.poll())

    def test_launcher_stylesheet_follows_the_palette_over_a_theme_file(self):
        s = self.sandbox
        s.write_theme("/* a theme tool's stylesheet */\n")
        launcher = s.launch()
        # The palette changes, then the theme file: the launcher rebuilds its
        # own stylesheet from the new palette, and that stylesheet (not the
        # theme file) styles the search entry: surface, with the accent caret.
        s.write_palette({"color4": NEW_ACCENT})
        s.write_theme("/* a theme tool's stylesheet, rewritten */\n")
        layout = common.wait_for(s, lambda: panel.Layout(s).entry and panel.Layout(s),
                                 "a surface-coloured search entry (the launcher's own "
                                 "search-entry rule; GTK 4.8 names that node entry.search)",
                                 timeout=3)
        common.wait_for(s, lambda: h.find_colour(self.entry_image(layout), h.hex_colour(NEW_ACCENT)),
                        "the new accent (the caret) in the search entry", timeout=5)
        self.assertIsNone(launcher.poll())


if __name__ == "__main__":
    h.main()
