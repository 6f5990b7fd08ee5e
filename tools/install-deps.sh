#!/usr/bin/env bash
# Installs what the program needs to build, run and test on Debian 12, when
# it is missing. Safe to run again: packages already present are skipped.
#
#   install-deps.sh          build, run and test
#   install-deps.sh demo     and what tools/run-demo.sh adds: an X server in
#                            a window (Xephyr) and a VNC server for a screen
#                            nobody watches
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  # Qt 6 (the X11 platform plugin comes with libqt6gui6)
  qt6-base-dev libqt6serialport6-dev
  # the mirror into the head office's database (libpq)
  libpq-dev
  # run: fonts with the metrics of the screens' and the reports' Arial and
  # Times New Roman
  fonts-liberation2
  # test: independent readers of the table and index files
  python3 python3-dbfread python3-dbf libdbd-xbase-perl libtime-parsedate-perl
  # test: an independent reader of the reports' PDF files (pdftotext -bbox)
  poppler-utils
  # test: a PostgreSQL server of the tests' own for the mirror
  postgresql
  # test: the screenshots of the kiosk screens on an X server of their own,
  # real key presses sent to the program there, and the server's screen
  # saver read back
  xvfb xauth xdotool x11-xserver-utils
  # the Debian package: its library dependencies (dpkg-shlibdeps) and its
  # check (lintian)
  dpkg-dev lintian
)
if [ "${1:-}" = "demo" ]; then
  packages+=(xserver-xephyr x11vnc)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  SUDO=()
else
  SUDO=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
