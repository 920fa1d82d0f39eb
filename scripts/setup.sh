#!/usr/bin/env bash
# Installs, from Debian's archive, whatever this project needs and the machine
# lacks. Safe to run again: it asks apt only for packages that are missing.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config ccache clang libclang-rt-14-dev dpkg-dev file
  libgtest-dev libgmock-dev
  libboost-dev libboost-system-dev libjsoncpp-dev libfontconfig-dev libx11-dev
  # runtime: fonts, locales, dialogs, the document engine
  fontconfig fonts-dejavu-core fonts-dejavu-extra fonts-nanum locales zenity
  libreoffice-dev libreoffice-writer libreoffice-calc libreoffice-impress
  # tests and benchmarks
  xvfb xauth xclip xdotool iproute2 x11-utils openbox curl python3 wrk nginx-light coreutils procps
  # browser tests: Debian's Chromium driven by Playwright on Node.js
  chromium nodejs
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
else
  echo "setup: all packages present"
fi

# Node.js from another source brings its own npm, which Debian's npm package
# would conflict with; only a Node.js without one gets Debian's.
if ! command -v npm >/dev/null 2>&1; then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends npm
fi

# The browser tests' npm packages, exactly as the lock file pins them.
browser_tests="$(cd "$(dirname "$0")/.." && pwd)/tests/e2e/browser"
stamp="$browser_tests/node_modules/.installed-from-lock"
if ! cmp -s "$browser_tests/package-lock.json" "$stamp" 2>/dev/null; then
  (cd "$browser_tests" && npm ci --no-audit --no-fund)
  cp "$browser_tests/package-lock.json" "$stamp"
fi

# What the product itself needs at run time must be there now: a quiet miss
# here shows up much later as a conversion without its Korean text.
problems=()
fc-list :lang=ko family | grep -q . || problems+=("no font with Hangul (fc-list :lang=ko is empty)")
for cmd in zenity soffice Xvfb xdotool xclip chromium node; do
  command -v "$cmd" >/dev/null 2>&1 || problems+=("$cmd not found")
done
if [ ${#problems[@]} -gt 0 ]; then
  printf 'setup: FAILED: %s\n' "${problems[@]}" >&2
  exit 1
fi
