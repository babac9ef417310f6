#!/usr/bin/env bash
# Exercises the installed package, as a user would, inside a clean root
# where it was just installed: --help, a screenshot capture under a private
# headless compositor, the toggle; then purges the package and checks that
# none of its files is left.
#
#   check-installed.sh WITH_HEADLESS_SWAY SAMPLE_DIR   (documents for the daemon to find)
set -euo pipefail
wrapper=$1
samples=$2
fail() {
    echo "check-installed: $*" >&2
    exit 1
}

flintsearch --help | grep -q -- "--screenshot" || fail "--help does not list --screenshot"
[ -f /usr/share/bash-completion/completions/flintsearch ] || fail "no bash completion"
[ -f /usr/lib/systemd/user/flintsearch-resident.service ] ||
    [ -f /lib/systemd/user/flintsearch-resident.service ] || fail "no systemd user unit"
module=$(dpkg -L flintsearch | grep '/flintsearch-ui\.so$') || fail "no interface module"
case $module in /usr/lib/*-linux-*/flintsearch/*) ;; *) fail "module not in the multiarch libdir: $module" ;; esac

# The daemon's package, when it was installed beside the launcher's: the
# installed daemon indexes the sample folder and answers a query on its
# socket. The PDF's title comes from its own metadata, so finding it by that
# title shows that the installed worker read it.
if dpkg -s flintmill >/dev/null 2>&1; then
    [ -x /usr/libexec/flintmill/flintmill-extract ] || fail "no extraction worker"
    [ -f /usr/lib/systemd/user/flintmill.socket ] || fail "no flintmill.socket"
    [ -f /usr/lib/systemd/user/flintmill.service ] || fail "no flintmill.service"
    [ -f /usr/share/man/man1/flintmill.1.gz ] || fail "no flintmill(1)"
    home=$(mktemp -d)
    mkdir -m 0700 "$home/run"
    XDG_RUNTIME_DIR=$home/run XDG_CACHE_HOME=$home/cache XDG_CONFIG_HOME=$home/config \
        flintmill --no-default-roots --root "$samples" >"$home/log" 2>&1 &
    daemon=$!
    python3 - "$home/run/flintmill.sock" <<'ASK' || { cat "$home/log" >&2; fail "flintmill did not find the sample documents"; }
import json, socket, sys, time

def ask(request):
    with socket.socket(socket.AF_UNIX) as s:
        s.settimeout(5)
        s.connect(sys.argv[1])
        s.sendall(json.dumps(request).encode() + b"\n")
        reply = b""
        while chunk := s.recv(65536):
            reply += chunk
    return json.loads(reply)

deadline = time.monotonic() + 30
while True:
    try:
        status = ask({"type": "status"})
        if status["type"] == "status_info" and status["indexed"] > 0 and status["pending"] == 0:
            break
    except OSError:
        pass
    if time.monotonic() > deadline:
        sys.exit("not indexed after 30 s")
    time.sleep(0.2)
for query, path, title in [("sourdough", "sourdough-bread.md", None),
                           ("laptop stand", "receipt-laptop-stand.pdf", "Receipt")]:
    hits = ask({"type": "query", "query": query, "limit": 5}).get("hits", [])
    if not hits or not hits[0]["path"].endswith("/" + path) or title not in (None, hits[0]["title"]):
        sys.exit(f"{query!r}: {hits[:1]}, expected {path}")
ASK
    kill "$daemon"
    wait "$daemon" || true
fi

runtime=$(mktemp -d)
chmod 0700 "$runtime"
export XDG_RUNTIME_DIR=$runtime
cd "$runtime"
"$wrapper" --size 1280x720 -- flintsearch --screenshot search --output shot.png \
    --width 1280 --height 720 || fail "the screenshot capture failed"
[ "$(head -c 8 shot.png | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "no PNG written"

# The toggle: a second start closes the first.
cat >"$runtime/toggle.sh" <<'TOGGLE'
set -eu
flintsearch &
first=$!
for _ in $(seq 100); do [ -s "$XDG_RUNTIME_DIR/flintsearch.pid" ] && break; sleep 0.1; done
[ "$(cat "$XDG_RUNTIME_DIR/flintsearch.pid")" = "$first" ] || { echo "no pid file" >&2; exit 1; }
sleep 0.5
flintsearch
for _ in $(seq 100); do kill -0 "$first" 2>/dev/null || exit 0; sleep 0.1; done
echo "the second start did not close the first" >&2
exit 1
TOGGLE
"$wrapper" -- bash "$runtime/toggle.sh" || fail "the toggle failed"

packages=flintsearch
if dpkg -s flintmill >/dev/null 2>&1; then
    packages="flintsearch flintmill"
fi
files=$(for p in $packages; do dpkg -L "$p"; done | while read -r f; do [ -d "$f" ] || echo "$f"; done)
# shellcheck disable=SC2086 # one word per package
apt-get purge -y -q $packages >/dev/null
left=$(for f in $files; do [ -e "$f" ] && echo "$f"; done || true)
[ -z "$left" ] || fail "left behind after purge: $left"
echo "check-installed: --help, screenshot, toggle and purge all as expected ($(echo "$files" | wc -l) files)"
