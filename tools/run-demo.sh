#!/usr/bin/env bash
# The kiosk on simulated devices. Builds the program, makes a demonstration
# site in build/demo (once; --fresh makes it anew), starts the device
# simulator and the kiosk on it. Weigh a truck in and out by typing
# simulator commands in this terminal and touching (clicking) the kiosk's
# screen; the printed tickets land in build/demo/printer.txt. Ctrl+C, or the
# simulator's "quit", ends the kiosk and the simulator.
#
#   bash tools/run-demo.sh [--fresh]
#
# The kiosk gets an X server of its own: a 1024x768 window (Xephyr) when
# there is a DISPLAY, otherwise a virtual screen (Xvfb), which a VNC viewer
# can watch and touch through x11vnc.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

fresh=0
for arg in "$@"; do
  case "$arg" in
    --fresh) fresh=1 ;;
    -h | --help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run-demo.sh: unknown argument $arg (try --help)" >&2; exit 2 ;;
  esac
done

bash tools/install-deps.sh demo

build="$root/build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DGRAZULO_TESTS=OFF -DGRAZULO_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target grazulo devsim makedemo grabscreen dbftool

demo="$build/demo"
dev="$demo/dev"
if [ "$fresh" = 1 ]; then
  rm -rf "$demo"
fi
if [ ! -f "$demo/setup.dbf" ]; then
  echo "Making the demonstration site in $demo"
  "$build/tools/makedemo" "$demo"
fi
mkdir -p "$dev"
for pic in warning.bmp error.bmp question.bmp; do
  [ -f "$demo/$pic" ] || cp "assets/$pic" "$demo/$pic"
done
if [ ! -f "$demo/setup.ini" ]; then
  cat > "$demo/setup.ini" <<EOF
[Inbound]
msg1=Drive forward to the loader and follow the operator's signals.
msg2=Come back onto the scale with your card when you are loaded.
[Outbound]
msg1=Take both copies of your ticket from the printer.
msg2=Cover your load before you leave. Drive safely!
[Timer]
license=60
outbound=8
instructions=8
[Scale]
steady=1
[Ports]
com1=$dev/scale
com2=$dev/card
com3=$dev/printer
EOF
fi

# ---- everything started below is ended on the way out ----
pids=()
kiosk_pid=""
cleanup() {
  trap - EXIT INT TERM
  if [ -n "$kiosk_pid" ] && kill -0 "$kiosk_pid" 2>/dev/null; then
    kill -TERM "$kiosk_pid" 2>/dev/null || true
    for _ in $(seq 1 50); do
      kill -0 "$kiosk_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$kiosk_pid" 2>/dev/null || true
  fi
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill -TERM "${pids[$i]}" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  echo
  echo "Demo ended. The printed tickets: $demo/printer.txt (cat -v shows the printer's control bytes)."
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# An X server of its own for the kiosk; it writes its display number to fd 3.
kdisplay=""
start_x() {
  local numfile="$demo/.display"
  : > "$numfile"
  "$@" -displayfd 3 3> "$numfile" > "$demo/xserver.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 1 100); do
    [ -s "$numfile" ] && break
    sleep 0.1
  done
  if [ ! -s "$numfile" ]; then
    echo "The X server did not start; see $demo/xserver.log" >&2
    exit 1
  fi
  kdisplay=":$(tr -d '[:space:]' < "$numfile")"
}

watch_hint=""
if [ -n "${DISPLAY:-}" ] && command -v Xephyr > /dev/null 2>&1; then
  start_x Xephyr -screen 1024x768 -title "Grazulo kiosk (demo)" -nolisten tcp
  watch_hint="The kiosk shows in the window \"Grazulo kiosk (demo)\"; click it as a driver touches the screen."
elif [ -z "${DISPLAY:-}" ]; then
  start_x Xvfb -screen 0 1024x768x24 -nolisten tcp
  watch_hint="The kiosk runs on the virtual screen $kdisplay (no DISPLAY here)."
  if command -v x11vnc > /dev/null 2>&1; then
    x11vnc -display "$kdisplay" -localhost -nopw -forever -shared -autoport 5900 > "$demo/x11vnc.out" 2> "$demo/x11vnc.log" &
    pids+=($!)
    port=""
    for _ in $(seq 1 50); do
      port="$(sed -n 's/^PORT=//p' "$demo/x11vnc.out" 2> /dev/null | head -n 1)"
      [ -n "$port" ] && break
      sleep 0.1
    done
    if [ -n "$port" ]; then
      watch_hint+=$'\n'"Watch and touch it with a VNC viewer on localhost:$port (from another machine: ssh -L $port:localhost:$port this-machine)."
    fi
  else
    watch_hint+=$'\n'"Install x11vnc to watch and touch it with a VNC viewer."
  fi
else
  kdisplay="$DISPLAY"
  watch_hint="Xephyr is missing: the kiosk takes the whole of display $kdisplay. Ctrl+F1 on it, or Ctrl+C here, ends it."
fi

# The kiosk starts once the simulator's devices are there.
rm -f "$dev/scale" "$dev/card" "$dev/printer"
(
  for _ in $(seq 1 100); do
    [ -e "$dev/scale" ] && [ -e "$dev/card" ] && [ -e "$dev/printer" ] && break
    sleep 0.1
  done
  exec env GRAZULO_HOME="$demo" GRAZULO_SHOW_POINTER=1 DISPLAY="$kdisplay" QT_QPA_PLATFORM=xcb \
    "$build/src/kiosk/grazulo"
) > "$demo/kiosk.log" 2>&1 &
kiosk_pid=$!
(
  while kill -0 "$kiosk_pid" 2> /dev/null; do sleep 1; done
  echo
  echo "The kiosk has ended (its messages: $demo/kiosk.log). Type quit, or press Ctrl+C."
) &
pids+=($!)

cat <<EOF

================================================================================
 Grazulo kiosk demo
================================================================================
$watch_hint
A picture of the kiosk's screen at any time:
  DISPLAY=$kdisplay $build/tools/grabscreen /tmp/kiosk.png

Type the device simulator's commands here:
  weight N      the scale shows N kg          unit L | unit K   pounds | kilograms
  card NUMBER   a driver swipes a card        overload | silence | resume
  status        what each device does         help | quit

Customer cards: 1001 ACME GRAVEL LTD      1002 BLUE RIVER AGGREGATES
                1003 CASCADE CONCRETE     1004 DUNMORE LANDSCAPING
                1005 EASTSIDE EXCAVATING

A truck in:  weight 14020, then card 1001; touch the plate on the screen's
             keyboard, Enter, then a material.
And out:     weight 8760, then card 1001: gross, tare and net show, and two
             tickets print into $demo/printer.txt
The tables:  $build/tools/dbftool dump $demo/database/ticket.dbf
Ctrl+C (or quit) ends the kiosk and the simulator.
--------------------------------------------------------------------------------
EOF

"$build/tools/devsim" --scale "$dev/scale" --card "$dev/card" --printer "$dev/printer" \
  --printer-file "$demo/printer.txt" --weight 0
