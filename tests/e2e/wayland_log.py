"""Follows a Wayland client through its WAYLAND_DEBUG=1 log.

The log tells what the client's windows are, whatever kind they are and
whatever the compositor shows of them: an xdg toplevel is in sway's tree, a
layer surface is not. Both libwayland formats are read:

    [1234567.890]  -> wl_surface@31.commit()                    (1.21, Debian 12)
    [1234567.890] {Default Queue}  -> wl_surface#31.commit()   (1.23, Debian 13)

A WaylandLog reads the file as it grows (a line still being written is read
once complete) and keeps:

- `frames`: stamps (µs mod 2^32) of the commits that showed a buffer on the
  client's main surface (the wl_surface first given a window role);
- `roles`: the live window roles, {object id: "toplevel" | "layer"};
- `focus`: the wl_surface with keyboard focus, or None;
- `layer_surfaces`: one dict per layer surface asked for, with the namespace,
  layer and the set_* requests made on it.
"""
import re
import time

WRAP = 1 << 32  # the stamps are microseconds in 32 bits

MESSAGE = re.compile(
    r"\[\s*(\d+)\.(\d{3})\]\s+(?:\{[^}]*\}\s+)?(-> )?\s*(?:discarded\s+)?"
    r"([\w\[\]]+)[@#](\d+)\.(\w+)\((.*)\)\s*$")

ROLE_INTERFACES = {"xdg_toplevel": "toplevel", "zwlr_layer_surface_v1": "layer"}
NEW_ROLE = re.compile(r"new id (xdg_toplevel|zwlr_layer_surface_v1)[@#](\d+)")
SURFACE = re.compile(r"wl_surface[@#](\d+)")


class WaylandLogError(RuntimeError):
    pass


def since(start_us, end_us):
    """Microseconds from start to end, both taken modulo 2^32."""
    return (end_us - start_us) % WRAP


def without_wayland_lines(text):
    """The client's own output, with libwayland's debug lines taken out."""
    return "".join(line for line in text.splitlines(keepends=True)
                   if not MESSAGE.match(line.rstrip("\n")))


def _strings(args):
    return re.findall(r'"((?:[^"\\]|\\.)*)"', args)


class WaylandLog:
    def __init__(self, path):
        self.path = path
        self.offset = 0
        self.partial = ""
        self.surface = None
        self.buffer_attached = False
        self.frames = []
        self.requests = []  # (stamp, interface, name, args) of every request
        self.roles = {}
        self.focus = None
        self.layer_surfaces = []
        self._layers = {}  # live layer-surface object id -> its dict

    def poll(self):
        try:
            with open(self.path, errors="replace") as f:
                f.seek(self.offset)
                data = f.read()
                self.offset = f.tell()
        except FileNotFoundError:
            return self
        lines = (self.partial + data).split("\n")
        self.partial = lines.pop()
        for line in lines:
            m = MESSAGE.match(line)
            if m:
                self._message(int(m.group(1)) * 1000 + int(m.group(2)), bool(m.group(3)),
                              m.group(4), m.group(5), m.group(6), m.group(7))
        return self

    def _message(self, stamp, request, interface, oid, name, args):
        if not request:
            if interface == "wl_keyboard" and name == "enter":
                found = SURFACE.search(args)
                self.focus = found.group(1) if found else None
            elif interface == "wl_keyboard" and name == "leave":
                self.focus = None
            return
        self.requests.append((stamp, interface, name, args))
        created = NEW_ROLE.search(args)
        if created:
            self.roles[created.group(2)] = ROLE_INTERFACES[created.group(1)]
        if name in ("get_xdg_surface", "get_layer_surface"):
            found = SURFACE.search(args)
            if self.surface is None and found:
                self.surface = found.group(1)
            if name == "get_layer_surface" and created:
                fields = [a.strip() for a in args.split(",")]
                strings = _strings(args)
                layer = {"namespace": strings[-1] if strings else None,
                         "layer": int(fields[3]) if len(fields) > 3 and fields[3].isdigit()
                         else None,
                         "requests": {}}
                self.layer_surfaces.append(layer)
                self._layers[created.group(2)] = layer
        elif interface in ROLE_INTERFACES:
            if name == "destroy":
                self.roles.pop(oid, None)
                self._layers.pop(oid, None)
            elif oid in self._layers:
                self._layers[oid]["requests"][name] = args
        elif interface == "wl_surface" and oid == self.surface:
            if name == "attach":
                self.buffer_attached = not args.startswith("nil")
            elif name == "commit" and self.buffer_attached:
                self.frames.append(stamp)

    def shown(self):
        """The kind of the window the client has mapped ("toplevel" or
        "layer"), or None when it has none."""
        return next(iter(self.poll().roles.values()), None)

    def wait_frame(self, after_us=None, timeout=15.0, process=None):
        """The stamp of the first frame (after `after_us`, mod 2^32)."""
        deadline = time.monotonic() + timeout
        while True:
            self.poll()
            for frame in self.frames:
                if after_us is None or since(after_us, frame) < WRAP // 2:
                    return frame
            if process is not None and process.poll() is not None:
                raise WaylandLogError(f"{self.path}: the client exited before its first frame")
            if time.monotonic() > deadline:
                raise WaylandLogError(f"{self.path}: no frame within {timeout:.0f} s")
            time.sleep(0.002)
