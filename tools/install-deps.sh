#!/usr/bin/env bash
# Installs what the program needs to build, run and test on Debian 12, when
# it is missing. Safe to run again: packages already present are skipped.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  # Qt 6
  qt6-base-dev libqt6serialport6-dev
  # test: independent readers of the table and index files
  python3 python3-dbfread python3-dbf libdbd-xbase-perl libtime-parsedate-perl
)

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
