#!/usr/bin/env bash
# A new site made by grazulo-admin new-site, its ports pointed at the device
# simulator, run by the kiosk session script with Xvfb standing in for the
# real X server: the kiosk comes up, is started again after kill -9, and
# Ctrl+F1 ends the session with status 0.
#
#   session_test.sh GRAZULO-ADMIN GRAZULO DEVSIM SESSION-SCRIPT
#
# Exit status 77 (skipped) when Xvfb or xdotool is not installed.
set -uo pipefail
admin="$1"
grazulo="$2"
devsim="$3"
session="$4"
for tool in Xvfb xdotool; do
  command -v "$tool" > /dev/null 2>&1 || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
here="$(cd "$(dirname "$0")" && pwd)"
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$here/../kiosk/lsan-xcb.supp"

tmp="$(mktemp -d /tmp/gzs-XXXXXX)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2> /dev/null; done
  wait 2> /dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "---- session output"
  cat "$tmp/session.log" 2> /dev/null
  exit 1
}

site="$tmp/site"
"$admin" new-site "$site" > "$tmp/new-site.log" 2>&1 || fail "new-site: $(cat "$tmp/new-site.log")"
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

GRAZULO_X_SERVER=Xvfb GRAZULO_X_ARGS="-screen 0 1024x768x24 -nolisten tcp" GRAZULO_PROGRAM="$grazulo" \
  GRAZULO_RESTART_DELAY=1 bash "$session" "$site" > "$tmp/session.log" 2>&1 &
sess=$!
pids+=($sess)

# The kiosk process the session runs (a child of the script).
kiosk_pid() { pgrep -P "$sess" -f "$grazulo" | head -n 1; }
wait_kiosk() {
  local not="${1:-}"
  for _ in $(seq 1 150); do
    local p
    p="$(kiosk_pid)"
    if [ -n "$p" ] && [ "$p" != "$not" ]; then
      echo "$p"
      return 0
    fi
    sleep 0.1
  done
  return 1
}
display_of() { sed -n 's/.*X server on \(:[0-9]*\);.*/\1/p' "$tmp/session.log" | head -n 1; }
wait_swipe() {
  for _ in $(seq 1 150); do
    DISPLAY="$(display_of)" xdotool search --name "Please Swipe Card" > /dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

first="$(wait_kiosk)" || fail "the session did not start the kiosk"
wait_swipe || fail "the swipe screen did not show"
kill -9 "$first"
second="$(wait_kiosk "$first")" || fail "the kiosk was not started again after kill -9"
wait_swipe || fail "the swipe screen did not show again"
grep -q "starting it again" "$tmp/session.log" || fail "the session did not log the restart"
sleep 0.5
DISPLAY="$(display_of)" xdotool key ctrl+F1
for _ in $(seq 1 100); do
  kill -0 "$sess" 2> /dev/null || break
  sleep 0.1
done
kill -0 "$sess" 2> /dev/null && fail "Ctrl+F1 did not end the session"
wait "$sess"
rc=$?
[ "$rc" -eq 0 ] || fail "the session ended with status $rc after Ctrl+F1"
grep -q "kiosk ended by Ctrl+F1" "$tmp/session.log" || fail "the session did not log Ctrl+F1"
echo "PASS: new site, kiosk session, restart after kill -9, Ctrl+F1"
