#!/usr/bin/env bash
# The real program on a real X server with no window manager (Xvfb) and the
# device simulator, touched and swiped as drivers do one after another:
#   - a second touch on Enter a moment after the first (a slow screen, a
#     bouncing touch) lands on the material screen that replaced the
#     keyboard: it must choose no material (the site offers sixteen);
#   - a box that ended one visit ("The ticket could not be stored.") must
#     not show over the next driver's weighing out;
#   - a keyboard-type reader's card presented while a box shows must be
#     taken as a card, not answer the box.
#
#   xvfb_kiosk_touches.sh GRAZULO MAKEDEMO DEVSIM DBFTOOL
#
# Each part reports what it saw; the script fails when any part does.
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

# The demonstration site with four more materials: sixteen, a full screen.
demo="$MAKEDEMO"
MAKEDEMO="$xk_tmp/makedemo16"
cat > "$MAKEDEMO" << EOF
#!/usr/bin/env bash
"$demo" "\$1" || exit 1
for n in 13 14 15 16; do
  "$DBFTOOL" append "\$1/database/product.dbf" code_num=\$n "n_ame=EXTRA \$n" > /dev/null || exit 1
done
EOF
chmod +x "$MAKEDEMO"

xk_start "[Timer]
license=20
outbound=2
instructions=2
[Scale]
steady=0"
db="$xk_site/database"
faults=()
fault() {
  echo "FAULT: $*"
  faults+=("$*")
}

# The centre of the on-screen Enter, as xk_key places it.
read -r ex ey < <(awk 'BEGIN {
  s = 1024 / 1012; if (768 / 726 < s) s = 768 / 726
  ox = int((1024 - 1012 * s) / 2); oy = int((768 - 726 * s) / 2)
  left = ox; top = oy + int(256 * s); w = int(1012 * s + 0.5); h = int(465 * s + 0.5)
  uw = w / 15; uh = h / 5
  printf "%d %d\n", left + int(10.75 * uw) + 2 + (int(4.25 * uw) - 4) / 2, top + int(2 * uh) + 2 + (int(uh) - 4) / 2 }')

# ---- a second touch on Enter ----
xk_dev weight 12000
sleep 0.5
xk_dev card 1001
xk_wait "^Enter License Plate$" || xk_fail "the licence screen did not show"
xk_key A
xk_key B
# Enter, and again 150 ms later.
xdotool mousemove "$ex" "$ey" click --repeat 2 --delay 150 1
sleep 1.5
if [ "$(xk_rows "$db/ticket.dbf" | wc -l)" -ne 0 ]; then
  fault "a second touch on Enter stored a ticket nobody chose: $(xk_rows "$db/ticket.dbf")"
  xk_wait "^Please Swipe Card" || xk_fail "the visit did not end"
else
  xk_shows "^Select Material$" || fault "the material screen does not show after Enter"
  xk_material 1
  xk_wait "^Driver Instructions$" || xk_fail "the material gave no instructions"
  xk_wait "^Please Swipe Card" || xk_fail "the instructions did not time out"
fi
[ "$(xk_rows "$db/ticket.dbf" | wc -l)" -eq 1 ] || xk_fail "not one open ticket after the first visit"

# ---- a box of one visit over the next driver's weighing out ----
cp "$db/control.dbf" "$xk_tmp/control.dbf"
head -c 2000 /dev/urandom > "$db/control.dbf"
xk_dev card 1002
xk_wait "^Enter License Plate$" || xk_fail "the licence screen did not show"
xk_plate CD34
xk_wait "^Select Material$" || xk_fail "the plate gave no material screen"
xk_material 2
xk_wait "^Ticket Error$" || xk_fail "a damaged counter gave no box"
xk_wait "^Please Swipe Card" || xk_fail "the visit did not end on the swipe screen"
cp "$xk_tmp/control.dbf" "$db/control.dbf"
# Nobody answers it (the driver has gone to the office); the next driver
# weighs out.
xk_dev weight 15000
sleep 0.5
xk_dev card 1001
xk_wait "^Outbound$" || xk_fail "the outbound screen did not show"
sleep 0.5
if xk_shows "^Outbound$" && xk_shows "^Ticket Error$"; then
  fault "the earlier visit's \"The ticket could not be stored.\" shows over the next driver's weighing out"
fi
xk_wait "^Please Swipe Card" || xk_fail "the outbound visit did not end"
xk_wait "^Ticket Error$" gone 50 || xk_ok "Ticket Error"
xk_wait "^Ticket Error$" gone 30 || xk_fail "the Ticket Error box stays"
[ "$(xk_rows "$db/ticket.dbf" | wc -l)" -eq 0 ] || xk_fail "the ticket is still open"

# ---- a keyboard-type reader's card while a box shows ----
xk_dev card 999999
xk_wait "^Card Error$" || xk_fail "an unknown card gave no box"
xdotool type --delay 20 "1003"
xdotool key Return
if ! xk_wait "^Enter License Plate$" there 30; then
  fault "a keyboard-type reader's card while a box showed was not taken$(xk_shows "^Card Error$" || echo "; it answered the box")"
fi
xk_alive || xk_fail "the program ended"

if [ "${#faults[@]}" -gt 0 ]; then
  echo "FAIL: ${#faults[@]} fault(s)"
  exit 1
fi
echo "PASS: second touches, boxes of earlier visits and cards during a box, under a real X server"
exit 0
