#!/usr/bin/env bash
# The real program on a real X server with no window manager (Xvfb), driven
# by real key presses (xdotool): a card the kiosk does not know gives its
# message box, Return dismisses it, Ctrl+F10 then opens the station (so the
# swipe screen took the keyboard focus back). The station fills the screen;
# a truck is weighed in and out from the keyboard alone (Tab, Enter on the
# buttons, Alt+R, the Partial Records list) and the rows stored are read
# back; in the record window a refused entry and Cancel leave the next
# entry's cursor in the code field; Escape leaves the station open. Alt+F, E
# closes the station; with a master table missing, Escape on the start-up
# question opens the station all the same; and Ctrl+F1 ends the program (so
# the kiosk took the focus back again).
#
#   xvfb_station.sh GRAZULO MAKEDEMO DEVSIM DBFTOOL
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

# A card nobody knows: the kiosk's message box. A key is no answer to it
# (a keyboard-type reader's Enter must not close a box nobody read); a touch
# on its OK is.
echo "card 999999" >&4
wait_window "Card Error" || fail "the card error box did not show"
sleep 0.3
xdotool key Return
sleep 0.5
xdotool search --onlyvisible --name "Card Error" > /dev/null || fail "Return answered the card error box"
box="$(xdotool search --onlyvisible --name "Card Error" | head -1)"
eval "$(xdotool getwindowgeometry --shell "$box")"
xdotool mousemove $((X + 192 + 144 + (WIDTH - 600) / 2)) $((Y + 40 + 128 + 28)) click 1
wait_window "Card Error" gone || fail "a touch on OK did not dismiss the card error box"
sleep 0.3

# The swipe screen has the keyboard again: Ctrl+F10 opens the station.
xdotool key ctrl+F10
wait_window "^Ponderix" || fail "Ctrl+F10 after the message box did not open the station"
sleep 0.5
xdotool search --name "^Ponderix VELMORE GREENHOUSE$" > /dev/null || fail "the station's title is not the company's"

# It fills the screen (its own bar carries the title).
station="$(xdotool search --name "^Ponderix VELMORE GREENHOUSE$" | head -1)"
xdotool getwindowgeometry "$station" | grep -q "Geometry: 1024x768" ||
  fail "the station does not fill the screen: $(xdotool getwindowgeometry "$station")"

db="$site/database"
# Waits until the table's dump holds a line matching the pattern; 10 s at most.
wait_row() {
  local table="$1" pattern="$2"
  for _ in $(seq 1 100); do
    "$dbftool" dump "$table" 2> /dev/null | grep -q -- "$pattern" && return 0
    sleep 0.1
  done
  return 1
}
day_table() { ls "$db" | grep -E '^[A-Z][a-z]{2}[0-9]{4}\.dbf$' | head -1; }

# Weighed in from the keyboard: the customer field has the focus; Tab
# through product, plate and remarks to Read Scale; Enter reads the scale
# and moves on to Done; Enter stores the open ticket.
echo "weight 14020" >&4
sleep 0.5
xdotool type --delay 20 "ACME GRAVEL LTD"
xdotool key Tab
xdotool type --delay 20 "TOPSOIL"
xdotool key Tab
xdotool type --delay 20 "XV-1"
xdotool key Tab Tab
sleep 0.2
xdotool key Return
sleep 0.3
xdotool key Return
wait_row "$db/ticket.dbf" "ACME GRAVEL LTD.*14020" || fail "the inbound weighed from the keyboard was not stored"
echo "weight 8760" >&4

# Weighed out: View, Partial Records, Enter on the ticket; Alt+R reads the
# scale; Enter on Print stores and prints it.
xdotool key alt+v
sleep 0.3
xdotool key p
wait_window "^View Records$" || fail "Partial Records did not open"
sleep 0.5
xdotool key Return
wait_window "^View Records$" gone || fail "Enter did not choose the open ticket"
sleep 0.5
xdotool key alt+r
sleep 0.5
xdotool key Return
for _ in $(seq 1 100); do [ -n "$(day_table)" ] && break; sleep 0.1; done
[ -n "$(day_table)" ] || fail "the outbound was not stored: no day table"
wait_row "$db/$(day_table)" "ACME GRAVEL LTD.*14020,8760,5260" ||
  fail "the outbound stored other weights: $("$dbftool" dump "$db/$(day_table)")"
"$dbftool" dump "$db/ticket.dbf" | grep -q "ACME GRAVEL LTD" && fail "the ticket weighed out is still open"

# Customer records: a name another customer holds is refused; after the
# warning and Cancel, Add starts in the code field again.
xdotool key alt+e
sleep 0.3
xdotool key t
wait_window "^Customer Information$" || fail "Edit Customer Records did not open"
sleep 0.5
xdotool key alt+a
sleep 0.3
xdotool type --delay 20 "12"
xdotool key Return
xdotool type --delay 20 "ACME GRAVEL LTD"
xdotool key alt+o
wait_window "^Warning$" || fail "the duplicate name gave no warning"
sleep 0.3
xdotool key Return
wait_window "^Warning$" gone || fail "Return did not dismiss the warning"
sleep 0.3
xdotool key alt+c
sleep 0.3
xdotool key alt+a
sleep 0.3
xdotool type --delay 20 "34"
xdotool key Return
xdotool type --delay 20 "FOXHOLLOW FARMS"
xdotool key alt+o
wait_row "$db/customer.dbf" "^34,FOXHOLLOW FARMS,.*,$" ||
  fail "the code typed after Add did not land in Code Number: $("$dbftool" dump "$db/customer.dbf" | tail -2)"
sleep 0.3
xdotool key alt+x
wait_window "^Customer Information$" gone || fail "Alt+X did not close the record window"
sleep 0.3

# Escape does not close the station.
xdotool key Escape
sleep 0.5
xdotool search --name "^Ponderix VELMORE GREENHOUSE$" > /dev/null || fail "Escape closed the station"

# File, Exit closes the station; the kiosk shows again.
xdotool key alt+f
sleep 0.3
xdotool key e
wait_window "^Ponderix" gone || fail "File, Exit did not close the station"
sleep 0.5

# A master table missing: Escape on the start-up question starts the
# station (it is no Abort), which File, Exit closes again.
mv "$db/house.dbf" "$tmp/house.dbf"
xdotool key ctrl+F10
wait_window "^Ponderix$" || fail "the missing tables gave no question"
sleep 0.5
xdotool key Escape
wait_window "^Ponderix$" gone || fail "Escape did not dismiss the start-up question"
wait_window "^Ponderix VELMORE GREENHOUSE$" || fail "Escape on the start-up question did not start the station"
kill -0 "$kiosk" 2> /dev/null || fail "Escape on the start-up question ended the program"
sleep 0.5
xdotool key alt+f
sleep 0.3
xdotool key e
wait_window "^Ponderix" gone || fail "File, Exit did not close the station the second time"
mv "$tmp/house.dbf" "$db/house.dbf"
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
echo "PASS: message box, the station weighing from the keyboard, the record window, the start-up question and Ctrl+F1 under a real X server"
exit 0
