#!/usr/bin/env bash
# Exercises the installed package, as a user would, inside a clean root
# where it was just installed: --help, a screenshot capture under a private
# headless compositor, the toggle; then purges the package and checks that
# none of its files is left.
#
#   check-installed.sh WITH_HEADLESS_SWAY
set -euo pipefail
wrapper=$1
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

# The daemon's package, when it was installed beside the launcher's.
if dpkg -s flintmill >/dev/null 2>&1; then
    [ -x /usr/libexec/flintmill/flintmill-extract ] || fail "no extraction worker"
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

files=$(dpkg -L flintsearch | while read -r f; do [ -d "$f" ] || echo "$f"; done)
apt-get purge -y -q flintsearch >/dev/null
left=$(for f in $files; do [ -e "$f" ] && echo "$f"; done || true)
[ -z "$left" ] || fail "left behind after purge: $left"
echo "check-installed: --help, screenshot, toggle and purge all as expected ($(echo "$files" | wc -l) files)"
