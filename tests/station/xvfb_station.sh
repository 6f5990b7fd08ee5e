#!/usr/bin/env bash
# The real program on a real X server with no window manager (Xvfb), driven
# by real key presses (xdotool): a card the kiosk does not know gives its
# message box, Return dismisses it, Ctrl+F10 then opens the station (so the
# swipe screen took the keyboard focus back), Alt+F, E closes the station,
# and Ctrl+F1 ends the program (so the kiosk took the focus back again).
#
#   xvfb_station.sh GRAZULO MAKEDEMO DEVSIM
#
# Exit status 77 (skipped) when Xvfb or xdotool is not installed.
set -uo pipefail
grazulo="$1"
makedemo="$2"
devsim="$3"

for tool in Xvfb xdotool; do
  if ! command -v "$tool" > /dev/null 2>&1; then
    echo "SKIPPED: $tool is not installed (bash tools/install-deps.sh installs it)"
    exit 77
  fi
done

here="$(cd "$(dirname "$0")" && pwd)"
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$here/../kiosk/lsan-xcb.supp"

# Short, so the data directory fits the 50 characters of datapath.
tmp="$(mktemp -d /tmp/gzx-XXXXXX)"
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do
    kill "$p" 2> /dev/null
  done
  wait 2> /dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  echo "---- program output"
  cat "$tmp/grazulo.log" 2> /dev/null
  exit 1
}

# Waits until a window whose title matches the pattern exists (or, with
# "gone", no longer exists); 15 seconds at most.
wait_window() {
  local pattern="$1" want="${2:-there}"
  for _ in $(seq 1 150); do
    if xdotool search --name "$pattern" > /dev/null 2>&1; then
      [ "$want" = there ] && return 0
    else
      [ "$want" = gone ] && return 0
    fi
    sleep 0.1
  done
  return 1
}

: > "$tmp/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$tmp/display" > "$tmp/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do
  [ -s "$tmp/display" ] && break
  sleep 0.1
done
[ -s "$tmp/display" ] || fail "Xvfb did not start: $(cat "$tmp/xvfb.log")"
export DISPLAY=":$(tr -d '[:space:]' < "$tmp/display")"

site="$tmp/site"
"$makedemo" "$site" > /dev/null || fail "makedemo"
mkdir -p "$tmp/dev"
cat > "$site/setup.ini" << EOF
[Timer]
license=60
outbound=8
instructions=8
[Ports]
com1=$tmp/dev/scale
com2=$tmp/dev/card
com3=$tmp/dev/printer
EOF

mkfifo "$tmp/devsim.in"
"$devsim" --scale "$tmp/dev/scale" --card "$tmp/dev/card" --printer "$tmp/dev/printer" \
  --printer-file "$tmp/printer.txt" --weight 0 < "$tmp/devsim.in" > "$tmp/devsim.log" 2>&1 &
pids+=($!)
exec 4> "$tmp/devsim.in"
for _ in $(seq 1 100); do
  [ -e "$tmp/dev/scale" ] && [ -e "$tmp/dev/card" ] && [ -e "$tmp/dev/printer" ] && break
  sleep 0.1
done

GRAZULO_HOME="$site" QT_QPA_PLATFORM=xcb "$grazulo" > "$tmp/grazulo.log" 2>&1 &
kiosk=$!
pids+=($kiosk)

wait_window "Please Swipe Card" || fail "the swipe screen did not show"
sleep 0.5

# A card nobody knows: the kiosk's message box, dismissed with Return.
echo "card 999999" >&4
wait_window "Card Error" || fail "the card error box did not show"
sleep 0.3
xdotool key Return
wait_window "Card Error" gone || fail "Return did not dismiss the card error box"
sleep 0.3

# The swipe screen has the keyboard again: Ctrl+F10 opens the station.
xdotool key ctrl+F10
wait_window "^Ponderix" || fail "Ctrl+F10 after the message box did not open the station"
sleep 0.5
xdotool search --name "^Ponderix VELMORE GREENHOUSE$" > /dev/null || fail "the station's title is not the company's"

# File, Exit closes the station; the kiosk shows again.
xdotool key alt+f
sleep 0.3
xdotool key e
wait_window "^Ponderix" gone || fail "File, Exit did not close the station"
sleep 0.5

# And the kiosk has the keyboard: Ctrl+F1 ends the program.
xdotool key ctrl+F1
for _ in $(seq 1 100); do
  kill -0 "$kiosk" 2> /dev/null || break
  sleep 0.1
done
if kill -0 "$kiosk" 2> /dev/null; then
  fail "Ctrl+F1 after the station closed did not end the program"
fi
wait "$kiosk"
rc=$?
# Ctrl+F1's own status, which the site's session does not restart.
[ "$rc" -eq 10 ] || fail "the program ended with status $rc, not Ctrl+F1's 10"
echo "PASS: message box, station and Ctrl+F1 under a real X server"
exit 0
