"""Finding the launcher's panel and rows in captures.

The desktop is a flat grey, the panel is bg at 0.6 over it, and the search
entry and a selected (or hovered) row are drawn in surface. A column just
inside the panel's left edge crosses no text, so its pixels tell where the
entry and the selected row are.
"""
import launcher_harness as h

# 6 px inside the panel's left edge: left of the entry's icon and of every
# row's content, clear of most of the rows' rounded corners.
SCAN_X_OFFSET = 6


def panel_left():
    width, _ = h.output_size()
    return (width - h.PANEL_WIDTH) // 2


def runs(pixels, classify):
    """Runs of equal class in a pixel list: [(class, start, end)], end
    exclusive, None-class runs dropped."""
    found, start, current = [], 0, None
    for i, pixel in enumerate(pixels + [None]):
        kind = classify(pixel) if pixel is not None else object()
        if kind != current:
            if current is not None and i > start:
                found.append((current, start, i))
            start, current = i, kind
    return [r for r in found if r[0] is not None]


class Layout:
    """What one column scan shows: the entry and the selected row, as
    (top, bottom) in output coordinates (bottom exclusive)."""

    def __init__(self, sandbox):
        desk = sandbox.desktop_colour()
        self.panel_colour = h.blend(h.BG, h.PANEL_ALPHA, desk)
        x = panel_left() + SCAN_X_OFFSET
        _, height = h.output_size()
        image = sandbox.capture(x, 0, 1, height)
        column = image.column(0)

        def classify(pixel):
            if h.close_to(pixel, h.SURFACE, 2):
                return "surface"
            if h.close_to(pixel, self.panel_colour, 2):
                return "panel"
            return None

        # Runs shorter than 4 px are anti-aliased edges, not areas.
        found = [(kind, s, e) for kind, s, e in runs(column, classify) if e - s >= 4]
        self.surfaces = [(s, e) for kind, s, e in found if kind == "surface"]
        self.bottom = found[-1][2] if found else None  # the panel's lower edge
        self.column = column

    @property
    def entry(self):
        return self.surfaces[0] if self.surfaces else None

    @property
    def selected(self):
        """The selected row's extent, or None when no row is selected."""
        return self.surfaces[1] if len(self.surfaces) > 1 else None
