"""Replies and helpers shared by the end-to-end test modules."""
import json

import launcher_harness as h
import panel


def hit(title, path, snippet="", score=0.5):
    return {"title": title, "path": path, "snippet": snippet, "score": score}


def hits_reply(*hits):
    return json.dumps({"type": "hits", "hits": list(hits)})


THREE_HITS = (
    hit("Report one", "/home/u/docs/report one.pdf", "first line\nsecond", 0.87),
    hit("Notes", "/home/u/notes/todo.txt", "buy milk", 0.5),
    hit("Slides", "/srv/share/slides.odp", "", 0.25),
)


def wait_for(sandbox, condition, what, timeout=h.RENDER_TIMEOUT, interval=0.05):
    """Polls condition() until it returns something true; returns that."""
    import time
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise sandbox.error(f"timed out waiting for {what}")
        time.sleep(interval)


def wait_selected(sandbox, predicate=lambda layout: True, what="a selected row"):
    """Waits until a row is drawn selected (and predicate holds); returns
    the Layout."""
    def check():
        layout = panel.Layout(sandbox)
        if layout.entry and layout.selected and predicate(layout):
            return layout
        return None
    return wait_for(sandbox, check, what)
