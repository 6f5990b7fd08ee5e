# The real kiosk on an X server of its own (Xvfb, 1024x768, no window
# manager) with the device simulator, driven as drivers drive it: cards from
# the simulated reader, touches as real pointer clicks (xdotool) on the
# screens' places. Sourced by the scripts that drive it; they set GRAZULO,
# MAKEDEMO and DEVSIM first and call xk_start.
#
# Places on the screens come from the design the screens are laid out on
# (1012 by 726, scaled to the screen by one factor and centred), so a click
# lands where a finger would.

xk_tmp="$(mktemp -d /tmp/gzk-XXXXXX)"  # short: datapath holds 50 characters
xk_pids=()
xk_site="$xk_tmp/site"
xk_log="$xk_tmp/grazulo.log"
xk_kiosk=""

xk_cleanup() {
  local p
  exec 4>&- 2> /dev/null
  for p in "${xk_pids[@]}"; do
    kill "$p" 2> /dev/null
  done
  wait 2> /dev/null
  [ -n "${XK_KEEP:-}" ] || rm -rf "$xk_tmp"
}
trap xk_cleanup EXIT

xk_fail() {
  echo "FAIL: $*"
  local w
  echo "---- windows that show"
  for w in $(xdotool search --onlyvisible --name "" 2> /dev/null); do
    echo "$(xdotool getwindowname "$w" 2> /dev/null) $(xdotool getwindowgeometry "$w" 2> /dev/null | tr '\n' ' ')"
  done
  echo "---- program output (last 40 lines)"
  tail -40 "$xk_log" 2> /dev/null
  exit 1
}

xk_require() {
  local tool
  for tool in Xvfb xdotool; do
    if ! command -v "$tool" > /dev/null 2>&1; then
      echo "SKIPPED: $tool is not installed (bash tools/install-deps.sh installs it)"
      exit 77
    fi
  done
}

# Starts Xvfb, makes the demonstration site with the given setup.ini lines
# (the [Ports] are added), starts devsim (weight 0) and the program.
xk_start() {
  local ini="$1"
  local here
  here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
  export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$here/lsan-xcb.supp"
  : > "$xk_tmp/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$xk_tmp/display" > "$xk_tmp/xvfb.log" 2>&1 &
  xk_pids+=($!)
  for _ in $(seq 1 100); do
    [ -s "$xk_tmp/display" ] && break
    sleep 0.1
  done
  [ -s "$xk_tmp/display" ] || xk_fail "Xvfb did not start: $(cat "$xk_tmp/xvfb.log")"
  export DISPLAY=":$(tr -d '[:space:]' < "$xk_tmp/display")"

  "$MAKEDEMO" "$xk_site" > /dev/null || xk_fail "makedemo"
  mkdir -p "$xk_tmp/dev"
  {
    printf '%s\n' "$ini"
    printf '[Ports]\ncom1=%s\ncom2=%s\ncom3=%s\n' "$xk_tmp/dev/scale" "$xk_tmp/dev/card" "$xk_tmp/dev/printer"
  } > "$xk_site/setup.ini"

  mkfifo "$xk_tmp/devsim.in"
  "$DEVSIM" --scale "$xk_tmp/dev/scale" --card "$xk_tmp/dev/card" --printer "$xk_tmp/dev/printer" \
    --printer-file "$xk_tmp/printer.txt" --weight 0 < "$xk_tmp/devsim.in" > "$xk_tmp/devsim.log" 2>&1 &
  xk_pids+=($!)
  exec 4> "$xk_tmp/devsim.in"
  for _ in $(seq 1 100); do
    [ -e "$xk_tmp/dev/scale" ] && [ -e "$xk_tmp/dev/card" ] && [ -e "$xk_tmp/dev/printer" ] && break
    sleep 0.1
  done

  GRAZULO_HOME="$xk_site" QT_QPA_PLATFORM=xcb "$GRAZULO" > "$xk_log" 2>&1 &
  xk_kiosk=$!
  xk_pids+=($xk_kiosk)
  xk_wait "^Please Swipe Card" || xk_fail "the swipe screen did not show"
  sleep 0.5
}

# A command to the device simulator ("weight 12000", "card 1001", "unit L").
xk_dev() { echo "$*" >&4; }

xk_alive() { kill -0 "$xk_kiosk" 2> /dev/null; }

# Waits until a window whose title matches shows (or, with "gone", shows no
# more); 15 seconds unless a third argument says otherwise (tenths).
xk_wait() {
  local pattern="$1" want="${2:-there}" tries="${3:-150}"
  for _ in $(seq 1 "$tries"); do
    if xdotool search --onlyvisible --name "$pattern" > /dev/null 2>&1; then
      [ "$want" = there ] && return 0
    else
      [ "$want" = gone ] && return 0
    fi
    xk_alive || return 1
    sleep 0.1
  done
  return 1
}

xk_shows() { xdotool search --onlyvisible --name "$1" > /dev/null 2>&1; }

# How many of the program's boxes show (windows titled as a box's caption).
xk_boxes() {
  local n=0 c
  for c in "Card Error" "License Plate" "Weigh Scale Error" "Weight Error" "Ticket Error" "Printer Error" \
    "Material Error"; do
    n=$((n + $(xdotool search --onlyvisible --name "^$c\$" 2> /dev/null | wc -l)))
  done
  echo "$n"
}

# The screen point of a point of the 1012 by 726 design.
xk_at() {
  awk -v x="$1" -v y="$2" 'BEGIN {
    s = 1024 / 1012; if (768 / 726 < s) s = 768 / 726
    ox = int((1024 - 1012 * s) / 2); oy = int((768 - 726 * s) / 2)
    printf "%d %d\n", ox + x * s, oy + y * s }'
}

xk_click() {
  xdotool mousemove "$1" "$2" click 1
  sleep 0.15
}

# A key of the licence screen's on-screen keyboard (a letter, a digit or
# Enter), as the keyboard lays its keys out: five rows of fifteen units over
# the design rectangle 0,256 1012x465.
xk_key() {
  local label="$1"
  read -r kx ky < <(awk -v label="$label" 'BEGIN {
    s = 1024 / 1012; if (768 / 726 < s) s = 768 / 726
    ox = int((1024 - 1012 * s) / 2); oy = int((768 - 726 * s) / 2)
    left = ox; top = oy + int(256 * s); w = int(1012 * s + 0.5); h = int(465 * s + 0.5)
    uw = w / 15; uh = h / 5
    rows[0] = "1234567890"; from[0] = 1
    rows[1] = "QWERTYUIOP"; from[1] = 1.5
    rows[2] = "ASDFGHJKL"; from[2] = 1.75
    rows[3] = "ZXCVBNM"; from[3] = 2.25
    if (label == "Enter") { x = 10.75; r = 2; kw = 4.25 }
    else for (r = 0; r < 4; r++) { i = index(rows[r], label); if (i) { x = from[r] + i - 1; kw = 1; break } }
    printf "%d %d\n", left + int(x * uw) + 2 + (int(kw * uw) - 4) / 2, top + int(r * uh) + 2 + (int(uh) - 4) / 2 }')
  xk_click "$kx" "$ky"
}

# Types a plate on the on-screen keyboard, then Enter.
xk_plate() {
  local p="$1" i
  for ((i = 0; i < ${#p}; i++)); do
    xk_key "${p:i:1}"
  done
  xk_key Enter
}

# The Nth material button (1 to 16), four to a row.
xk_material() {
  local n=$(($1 - 1))
  local cols=(96 304 512 720) rows=(166 262 358 454)
  read -r mx my < <(xk_at $((cols[n % 4] + 96)) $((rows[n / 4] + 45)))
  xk_click "$mx" "$my"
}

# OK of the box titled so: the box lays its buttons out on its own design
# (600 wide with OK alone, a 40-pixel caption bar), centred as it grows.
xk_ok() {
  local wid
  wid="$(xdotool search --onlyvisible --name "^$1\$" 2> /dev/null | head -1)"
  [ -n "$wid" ] || return 1
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  xk_click $((X + 192 + 144 + (WIDTH - 600) / 2)) $((Y + 40 + 128 + 28))
}

# The records of a table as CSV (dbftool dump), without the heading.
xk_rows() { "$DBFTOOL" dump "$1" 2> /dev/null | tail -n +2; }
