#!/usr/bin/env bash
# The real program on a real X server with no window manager (Xvfb) and the
# device simulator, touched with real pointer clicks (xdotool):
#   - a box left open through the licence time-out: it goes with the visit,
#     and the next card, and the visit after it, work (the program lives);
#   - two boxes at once: one shows, the other waits; each is on top and
#     takes the touch on its OK; the swipe screen then has the keyboard.
#
#   xvfb_kiosk_faults.sh GRAZULO MAKEDEMO DEVSIM DBFTOOL
#
# Exit status 77 (skipped) when Xvfb or xdotool is not installed.
set -uo pipefail
GRAZULO="$1"
MAKEDEMO="$2"
DEVSIM="$3"
DBFTOOL="$4"
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=xkiosk.sh
. "$here/xkiosk.sh"
xk_require

# The licence time-out is short, to see a box go with it, but long enough for
# xdotool to type a plate on a loaded machine.
xk_start "[Timer]
license=5
outbound=1
instructions=1
[Scale]
steady=1"
xk_dev weight 12000

# ---- a box left open through the licence time-out ----
xk_dev card 1001
xk_wait "^Enter License Plate$" || xk_fail "the licence screen did not show"
xk_key Enter
xk_wait "^License Plate$" || xk_fail "Enter without a plate gave no box"
# Nobody answers it; the licence time-out ends the visit and the box with it.
xk_wait "^License Plate$" gone 100 || xk_fail "the box stayed after the licence time-out"
xk_wait "^Please Swipe Card" || xk_fail "the swipe screen did not come back"
xk_shows "^Enter License Plate$" && xk_fail "the licence screen still shows"
xk_dev card 1002
xk_wait "^Enter License Plate$" || xk_fail "the next card gave no licence screen"
xk_alive || xk_fail "the program ended at the next card"
xk_plate AB12
xk_wait "^Select Material$" || xk_fail "the plate gave no material screen"
xk_material 1
xk_wait "^Driver Instructions$" || xk_fail "the material gave no instructions"
xk_wait "^Please Swipe Card" || xk_fail "the instructions did not time out"
[ "$(xk_rows "$xk_site/database/ticket.dbf" | wc -l)" -eq 1 ] || xk_fail "not one open ticket: $(xk_rows "$xk_site/database/ticket.dbf")"
xk_rows "$xk_site/database/ticket.dbf" | grep -q "AB12,BLUE RIVER AGGREGATES," || xk_fail "the open ticket is not the visit's"

# ---- two boxes at once ----
xk_dev card 999999
xk_wait "^Card Error$" || xk_fail "the unknown card gave no box"
# The scale in pounds, and an outbound card while the first box shows.
xk_dev unit L
sleep 0.5
xk_dev card 1002
sleep 1.5
[ "$(xk_boxes)" -eq 1 ] || xk_fail "$(xk_boxes) boxes show at once"
grep -q "message: Weigh Scale Error: Unit mis-matched!" "$xk_log" || xk_fail "the second message never came"
# A touch on OK reaches the box: it is on top.
xk_ok "Card Error" || xk_fail "no Card Error box to touch"
xk_wait "^Card Error$" gone 30 || xk_fail "a touch on OK did not reach the Card Error box"
xk_wait "^Weigh Scale Error$" there 30 || xk_fail "the waiting box did not show"
[ "$(xk_boxes)" -eq 1 ] || xk_fail "$(xk_boxes) boxes show at once"
xk_ok "Weigh Scale Error" || xk_fail "no scale box to touch"
xk_wait "^Weigh Scale Error$" gone 30 || xk_fail "a touch on OK did not reach the second box"
xk_alive || xk_fail "the program ended"

# The swipe screen has the keyboard again: a keyboard-type reader's card
# (typed keys and Enter) weighs the truck out.
xk_dev unit K
sleep 0.5
xdotool type --delay 20 "1002"
xdotool key Return
xk_wait "^Outbound$" || xk_fail "the keyboard did not reach the swipe screen after the boxes"
xk_wait "^Please Swipe Card" || xk_fail "the outbound visit did not end"
[ "$(xk_rows "$xk_site/database/ticket.dbf" | wc -l)" -eq 0 ] || xk_fail "the ticket is still open"
grep -q "TICKET  : " "$xk_tmp/printer.txt" || xk_fail "nothing printed"
[ "$(xk_boxes)" -eq 0 ] || xk_fail "a box is left"

xdotool key ctrl+F1
for _ in $(seq 1 100); do
  xk_alive || break
  sleep 0.1
done
xk_alive && xk_fail "Ctrl+F1 did not end the program"
wait "$xk_kiosk"
rc=$?
# Ended by the key, not by a signal or an abort.
[ "$rc" -lt 128 ] || xk_fail "the program ended with status $rc"
echo "PASS: a box through a time-out and two boxes at once, under a real X server"
exit 0
