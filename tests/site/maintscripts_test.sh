#!/usr/bin/env bash
# The package's maintainer scripts run in a scratch root (DPKG_ROOT) in the
# order dpkg runs them, with the system's own deb-systemd-helper (it keeps
# its state under DPKG_ROOT) and stand-ins for what would change this
# machine (adduser, getent, systemctl, deb-systemd-invoke). Each case is a
# sequence an administrator goes through and the state of the units it must
# leave.
#
#   maintscripts_test.sh TOOLS-SITE-DIR CASE
set -uo pipefail
site="$1"
case_name="$2"
command -v deb-systemd-helper > /dev/null || { echo "SKIP: no deb-systemd-helper"; exit 77; }
command -v systemctl > /dev/null || { echo "SKIP: no systemctl"; exit 77; }
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
root="$tmp/root"
mkdir -p "$root/lib/systemd/system" "$tmp/bin"
for c in adduser systemctl deb-systemd-invoke systemd-tmpfiles journalctl; do
  printf '#!/bin/sh\necho "%s $*" >> "$DPKG_ROOT/calls"\n' "$c" > "$tmp/bin/$c"
done
printf '#!/bin/sh\nexit 0\n' > "$tmp/bin/getent"  # the user is there
chmod +x "$tmp/bin/"*
real_systemctl="$(command -v systemctl)"

script() {
  DPKG_ROOT="$root" DPKG_MAINTSCRIPT_PACKAGE=grazulo DPKG_MAINTSCRIPT_NAME="$1" PATH="$tmp/bin:$PATH" \
    sh "$site/$1" "${@:2}" || { echo "FAIL: $* ended with $?"; exit 1; }
}
# dpkg's steps: the first install, an upgrade, a removal (the unit files go
# between prerm and postrm), a purge, and an install over a removed package
# (postinst gets the version it had).
install() { cp "$site"/grazulo-*.service "$site"/grazulo-*.timer "$root/lib/systemd/system/"; script postinst configure ""; }
upgrade() { script prerm upgrade 0.1.2; cp "$site"/grazulo-*.service "$site"/grazulo-*.timer "$root/lib/systemd/system/"; script postinst configure 0.1.1; }
remove() { script prerm remove; rm -f "$root"/lib/systemd/system/grazulo-*; script postrm remove; }
purge() { script postrm purge; }
reinstall() { cp "$site"/grazulo-*.service "$site"/grazulo-*.timer "$root/lib/systemd/system/"; script postinst configure 0.1.1; }
# What the README tells the administrator to do: systemctl enable.
enable_kiosk() { "$real_systemctl" --root="$root" enable grazulo-kiosk.service > /dev/null 2>&1; }
disable_timer() { "$real_systemctl" --root="$root" disable grazulo-mirror.timer > /dev/null 2>&1; }

# The units' state: the kiosk on or off at power-up; the timer on, off, or
# masked (after a removal, until an install or a purge).
state() {
  local etc="$root/etc/systemd/system" k=off t=off
  [ -L "$etc/graphical.target.wants/grazulo-kiosk.service" ] && k=on
  [ -L "$etc/timers.target.wants/grazulo-mirror.timer" ] && t=on
  [ "$(readlink "$etc/grazulo-mirror.timer" 2> /dev/null)" = /dev/null ] && t=masked
  echo "kiosk $k, timer $t"
}

# case: the steps; the units' state after them
case "$case_name" in
  install) steps="install enable_kiosk"; want="kiosk on, timer on" ;;
  upgrade) steps="install enable_kiosk upgrade"; want="kiosk on, timer on" ;;
  # the administrator's own choice outlives an upgrade
  upgrade-timer-off) steps="install disable_timer upgrade"; want="kiosk off, timer off" ;;
  # removal disables the kiosk the administrator enabled; the timer is off,
  # or its enabling is kept masked for an install again
  remove) steps="install enable_kiosk remove"; want="kiosk off, timer (off|masked)" ;;
  # purge leaves nothing of the package's in /etc
  purge) steps="install enable_kiosk remove purge"; want="kiosk off, timer off" ;;
  # installed again after a removal: the timer the package turned on is on
  # again; the kiosk waits for the administrator, as after a first install
  reinstall) steps="install enable_kiosk remove reinstall"; want="kiosk off, timer on" ;;
  *) echo "unknown case $case_name"; exit 2 ;;
esac
for step in $steps; do
  "$step"
done
got="$(state)"
if [ "$case_name" = purge ] && [ -n "$(find "$root/etc" -name 'grazulo-*' | head -1)" ]; then
  got="$got; left in /etc: $(cd "$root/etc" && find . -name 'grazulo-*' | tr '\n' ' ')"
fi
if ! [[ "$got" =~ ^$want$ ]]; then
  echo "FAIL: $case_name ($steps): $got; should be: $want"
  exit 1
fi
echo "PASS: $case_name ($steps): $got"
