#!/usr/bin/env bash
# Starts an X server of its own (Xvfb) at each screen size, runs a driver
# on it (the kiosk screenshots, the message box check) and keeps its
# pictures in OUTDIR/<size>/.
#
#   screenshots.sh DRIVER OUTDIR
#
# Exit status 77 (skipped) when Xvfb is not installed.
set -uo pipefail
driver="$1"
out="$2"

if ! command -v Xvfb >/dev/null 2>&1; then
  echo "SKIPPED: Xvfb is not installed (apt-get install xvfb); no screenshots taken"
  exit 77
fi

# The X11 platform's libraries keep some memory for the whole run; a
# sanitizer build is not to count it as the program's leak.
here="$(cd "$(dirname "$0")" && pwd)"
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$here/lsan-xcb.supp"

tmp="$(mktemp -d)"
xvfb_pid=""
cleanup() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

status=0
for size in 1024x768 1920x1080; do
  rm -rf "${out:?}/$size"
  mkdir -p "$out/$size"
  # Xvfb picks a free display and writes its number to the file.
  : > "$tmp/display"
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3> "$tmp/display" > "$tmp/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 100); do
    [ -s "$tmp/display" ] && break
    sleep 0.1
  done
  if [ ! -s "$tmp/display" ]; then
    echo "Xvfb did not start:"
    cat "$tmp/xvfb.log"
    exit 1
  fi
  display=":$(tr -d '[:space:]' < "$tmp/display")"
  echo "== $size on display $display"
  DISPLAY="$display" QT_QPA_PLATFORM=xcb "$driver" "$out/$size"
  rc=$?
  if [ "$rc" -ne 0 ]; then
    echo "== $size: driver exit status $rc"
    status=1
  fi
  kill "$xvfb_pid" 2>/dev/null
  wait "$xvfb_pid" 2>/dev/null
  xvfb_pid=""
done
echo "pictures in $out"
exit "$status"
