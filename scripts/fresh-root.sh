#!/usr/bin/env bash
# Proves the install steps: a minimal Debian 12 root is made afresh (debootstrap, minbase variant)
# from the Debian archive this machine uses, the committed checkout is copied in, and inside it,
# as root with a clean environment, run the README's test command (scripts/test.sh), the Windows
# build with its tests under Wine (scripts/build-windows.sh) and the pixel comparison of the two
# builds (scripts/compare-windows.sh). Each of them installs what it needs, so a package a script
# forgets to install fails here, whatever the machine itself has.
#   scripts/fresh-root.sh                        all three, then the root is removed
#   FRESH_ROOT_STEPS="test windows" scripts/fresh-root.sh   only those steps (test windows compare)
#   FRESH_ROOT_STEPS="test shell" scripts/fresh-root.sh     then a shell in the root, to look around
#   FRESH_ROOT_CACHE=/path scripts/fresh-root.sh  where downloaded packages are kept between runs
#                                                 (default /var/cache/veltrace-ci)
# Needs root (debootstrap, mount, chroot). The root lives in /var/tmp and is unmounted and removed
# on every exit, also after a failure. Only downloaded .deb files are kept between runs: a second
# run on the same machine downloads less, and a fresh machine still passes with an empty cache.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
source scripts/apt-lib.sh

if [ "$(id -u)" -ne 0 ]; then
    exec sudo -- "$0" "$@"
fi

step() { printf '== fresh root: %s (%ss)\n' "$1" "$SECONDS"; }

step "host packages"
packages=(debootstrap debian-archive-keyring mount git tar coreutils)
install_packages "${packages[@]}"

# The committed state, as a clone would give it: uncommitted changes are not part of the proof.
if ! git -C "$top" rev-parse --verify -q HEAD >/dev/null; then
    echo "fresh-root.sh: $top is not a git checkout with a commit" >&2
    exit 1
fi

# The Debian archive this machine's packages come from, as build-windows.sh finds it, and its
# bookworm suites (the release itself, its updates and security suites where configured).
mirror=$(bookworm_archive)
if [ -z "$mirror" ]; then
    echo "fresh-root.sh: no Debian archive configured for bookworm" >&2
    exit 1
fi
suites=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Identifier: Packages' 2>/dev/null |
         awk '$2 ~ /^bookworm(-updates|-security)?$/' | sort -u)
[ -n "$suites" ] || suites="$mirror bookworm"

cache=${FRESH_ROOT_CACHE:-/var/cache/veltrace-ci}
mkdir -p "$cache/debootstrap" "$cache/apt-archives/partial"
root=$(mktemp -d /var/tmp/veltrace-fresh-root.XXXXXX)
# mktemp makes it 0700; as the root's "/" that would shut out every user but root (apt's _apt).
chmod 755 "$root"
mounted=()

# Everything still running inside the root (a Wine server, an Xvfb) keeps its mounts busy: those
# processes are ended first, found by the root they run in.
end_processes_in_root() {
    local pid signal
    for signal in TERM KILL; do
        local found=0
        for pid in /proc/[0-9]*; do
            if [ "$(readlink "$pid/root" 2>/dev/null)" = "$root" ]; then
                kill -s "$signal" "${pid#/proc/}" 2>/dev/null || true
                found=1
            fi
        done
        [ $found = 1 ] || return 0
        sleep 2
    done
}

cleanup() {
    local status=$? i
    set +e
    end_processes_in_root
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}"
    done
    # debootstrap mounts /proc and /sys in the root while it works; a failure can leave them.
    findmnt -rn -o TARGET | grep -F "$root/" | sort -r | while read -r m; do umount -l "$m"; done
    if findmnt -rn -o TARGET | grep -qF "$root"; then
        echo "fresh-root.sh: mounts remain under $root; not removing it" >&2
        status=1
    else
        rm -rf --one-file-system "$root"
    fi
    rm -f "$root.debootstrap.log"
    step "done"
    exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM

bind() { # SOURCE TARGET [OPTIONS...]
    mkdir -p "$2"
    mount --bind "${@:3}" "$1" "$2"
    mounted+=("$2")
}

step "debootstrap (minbase, bookworm, $mirror)"
debootstrap --variant=minbase --cache-dir="$cache/debootstrap" bookworm "$root" "$mirror" \
    >"$root.debootstrap.log" 2>&1 || {
    tail -n 30 "$root.debootstrap.log" >&2
    rm -f "$root.debootstrap.log"
    exit 1
}
rm -f "$root.debootstrap.log"

# The root's apt reads the same suites as the machine, keeps what it downloads in the shared
# cache and starts no services while packages are installed.
echo "$suites" | awk '{ print "deb " $1 " " $2 " main" }' >"$root/etc/apt/sources.list"
cp /etc/resolv.conf "$root/etc/resolv.conf"
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"

bind /proc "$root/proc"
bind /dev "$root/dev"
bind /dev/pts "$root/dev/pts"
mkdir -p "$root/dev/shm"
mount -t tmpfs -o mode=1777,size=512m tmpfs "$root/dev/shm"
mounted+=("$root/dev/shm")
bind "$cache/apt-archives" "$root/var/cache/apt/archives"

step "copy the checkout ($(git -C "$top" rev-parse --short HEAD))"
mkdir -p "$root/veltrace"
git -C "$top" archive --format=tar HEAD | tar -x -C "$root/veltrace"

# A new user's shell: nothing of this machine's environment (no ccache, no compiler settings).
inside() {
    chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        HOME=/root LANG=C.UTF-8 TERM=dumb /bin/bash -c "cd /veltrace && $1"
}

for s in ${FRESH_ROOT_STEPS:-test windows compare}; do
    start=$SECONDS
    case $s in
        test) step "scripts/test.sh"; inside "scripts/test.sh" ;;
        windows) step "scripts/build-windows.sh"; inside "scripts/build-windows.sh" ;;
        compare) step "scripts/compare-windows.sh"; inside "scripts/compare-windows.sh" ;;
        shell) step "a shell in the root (exit ends it and removes the root)"; inside bash ;;
        *) echo "fresh-root.sh: unknown step $s (test, windows, compare, shell)" >&2; exit 2 ;;
    esac
    echo "== fresh root: $s took $((SECONDS - start)) s"
done

# The shared cache keeps only what the archive still offers, so it does not grow run by run.
inside "apt-get -qq autoclean" || true
