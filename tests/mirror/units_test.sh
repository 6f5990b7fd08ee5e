#!/usr/bin/env bash
# The mirror's systemd units and the condition that keeps the timer's runs
# skipped until the site has a connection file.
#
#   units_test.sh GRAZULO-ADMIN UNIT-DIR
set -uo pipefail
admin="$1"
units="$2"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# The units as systemd reads them, pointed at the built tool.
mkdir "$tmp/units"
sed "s#/usr/bin/grazulo-admin#$admin#g" "$units/grazulo-mirror.service" > "$tmp/units/grazulo-mirror.service"
cp "$units/grazulo-mirror.timer" "$tmp/units/"
if command -v systemd-analyze > /dev/null; then
  systemd-analyze verify "$tmp/units/grazulo-mirror.timer" "$tmp/units/grazulo-mirror.service" > "$tmp/verify" 2>&1
  if grep -q "grazulo-mirror" "$tmp/verify"; then cat "$tmp/verify"; fail "systemd-analyze finds faults in the units"; fi
else
  echo "systemd-analyze is not installed: the units' syntax is not checked"
fi
grep -qx "ExecCondition=/usr/bin/grazulo-admin mirror --ready" "$units/grazulo-mirror.service" || fail "the service runs without the --ready condition"
grep -qx "Type=oneshot" "$units/grazulo-mirror.service" || fail "the service is not a oneshot"
grep -qx "WantedBy=timers.target" "$units/grazulo-mirror.timer" || fail "the timer cannot be enabled"
grep -q "^OnUnitInactiveSec=" "$units/grazulo-mirror.timer" || fail "the timer does not repeat"

# The condition: 0 (run) only once setup.ini names a connection file that exists.
"$admin" new-site "$tmp/site" > /dev/null || fail "new-site"
ready() { GRAZULO_HOME="$tmp/site" "$admin" mirror --ready 2> "$tmp/ready.err"; }
ready && fail "--ready without a connection file named"
grep -q "names no connection file" "$tmp/ready.err" || fail "--ready does not say why: $(cat "$tmp/ready.err")"
sed -i 's/^connection=$/connection=head-office.conn/' "$tmp/site/setup.ini"
ready && fail "--ready with a connection file that does not exist"
printf 'host=hq.example dbname=weighing sslmode=verify-full\n' > "$tmp/site/head-office.conn"
chmod 600 "$tmp/site/head-office.conn"
ready || fail "--ready with the connection file there: $(cat "$tmp/ready.err")"

# Wrong use is status 2.
GRAZULO_HOME="$tmp/site" "$admin" mirror --status --init > /dev/null 2>&1; [ $? -eq 2 ] || fail "two jobs at once is not wrong use"
echo "PASS: the mirror's units, and its runs skipped until the site has a connection file"
