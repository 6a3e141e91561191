#!/usr/bin/env bash
# Installs what building and testing TAVOSweeper needs on Debian 12 (as root):
# the host compilers and test libraries, the mingw-w64 cross compilers, Wine
# with a virtual display for the end-to-end runs, and the Debian root with
# 32-bit Wine that runs the shipped exe (scripts/wine-root.sh). Safe to run
# again.
set -euo pipefail

packages=(
  cmake ninja-build g++ make libgtest-dev python3 file
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  # The host's Wine is 64-bit only (it runs the x86-64 build); 32-bit Wine
  # lives in the root that debootstrap makes, never in the host.
  wine wine64 xvfb openbox xdotool x11-utils fonts-ipafont-gothic locales debootstrap
  clang libclang-rt-14-dev cppcheck clang-tidy valgrind
  # The exe checks read the PE with pefile; releases are signed and verified
  # with osslsigncode, the test's throwaway certificates made with openssl.
  python3-pefile osslsigncode openssl
)

if [ "$(id -u)" -ne 0 ]; then
  echo "setup.sh: run as root (it installs Debian packages)" >&2
  exit 1
fi

. "$(dirname "$0")/retry.sh"

export DEBIAN_FRONTEND=noninteractive

host_packages() {
  retry apt-get update -q &&
    retry apt-get install -y -q --no-install-recommends "${packages[@]}"
}

# Wine shows the Japanese dialogs in code page 932 only under a Japanese locale.
japanese_locale() {
  if locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    echo "ja_JP.UTF-8 is there already"
    return 0
  fi
  sed -i 's/^# *\(ja_JP\.UTF-8 UTF-8\)/\1/' /etc/locale.gen &&
    { grep -q '^ja_JP\.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen; } &&
    locale-gen
}

# One line per step; what apt, locale-gen and debootstrap say goes to
# build/setup-logs/ (see step in retry.sh).
step "setup: host packages" host-packages host_packages
step "setup: Japanese locale" locale japanese_locale
# The Debian root with 32-bit Wine (built once, minutes; checked every time).
step "setup: Wine root in $(bash "$(dirname "$0")/wine-root.sh" path)" wine-root \
  bash "$(dirname "$0")/wine-root.sh" setup
