#!/usr/bin/env bash
# The Debian 12 root that runs the shipped 32-bit TAVOSweeper.exe under Wine.
#
#   scripts/wine-root.sh setup        build or check the root (root only; idempotent)
#   scripts/wine-root.sh run CMD...   run CMD inside the root, with this checkout at
#                                     the same path, /dev, /proc and /sys mounted
#   scripts/wine-root.sh path         print where the root is
#
# Why a root of its own: 32-bit Wine (wine32:i386) must sit next to 64-bit Wine
# with every i386 library at exactly its amd64 twin's version. Installed into
# the host, that breaks as soon as one suite's i386 index lags (the security
# suite's did once, and apt then offered to remove wine64). A root made with
# debootstrap from the main suite plus backports only is consistent by
# construction, and leaves the host's own packages alone.
#
# Where the kernel cannot run 32-bit x86 code itself (some CPUs have no 32-bit
# code segment at all), the root's qemu-user-static 10 (bookworm-backports) is
# registered with binfmt_misc for i386 ELF. Wine re-executes its loader and
# starts helper processes, so calling qemu by hand is not enough. Where the
# kernel does run i386 ELF, nothing is emulated.
#
# TAVO_WINE_ROOT moves the root (default /var/cache/tavosweeper/wine-root);
# TAVO_DEBIAN_MIRROR changes the mirror.
set -euo pipefail

ROOT=${TAVO_WINE_ROOT:-/var/cache/tavosweeper/wine-root}
MIRROR=${TAVO_DEBIAN_MIRROR:-http://deb.debian.org/debian}
REPO=$(cd "$(dirname "$0")/.." && pwd)
# Bumped whenever the recipe below changes: a root with another stamp is rebuilt.
RECIPE=3
STAMP=.tavo-wine-root
BINFMT=/proc/sys/fs/binfmt_misc
# i386 ELF executables and shared objects (the mask ignores the OS ABI byte
# and accepts ET_EXEC and ET_DYN).
QEMU_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
QEMU_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

ROOT_PACKAGES=(
  wine wine64 wine32:i386
  python3 xvfb openbox xdotool x11-utils fonts-ipafont-gothic locales
)

say() { echo "wine-root: $*" >&2; }
die() { say "$*"; exit 1; }

. "$(dirname "$0")/retry.sh"

# A shell inside $1 (the root), in a mount namespace of its own so that
# nothing stays mounted once it ends, whatever way it ends.
in_root() {
  local root=$1
  shift
  # Only the TAVO_* settings and DISPLAY cross into the root, with a clean
  # environment.
  local pass=() name
  for name in $(compgen -e); do
    case $name in TAVO_*|DISPLAY) pass+=("$name=${!name}") ;; esac
  done
  # A display of the caller's (the demo answered by hand) is reached
  # through its socket folder.
  local x11=
  if [ -n "${DISPLAY:-}" ] && [ -d /tmp/.X11-unix ]; then x11=/tmp/.X11-unix; fi
  if [ -n "${XAUTHORITY:-}" ] && [ -f "$XAUTHORITY" ]; then
    cp "$XAUTHORITY" "$root/root/.Xauthority"
    pass+=("XAUTHORITY=/root/.Xauthority")
  fi
  unshare --mount --propagation private -- /bin/bash -c '
    set -e
    root=$1 repo=$2 x11=$3
    shift 3
    mount --rbind /dev "$root/dev"
    mount -t proc proc "$root/proc"
    mount --rbind /sys "$root/sys"
    mkdir -p "$root$repo"
    mount --bind "$repo" "$root$repo"
    if [ -n "$x11" ]; then mkdir -p "$root$x11" && mount --bind "$x11" "$root$x11"; fi
    cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
    exec chroot "$root" "$@"
  ' in_root "$root" "$REPO" "$x11" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    DEBIAN_FRONTEND=noninteractive "${pass[@]}" \
    /bin/bash -c 'cd "$0" && exec "$@"' "$REPO" "$@"
}

# A tiny static i386 program that exits with 0 (exit through int 0x80): it
# tells whether this kernel runs i386 ELF, natively or through binfmt_misc.
tiny_i386_elf() {
  python3 - "$1" <<'EOF'
import struct, sys
code = bytes([0x31, 0xDB, 0x31, 0xC0, 0x40, 0xCD, 0x80])  # xor ebx,ebx; xor eax,eax; inc eax; int 0x80
base = 0x08048000
ehdr = struct.pack("<16sHHIIIIIHHHHHH", b"\x7fELF\x01\x01\x01" + b"\0" * 9, 2, 3, 1,
                   base + 84, 52, 0, 0, 52, 32, 1, 0, 0, 0)
phdr = struct.pack("<IIIIIIII", 1, 0, base, base, 84 + len(code), 84 + len(code), 5, 0x1000)
with open(sys.argv[1], "wb") as f:
    f.write(ehdr + phdr + code)
EOF
  chmod +x "$1"
}

runs_i386() {
  local probe
  probe=$(mktemp /tmp/tavo-i386-XXXXXX)
  tiny_i386_elf "$probe"
  local rc=0
  "$probe" 2>/dev/null || rc=$?
  rm -f "$probe"
  [ "$rc" -eq 0 ]
}

ensure_binfmt() {
  if [ ! -e "$BINFMT/register" ]; then
    mount -t binfmt_misc binfmt_misc "$BINFMT" || die "cannot mount binfmt_misc on $BINFMT"
  fi
  if [ -e "$BINFMT/qemu-i386" ]; then
    local registered
    registered=$(sed -n 's/^interpreter //p' "$BINFMT/qemu-i386")
    if [ -x "$registered" ]; then
      grep -q '^enabled' "$BINFMT/qemu-i386" || echo 1 > "$BINFMT/qemu-i386"
      runs_i386 && return 0
    fi
    # A stale registration (its interpreter gone or moved, e.g. the root
    # rebuilt): replace it.
    echo -1 > "$BINFMT/qemu-i386"
  fi
  if runs_i386; then
    say "this kernel runs i386 ELF itself: no emulation"
    return 0
  fi
  local qemu=$ROOT/usr/bin/qemu-i386-static
  [ -x "$qemu" ] || die "$qemu missing: the root's qemu-user-static did not install"
  # F: the kernel opens the interpreter now, so it also serves inside the root.
  printf ':qemu-i386:M::%s:%s:%s:F' "$QEMU_MAGIC" "$QEMU_MASK" "$qemu" > "$BINFMT/register" ||
    die "cannot register qemu-i386 with binfmt_misc"
  runs_i386 || die "registered qemu-i386, yet an i386 program still does not run"
  say "registered $qemu for i386 ELF ($("$qemu" --version | head -1))"
}

make_root() {
  local tmp=$ROOT.new
  rm -rf "$tmp"
  mkdir -p "$(dirname "$ROOT")"
  say "debootstrap bookworm into $tmp (a few minutes)"
  # Its output joins apt's below (scripts/setup.sh keeps it all in one log).
  retry debootstrap --variant=minbase --arch=amd64 --include=ca-certificates,python3 \
    bookworm "$tmp" "$MIRROR" || die "debootstrap failed"
  # Main suite and backports only: every i386 package then has its amd64 twin
  # at the same version (see above).
  cat >"$tmp/etc/apt/sources.list" <<EOF
deb $MIRROR bookworm main
deb $MIRROR bookworm-updates main
deb $MIRROR bookworm-backports main
EOF
  echo 'APT::Acquire::Retries "5";' >"$tmp/etc/apt/apt.conf.d/80retries"
  in_root "$tmp" dpkg --add-architecture i386
  retry in_root "$tmp" apt-get update -q
  retry in_root "$tmp" apt-get install -y -q --no-install-recommends --no-remove \
    -t bookworm-backports qemu-user-static
  ROOT=$tmp ensure_binfmt
  # --no-remove: never let apt take wine64 (or anything) away to make room.
  retry in_root "$tmp" apt-get install -y -q --no-install-recommends --no-remove "${ROOT_PACKAGES[@]}"
  in_root "$tmp" /bin/sh -c 'sed -i "s/^# *\(ja_JP\.UTF-8 UTF-8\)/\1/" /etc/locale.gen && locale-gen'
  in_root "$tmp" apt-get clean
  echo "$RECIPE" >"$tmp/$STAMP"
  rm -rf "$ROOT"
  mv "$tmp" "$ROOT"
}

check_root() {
  local v32 v64
  v32=$(in_root "$ROOT" /usr/lib/wine/wine --version) || die "the root's 32-bit Wine loader does not start"
  v64=$(in_root "$ROOT" /usr/lib/wine/wine64 --version) || die "the root's 64-bit Wine loader does not start"
  in_root "$ROOT" locale -a | grep -qi '^ja_JP\.utf-\?8$' || die "the root has no ja_JP.UTF-8 locale"
  say "ready: $ROOT ($v32 32-bit, $v64 64-bit)"
}

setup() {
  [ "$(id -u)" -eq 0 ] || die "setup needs root (debootstrap, mount, binfmt_misc)"
  command -v debootstrap >/dev/null || die "debootstrap missing (scripts/setup.sh installs it)"
  if [ "$(cat "$ROOT/$STAMP" 2>/dev/null)" != "$RECIPE" ]; then
    make_root
  fi
  ensure_binfmt
  check_root
}

case "${1:-}" in
  setup) setup ;;
  run)
    shift
    [ $# -gt 0 ] || die "usage: $0 run CMD..."
    [ "$(cat "$ROOT/$STAMP" 2>/dev/null)" = "$RECIPE" ] || die "no root at $ROOT: run '$0 setup' first"
    ensure_binfmt
    in_root "$ROOT" "$@"
    ;;
  path) echo "$ROOT" ;;
  *) die "usage: $0 setup | run CMD... | path" ;;
esac
