#!/usr/bin/env bash
# A new site made by grazulo-admin new-site (its setup table renamed
# SETUP.DBF, as an older site has it), its ports pointed at the device
# simulator, run by the kiosk session script with Xvfb standing in for the
# real X server. Each way the kiosk can end, with the session's answer:
#   - SIGTERM, SIGINT, SIGHUP: the kiosk closes itself and comes back;
#   - SIGKILL, a crash (SIGSEGV, SIGABRT): it comes back;
#   - the station's start-up ending the program: it comes back;
#   - Ctrl+F1: the session ends with the status the unit does not restart;
#   - the session stopped: the kiosk ends before the X server, status 0;
#   - the X server killed: the session ends with a failure, which the unit
#     restarts.
# And the X server never blanks and has the session's standard input (the
# console under the unit).
#
#   session_test.sh GRAZULO-ADMIN GRAZULO DEVSIM SESSION-SCRIPT UNIT-FILE
#
# Exit status 77 (skipped) when Xvfb, xdotool or xset is not installed.
set -uo pipefail
admin="$1"
grazulo="$2"
devsim="$3"
session="$4"
unit="$5"
for tool in Xvfb xdotool xset; do
  command -v "$tool" > /dev/null 2>&1 || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
here="$(cd "$(dirname "$0")" && pwd)"
ulimit -c 0  # the crashes below leave no core files
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$here/../kiosk/lsan-xcb.supp"

tmp="$(mktemp -d /tmp/gzs-XXXXXX)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2> /dev/null; done
  wait 2> /dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
log=""
fail() {
  echo "FAIL: $*"
  echo "---- session output ($log)"
  cat "$log" 2> /dev/null
  exit 1
}
# Waits up to a minute for a condition: the test does not depend on speed.
await() {
  for _ in $(seq 1 600); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

ctrl_f1_status="$(sed -n 's/^RestartPreventExitStatus=\([0-9]*\)$/\1/p' "$unit")"
[ -n "$ctrl_f1_status" ] || fail "the unit names no exit status it does not restart"
grep -qx 'Restart=always' "$unit" || fail "the unit does not start the session again after a failure"

site="$tmp/site"
"$admin" new-site "$site" > "$tmp/new-site.log" 2>&1 || fail "new-site: $(cat "$tmp/new-site.log")"
mv "$site/setup.dbf" "$site/SETUP.DBF"
mkdir -p "$tmp/dev"
sed -i "s|^com1=.*|com1=$tmp/dev/scale|; s|^com2=.*|com2=$tmp/dev/card|; s|^com3=.*|com3=$tmp/dev/printer|" \
  "$site/setup.ini"
mkfifo "$tmp/devsim.in"
"$devsim" --scale "$tmp/dev/scale" --card "$tmp/dev/card" --printer "$tmp/dev/printer" --weight 0 \
  < "$tmp/devsim.in" > "$tmp/devsim.log" 2>&1 &
pids+=($!)
exec 4> "$tmp/devsim.in"
for _ in $(seq 1 100); do
  [ -e "$tmp/dev/scale" ] && [ -e "$tmp/dev/card" ] && [ -e "$tmp/dev/printer" ] && break
  sleep 0.1
done
echo "the console" > "$tmp/console"

sess=""
display=""
# A session on the site, its standard input standing for the console.
start_session() {
  log="$tmp/$1.log"
  GRAZULO_X_SERVER=Xvfb GRAZULO_X_ARGS="-screen 0 1024x768x24 -nolisten tcp" GRAZULO_PROGRAM="$grazulo" \
    GRAZULO_RESTART_DELAY=1 bash "$session" "$site" < "$tmp/console" > "$log" 2>&1 &
  sess=$!
  pids+=($sess)
  await grep -q "X server on :" "$log" || fail "the session did not start the X server"
  display="$(sed -n 's/.*X server on \(:[0-9]*\);.*/\1/p' "$log" | head -n 1)"
}
kiosk_pid() { pgrep -P "$sess" -f "$grazulo" | head -n 1; }
xserver_pid() { pgrep -P "$sess" -x Xvfb | head -n 1; }
new_kiosk() { local p; p="$(kiosk_pid)"; [ -n "$p" ] && [ "$p" != "$1" ]; }
gone() { ! kill -0 "$1" 2> /dev/null; }
swipe_showing() { DISPLAY="$display" xdotool search --name "Please Swipe Card" > /dev/null 2>&1; }
# The kiosk up and showing the swipe screen (its signal handlers are set).
kiosk_up() {
  await new_kiosk "${1:-}" || fail "${2:-the session did not start the kiosk}"
  await swipe_showing || fail "the swipe screen did not show"
  sleep 0.5
}
ended() {
  await gone "$sess" || fail "$1 did not end the session"
  wait "$sess"
}

# ---- one session: the kiosk comes back after everything but Ctrl+F1
start_session session
kiosk_up
xserver="$(xserver_pid)"
[ "$(readlink "/proc/$xserver/fd/0")" = "$tmp/console" ] ||
  fail "the X server's standard input is $(readlink "/proc/$xserver/fd/0"), not the session's"
DISPLAY="$display" xset q > "$tmp/xset.txt" || fail "xset q"
grep -Eq 'timeout: +0 ' "$tmp/xset.txt" || fail "the screen saver has a time-out: $(cat "$tmp/xset.txt")"
grep -q 'DPMS is Enabled' "$tmp/xset.txt" && fail "DPMS is on: $(cat "$tmp/xset.txt")"
tr '\0' ' ' < "/proc/$xserver/cmdline" | grep -q -- ' -dpms' || fail "the X server was not told -dpms"

# signal | the kiosk's own last line (it closed its tables and ports), if any
cases=(
  "TERM|kiosk ended by the signal SIGTERM"
  "INT|kiosk ended by the signal SIGINT"
  "HUP|kiosk ended by the signal SIGHUP"
  "KILL|"
  "SEGV|"
  "ABRT|"
)
for c in "${cases[@]}"; do
  sig="${c%%|*}"
  own="${c#*|}"
  before="$(grep -c "starting it again" "$log")"
  k="$(kiosk_pid)"
  kill "-$sig" "$k"
  kiosk_up "$k" "the kiosk was not started again after SIG$sig"
  [ "$(grep -c "starting it again" "$log")" -gt "$before" ] || fail "the session did not log the restart after SIG$sig"
  if [ -n "$own" ]; then
    grep -q "$own" "$log" || fail "the kiosk did not close itself on SIG$sig"
  fi
done

# The station's start-up ends the program when setup.dbf is gone: the kiosk
# comes back (with the table back in place).
k="$(kiosk_pid)"
mv "$site/SETUP.DBF" "$tmp/setup.keep"
DISPLAY="$display" xdotool key ctrl+F10
await gone "$k" || fail "the station's start-up did not end the program"
mv "$tmp/setup.keep" "$site/SETUP.DBF"
kiosk_up "$k" "the kiosk was not started again after the station ended the program"
grep -q "kiosk ended with status 0; starting it again" "$log" || fail "the session did not log the station's end"

DISPLAY="$display" xdotool key ctrl+F1
ended "Ctrl+F1"
rc=$?
[ "$rc" -eq "$ctrl_f1_status" ] || fail "the session ended with status $rc after Ctrl+F1, not $ctrl_f1_status"
grep -q "kiosk ended by Ctrl+F1" "$log" || fail "the session did not log Ctrl+F1"
gone "$xserver" || fail "the X server outlived the session"

# ---- stopping the session (systemctl stop): the kiosk ends first, on a live
# X server, then the X server
start_session stopping
kiosk_up
kill -TERM "$sess"
ended "SIGTERM to the session"
rc=$?
[ "$rc" -eq 0 ] || fail "the session ended with status $rc when stopped"
kiosk_line="$(grep -n "kiosk ended by the signal SIGTERM" "$log" | head -n 1 | cut -d: -f1)"
x_line="$(grep -n "stopping the X server" "$log" | head -n 1 | cut -d: -f1)"
[ -n "$kiosk_line" ] || fail "the kiosk did not close itself when the session stopped"
[ -n "$x_line" ] && [ "$kiosk_line" -lt "$x_line" ] || fail "the X server was stopped before the kiosk ended"

# ---- the X server killed: the session fails, for systemd to start it anew
start_session xgone
kiosk_up
kill -KILL "$(xserver_pid)"
ended "the X server's end"
rc=$?
[ "$rc" -ne 0 ] && [ "$rc" -ne "$ctrl_f1_status" ] || fail "the session ended with status $rc when the X server went"
grep -q "the X server has gone" "$log" || fail "the session did not log the X server's end"
echo "PASS: the kiosk comes back after SIGTERM, SIGINT, SIGHUP, SIGKILL, SIGSEGV, SIGABRT and the station's end;" \
  "Ctrl+F1 ends the session ($ctrl_f1_status); stopping ends the kiosk before X; X gone fails the session;" \
  "the X server never blanks"
