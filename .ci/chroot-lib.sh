# Shared by the CI stages that work in Debian roots made with debootstrap
# (sourced, not run). A root lives outside the checkout; whatever is mounted
# for it is unmounted when the calling script ends, failures included.

# The machine's own Debian mirror, from deb822 or one-line apt sources.
debian_mirror() {
    local mirror
    mirror=$(sed -n 's/^URIs: *\([^ ]*debian\/\{0,1\}\)$/\1/p' /etc/apt/sources.list.d/*.sources \
        2>/dev/null | grep -v security | head -n 1 || true)
    if [ -z "$mirror" ]; then
        mirror=$(sed -n 's/^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*\) .*/\2/p' /etc/apt/sources.list \
            2>/dev/null | grep -v security | head -n 1 || true)
    fi
    [ -n "$mirror" ] || { echo "ci: no Debian mirror in this machine's apt sources" >&2; return 1; }
    echo "$mirror"
}

# make_root SUITE ROOT: a fresh minbase root (kept when FLINTSEARCH_CI_REUSE=1
# and one is there).
make_root() {
    local suite=$1 root=$2 mirror
    if [ "${FLINTSEARCH_CI_REUSE:-0}" = 1 ] && [ -x "$root/usr/bin/apt-get" ]; then
        return 0
    fi
    command -v debootstrap >/dev/null ||
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
            debootstrap >/dev/null
    mirror=$(debian_mirror)
    rm -rf --one-file-system "$root"
    echo "ci: debootstrap $suite from $mirror into $root" >&2
    debootstrap --variant=minbase "$suite" "$root" "$mirror" >"$root.debootstrap.log" 2>&1 || {
        tail -n 30 "$root.debootstrap.log" >&2
        return 1
    }
}

ci_mounted=()
ci_unmount_all() {
    local i
    for ((i = ${#ci_mounted[@]} - 1; i >= 0; i--)); do
        umount -l "${ci_mounted[$i]}" 2>/dev/null || true
    done
    ci_mounted=()
}
trap ci_unmount_all EXIT

# mount_root ROOT: what a build and the headless compositor need inside.
mount_root() {
    local root=$1 target
    for target in proc sys dev dev/pts dev/shm; do
        mkdir -p "$root/$target"
    done
    mount -t proc proc "$root/proc" && ci_mounted+=("$root/proc")
    mount --bind /sys "$root/sys" && ci_mounted+=("$root/sys")
    mount --bind /dev "$root/dev" && ci_mounted+=("$root/dev")
    mount --bind /dev/pts "$root/dev/pts" && ci_mounted+=("$root/dev/pts")
    mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm" && ci_mounted+=("$root/dev/shm")
    cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
}

# in_root ROOT COMMAND: runs a bash command line as root in a clean
# environment inside ROOT.
in_root() {
    chroot "$1" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive bash -c "set -euo pipefail; $2"
}
