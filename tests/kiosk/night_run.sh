#!/usr/bin/env bash
# A night at an unattended scale: the real program on a real X server with
# no window manager (Xvfb) and the device simulator, driven through many
# visits of five customers with real pointer clicks (xdotool), with the
# faults drivers and devices bring mixed in: unknown cards, boxes left
# unanswered, drivers who walk away, double taps, a keyboard-type reader
# presenting the card on the plate screen, an empty, negative or unsteady
# scale, two messages at once, a printer unplugged, a damaged
# counter and an open-ticket table cut short.
#
#   night_run.sh GRAZULO MAKEDEMO DEVSIM DBFTOOL [VISITS] [SEED]
#
# At the end the kiosk must be running, on the swipe screen with no box,
# and every weighing stored once with the steady positive weight the scale
# showed: each open ticket the last inbound weight of its customer, each
# completed ticket its in and out weights and their difference, no ticket
# number twice. Prints the figures. Exit status 77 (skipped) without Xvfb
# or xdotool.
set -uo pipefail
GRAZULO="$1"
MAKEDEMO="$2"
DEVSIM="$3"
DBFTOOL="$4"
visits="${5:-40}"
RANDOM="${6:-28}"
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=xkiosk.sh
. "$here/xkiosk.sh"
xk_require

started=$(date +%s)
xk_start "[Timer]
license=6
outbound=1
instructions=1
[Scale]
steady=1"
db="$xk_site/database"

declare -A open         # customer card -> its open ticket's in weight
declare -A count        # visit kind -> how many
expected_done=()        # "in out" of each completed ticket
weight_seq=1000

# A weight not used before this night (in W), so every ticket tells its
# weighings.
next_weight() {
  weight_seq=$((weight_seq + 1))
  W=$((8000 + weight_seq * 7))
}

declare -A names=([1001]="ACME GRAVEL LTD" [1002]="BLUE RIVER AGGREGATES" [1003]="CASCADE CONCRETE"
  [1004]="DUNMORE LANDSCAPING" [1005]="EASTSIDE EXCAVATING")

# The in weights of the customer's open tickets, one a line. The screens of
# a visit may come and go faster than a loaded machine can look at them, so
# what a visit stored is read from the table.
open_weights() {
  "$DBFTOOL" dump "$db/ticket.dbf" 2> /dev/null | awk -F, -v n="$1" 'NR > 1 && $6 == n { print $19 }'
}

# Waits (20 s at most) until the customer's open tickets are exactly the
# weights given (none: no open ticket).
wait_open() {
  local name="$1" want="${2:-}"
  for _ in $(seq 1 100); do
    [ "$(open_weights "$name" | tr '\n' ' ')" = "${want:+$want }" ] && return 0
    xk_alive || return 1
    sleep 0.2
  done
  return 1
}

# How many log lines match.
logged() { grep -c -- "$1" "$xk_log"; }

back_to_swipe() {
  xk_wait "^Please Swipe Card" || xk_fail "$1: the swipe screen did not come back"
  xk_wait "^(Enter License Plate|Select Material|Outbound|Driver Instructions)$" gone 60 ||
    xk_fail "$1: a visit's screen still shows"
}

answer() {
  xk_wait "^$1\$" || xk_fail "$2: no \"$1\" box"
  sleep 0.2
  xk_ok "$1"
  xk_wait "^$1\$" gone 30 || xk_fail "$2: a touch on OK did not reach the \"$1\" box"
}

scale() {
  xk_dev weight "$1"
  sleep 1.3  # the frames agree for the steadiness time
}

inbound() {
  local card="$1" kind="$2" w
  next_weight
  w=$W
  if [ "$kind" = negative ]; then scale -40; else scale "$w"; fi
  xk_dev card "$card"
  xk_wait "^Enter License Plate$" || xk_fail "$kind: no licence screen for $card"
  if [ "$kind" = reader ]; then
    # The card presented again to a keyboard-type reader: not a plate.
    xdotool type --delay 15 "$card"
    xdotool key Return
    sleep 0.3
    xk_shows "^Enter License Plate$" || xk_fail "reader: the card line left the licence screen"
  fi
  xk_plate "P$card"
  xk_wait "^Select Material$" || xk_fail "$kind: no material screen"
  case "$kind" in
    double)
      # A bouncing touch: two taps 30 ms apart.
      read -r mx my < <(xk_at 400 211)
      xdotool mousemove "$mx" "$my" click --repeat 2 --delay 30 1
      ;;
    unsteady)
      # The truck still rolls: the scale moves as the material is touched,
      # and for two seconds after, then settles at its weight, which is the
      # one stored.
      xk_dev weight $((w - 400))
      sleep 0.4
      xk_material 3
      for i in 1 2 3 4 5 6; do
        xk_dev weight $((w - 400 + i % 2 * 250))
        sleep 0.3
      done
      xk_dev weight "$w"
      ;;
    negative)
      xk_material 1
      answer "Weigh Scale Error" negative
      scale "$w"
      xk_material 1
      ;;
    *) xk_material $((RANDOM % 12 + 1)) ;;
  esac
  wait_open "${names[$card]}" "$w" || xk_fail "$kind: the open tickets of $card are $(open_weights "${names[$card]}"), not $w"
  open[$card]="$w"
  back_to_swipe "$kind"
}

outbound() {
  local card="$1" kind="$2" w
  next_weight
  w=$W
  if [ "$kind" = empty ]; then
    scale 0
    xk_dev card "$card"
    answer "Weigh Scale Error" empty
  fi
  # The printer unplugged (its device gone) for this visit; its message is
  # left unanswered and goes with the visit.
  local printed dismissed
  printed=$(logged "message: Printer Error")
  dismissed=$(logged "dismissed unanswered (the visit ended): Printer Error")
  [ "$kind" = printer ] && mv "$xk_tmp/dev/printer" "$xk_tmp/dev/printer.off"
  scale "$w"
  xk_dev card "$card"
  wait_open "${names[$card]}" || xk_fail "$kind: the ticket of $card was not completed"
  expected_done+=("${open[$card]} $w")
  unset "open[$card]"
  back_to_swipe "$kind"
  if [ "$kind" = printer ]; then
    mv "$xk_tmp/dev/printer.off" "$xk_tmp/dev/printer"
    [ "$(logged "message: Printer Error")" -eq $((printed + 1)) ] || xk_fail "printer: not one message"
    for _ in $(seq 1 50); do
      [ "$(logged "dismissed unanswered (the visit ended): Printer Error")" -gt "$dismissed" ] && break
      sleep 0.2
    done
    xk_shows "^Printer Error$" && xk_fail "printer: the box stayed after the visit"
  fi
}

for ((v = 1; v <= visits; v++)); do
  xk_alive || xk_fail "the program ended before visit $v"
  card=$((1001 + RANDOM % 5))
  roll=$((RANDOM % 14))
  if [ -z "${open[$card]:-}" ]; then
    case $roll in
      0) kind=unknown ;;
      1) kind=noplate ;;
      2) kind=walkaway ;;
      3) kind=double ;;
      4) kind=reader ;;
      5) kind=negative ;;
      6) kind=unsteady ;;
      7) kind=counter ;;
      *) kind=in ;;
    esac
  else
    case $roll in
      0) kind=unknown ;;
      1) kind=empty ;;
      2) kind=printer ;;
      3) kind=twoboxes ;;
      4) kind=cut ;;
      *) kind=out ;;
    esac
  fi
  count[$kind]=$((${count[$kind]:-0} + 1))
  echo "visit $v: $kind, card $card"
  case "$kind" in
    unknown)
      xk_dev card 9$((RANDOM))
      answer "Card Error" unknown
      ;;
    noplate)
      # Enter without a plate, and the driver walks away from the box.
      xk_dev card "$card"
      xk_wait "^Enter License Plate$" || xk_fail "noplate: no licence screen"
      xk_key Enter
      xk_wait "^License Plate$" || xk_fail "noplate: no box"
      xk_wait "^License Plate$" gone 100 || xk_fail "noplate: the box outlived its visit"
      back_to_swipe noplate
      ;;
    walkaway)
      xk_dev card "$card"
      xk_wait "^Enter License Plate$" || xk_fail "walkaway: no licence screen"
      xk_plate "W$card"
      xk_wait "^Select Material$" || xk_fail "walkaway: no material screen"
      xk_wait "^Select Material$" gone 100 || xk_fail "walkaway: the material screen never timed out"
      back_to_swipe walkaway
      ;;
    counter)
      # The counter damaged for one visit: nothing stored, then mended.
      cp "$db/control.dbf" "$xk_tmp/control.keep"
      printf 'not the bytes of a table\r\n%.0s' {1..20} > "$db/control.dbf"
      next_weight
      scale "$W"
      xk_dev card "$card"
      xk_wait "^Enter License Plate$" || xk_fail "counter: no licence screen"
      xk_plate "C$card"
      xk_wait "^Select Material$" || xk_fail "counter: no material screen"
      xk_material 1
      answer "Ticket Error" counter
      back_to_swipe counter
      cp "$xk_tmp/control.keep" "$db/control.dbf"
      ;;
    twoboxes)
      # An unknown card's box, and meanwhile this card with the scale in pounds.
      xk_dev card 8$((RANDOM))
      xk_wait "^Card Error$" || xk_fail "twoboxes: no first box"
      xk_dev unit L
      sleep 0.5
      xk_dev card "$card"
      sleep 1
      [ "$(xk_boxes)" -eq 1 ] || xk_fail "twoboxes: $(xk_boxes) boxes at once"
      answer "Card Error" twoboxes
      answer "Weigh Scale Error" twoboxes
      xk_dev unit K
      ;;
    cut)
      # The open tickets cut short inside their last record: the visit stops
      # and the table is left as it is; then it is put back.
      cp "$db/ticket.dbf" "$xk_tmp/ticket.keep"
      truncate -s -20 "$db/ticket.dbf"
      cp "$db/ticket.dbf" "$xk_tmp/ticket.cut"
      next_weight
      scale "$W"
      xk_dev card "$card"
      answer "Ticket Error" cut
      cmp -s "$db/ticket.dbf" "$xk_tmp/ticket.cut" || xk_fail "cut: the cut table was written"
      cp "$xk_tmp/ticket.keep" "$db/ticket.dbf"
      ;;
    in | double | reader | negative | unsteady) inbound "$card" "$kind" ;;
    out | empty | printer) outbound "$card" "$kind" ;;
  esac
  [ "$(xk_boxes)" -eq 0 ] || xk_fail "visit $v ($kind): a box is left"
done

xk_alive || xk_fail "the program ended"
xk_shows "^Please Swipe Card" || xk_fail "not on the swipe screen at the end"
[ "$(xk_boxes)" -eq 0 ] || xk_fail "a box shows at the end"

# Every weighing stored once with the weight the scale settled at.
open_list=""
for c in "${!open[@]}"; do open_list+="$c ${open[$c]}"$'\n'; done
"$DBFTOOL" dump "$db/ticket.dbf" > "$xk_tmp/open.csv" || xk_fail "ticket.dbf cannot be read"
: > "$xk_tmp/done.csv"
for t in "$db"/[A-Z][a-z][a-z][0-9][0-9][0-9][0-9].dbf; do
  [ -e "$t" ] && "$DBFTOOL" dump "$t" | tail -n +2 >> "$xk_tmp/done.csv"
done
"$DBFTOOL" dump "$db/ticket.dbf" | head -1 > "$xk_tmp/heading.csv"
python3 - "$xk_tmp" "$open_list" "$(printf '%s\n' "${expected_done[@]}")" << 'EOF' || xk_fail "the stored tickets are not the night's weighings"
import csv, sys
tmp, open_list, done_list = sys.argv[1], sys.argv[2], sys.argv[3]
cards = {"1001": "ACME GRAVEL LTD", "1002": "BLUE RIVER AGGREGATES", "1003": "CASCADE CONCRETE",
         "1004": "DUNMORE LANDSCAPING", "1005": "EASTSIDE EXCAVATING"}
heading = [h.lower() for h in next(csv.reader(open(tmp + "/heading.csv")))]
def rows(name):
    return [dict(zip(heading, r)) for r in csv.reader(open(name)) if r and r[0].lower() != "user_id"]
opened, done = rows(tmp + "/open.csv"), rows(tmp + "/done.csv")
faults = []
want_open = sorted((cards[c], int(w)) for c, w in (l.split() for l in open_list.splitlines() if l.strip()))
got_open = sorted((r["customer"].strip(), int(r["in_wgt"])) for r in opened)
if got_open != want_open:
    faults.append("open tickets %s, expected %s" % (got_open, want_open))
want_done = sorted(tuple(int(x) for x in l.split()) for l in done_list.splitlines() if l.strip())
got_done = sorted((int(r["in_wgt"]), int(r["out_wgt"])) for r in done)
if got_done != want_done:
    faults.append("completed %s, expected %s" % (got_done, want_done))
for r in done:
    if int(r["net_wgt"]) != abs(int(r["in_wgt"]) - int(r["out_wgt"])):
        faults.append("ticket %s: net %s" % (r["ticket"], r["net_wgt"]))
for r in opened + done:
    if int(r["in_wgt"]) <= 0 or (r in done and int(r["out_wgt"]) <= 0):
        faults.append("ticket %s: a weight not above zero" % r["ticket"])
numbers = [r["ticket"] for r in opened + done]
if len(set(numbers)) != len(numbers):
    faults.append("a ticket number twice: %s" % sorted(numbers))
print("stored: %d open, %d completed, ticket numbers unique" % (len(opened), len(done)))
for f in faults:
    print("FAULT:", f)
sys.exit(1 if faults else 0)
EOF

elapsed=$(($(date +%s) - started))
printf 'visits: %d in %d s (one program, pid %s, never restarted)\n' "$visits" "$elapsed" "$xk_kiosk"
for k in in out double reader negative unsteady unknown noplate walkaway counter empty printer twoboxes cut; do
  printf '  %-9s %d\n' "$k" "${count[$k]:-0}"
done
printf 'card lines typed on the plate screen and dropped: %d\n' "$(grep -c 'not taken as a plate' "$xk_log")"
printf 'messages shown: %d; dismissed with their visit: %d; weights that did not settle: %d\n' \
  "$(grep -c ' message: ' "$xk_log")" "$(grep -c 'dismissed unanswered' "$xk_log")" \
  "$(grep -c 'did not settle' "$xk_log")"
printf 'printed tickets: %d\n' "$(grep -c 'TICKET  :' "$xk_tmp/printer.txt" 2> /dev/null)"
echo "PASS: a night of visits; the kiosk is up on the swipe screen and every weighing is stored once"
exit 0
