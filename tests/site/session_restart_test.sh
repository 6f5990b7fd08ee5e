#!/usr/bin/env bash
# grazulo-session with a kiosk that ends as soon as it starts (a site whose
# kiosk cannot start): it starts it again after its pause, never at once,
# whatever GRAZULO_RESTART_DELAY says. A stand-in X server (it gives a
# display number and waits) and a stand-in kiosk (it counts its starts).
#
#   session_restart_test.sh GRAZULO-SESSION
set -uo pipefail
session="$1"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/site" && touch "$tmp/site/SETUP.DBF"
printf '#!/bin/sh\necho 99 >&3\nexec sleep 600\n' > "$tmp/xserver"
printf '#!/bin/sh\necho start >> "%s/starts"\nexit 1\n' "$tmp" > "$tmp/kiosk"
chmod +x "$tmp/xserver" "$tmp/kiosk"

fails=0
# GRAZULO_RESTART_DELAY ("-": not set); the most starts in the 2 seconds
# after the first
while read -r delay most; do
  rm -f "$tmp/starts"
  [ "$delay" = "-" ] && unset GRAZULO_RESTART_DELAY || export GRAZULO_RESTART_DELAY="${delay//_/ }"
  GRAZULO_X_SERVER="$tmp/xserver" GRAZULO_PROGRAM="$tmp/kiosk" bash "$session" "$tmp/site" 2> "$tmp/err" &
  pid=$!
  for _ in $(seq 1 300); do [ -s "$tmp/starts" ] && break; sleep 0.1; done
  sleep 2
  kill -TERM "$pid"
  wait "$pid"
  starts="$(wc -l < "$tmp/starts" 2> /dev/null || echo 0)"
  if [ "$starts" -ge 1 ] && [ "$starts" -le "$most" ]; then
    echo "PASS: delay '$delay': $starts starts"
  else
    echo "FAIL: delay '$delay': $starts starts in 2 s, should be 1 to $most"; tail -n 3 "$tmp/err"; fails=1
  fi
done << 'EOF_CASES'
- 2
1 3
abc 2
3_ 2
-1 2
EOF_CASES
exit "$fails"
