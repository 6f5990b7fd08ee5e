#!/usr/bin/env bash
# Keys held down at the station, on a real X server with no window manager
# (Xvfb) and the X server's own key repeat (xdotool keydown, a pause,
# keyup): an operator who leans on Enter presses the focused button once.
#   - Enter held on Read Scale takes the reading and stores nothing: the
#     weight is seen before Done stores it.
#   - Enter held on the Partial Records list chooses the ticket and no more:
#     the truck is not read and printed out by the same key.
#
#   xvfb_held_keys.sh GRAZULO MAKEDEMO DEVSIM DBFTOOL
#
# Exit status 77 (skipped) when Xvfb or xdotool is not installed.
set -uo pipefail
grazulo="$1"
makedemo="$2"
devsim="$3"
dbftool="$4"

for tool in Xvfb xdotool; do
  if ! command -v "$tool" > /dev/null 2>&1; then
    echo "SKIPPED: $tool is not installed (bash tools/install-deps.sh installs it)"
    exit 77
  fi
done

here="$(cd "$(dirname "$0")" && pwd)"
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$here/../kiosk/lsan-xcb.supp"

tmp="$(mktemp -d /tmp/gzh-XXXXXX)"
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

faults=()
fail() {
  echo "FAIL: $*"
  echo "---- program output"
  cat "$tmp/grazulo.log" 2> /dev/null
  exit 1
}

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
# The X server's key repeat, as at a site: 660 ms, then 25 a second.
xset r on 2> /dev/null
xset r rate 660 25 2> /dev/null

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
pids+=($!)
wait_window "Please Swipe Card" || fail "the swipe screen did not show"
sleep 0.5
xdotool key ctrl+F10
wait_window "^Ponderix" || fail "Ctrl+F10 did not open the station"
sleep 1

db="$site/database"
day_rows() {
  local t
  t="$(ls "$db" | grep -E '^[A-Z][a-z]{2}[0-9]{4}\.dbf$' | head -1)"
  [ -n "$t" ] && "$dbftool" dump "$db/$t" 2> /dev/null | grep -c "$1"
}
hold_return() {
  xdotool keydown Return
  sleep 1.5
  xdotool keyup Return
  sleep 1
}

# A truck weighed in by taps: Tab to Read Scale, Return reads, Return stores.
echo "weight 14020" >&4
sleep 0.5
xdotool type --delay 20 "HELD ONE"
xdotool key Tab
xdotool type --delay 20 "TOPSOIL"
xdotool key Tab Tab Tab
sleep 0.3
xdotool key Return
sleep 0.5
xdotool key Return
sleep 1
"$dbftool" dump "$db/ticket.dbf" | grep -q "HELD ONE.*14020" || fail "the inbound by taps was not stored"

# Partial Records, Enter held on the list: the ticket is chosen for its
# outbound, and neither read nor printed by the same key.
echo "weight 8760" >&4
xdotool key alt+v
sleep 0.3
xdotool key p
wait_window "^View Records$" || fail "Partial Records did not open"
sleep 0.5
hold_return
completed="$(day_rows "HELD ONE")"
if [ "${completed:-0}" -gt 0 ]; then
  faults+=("Enter held on the Partial Records list also read the scale and printed: the day table holds HELD ONE")
fi
xdotool key alt+c
sleep 0.5

# Enter held on Read Scale: the reading shows, nothing is stored yet.
echo "weight 9000" >&4
sleep 0.5
xdotool type --delay 20 "HELD TWO"
xdotool key Tab
xdotool type --delay 20 "TOPSOIL"
xdotool key Tab Tab Tab
sleep 0.3
hold_return
if "$dbftool" dump "$db/ticket.dbf" | grep -q "HELD TWO"; then
  faults+=("Enter held on Read Scale also pressed Done: HELD TWO was stored with no second press")
fi

if [ "${#faults[@]}" -gt 0 ]; then
  printf 'FAIL: %s\n' "${faults[@]}"
  exit 1
fi
echo "PASS: Enter held on Read Scale and on the Partial Records list presses once"
exit 0
