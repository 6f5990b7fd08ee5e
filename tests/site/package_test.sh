#!/usr/bin/env bash
# The Debian package, built twice from this build tree: its version grows
# with the source's history, lintian finds no error in it, and in a scratch
# root (dpkg --root, the maintainer scripts run outside it with DPKG_ROOT
# and with recording stand-ins for adduser, getent and systemd's tools) it
# installs, its tools run, the second build upgrades the first and starts a
# running kiosk again, and removal and purge stop and disable the kiosk.
# The site's directory stays as it was throughout.
#
#   package_test.sh BUILD-DIR SOURCE-DIR PROJECT-VERSION
#
# Exit status 77 (skipped) after the checks that need no root when not run
# as root (dpkg --root installs files owned by root).
set -uo pipefail
build="$1"
source="$2"
project_version="$3"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# ---- two builds: the default version, and the next one
make_package() {
  local out="$tmp/out-$1"
  shift
  (cd "$build" && env "$@" cpack -G DEB -B "$out" > "$out.log" 2>&1) || { cat "$out.log"; fail "cpack"; }
  ls "$out"/*.deb 2> /dev/null | head -n 1
}
first="$(make_package 1 GRAZULO_PACKAGE_VERSION=)"
[ -n "$first" ] || fail "no package was made"
v1="$(dpkg-deb -f "$first" Version)"
# (a tree with changes not committed adds +local and the time)
base="${v1%%+local*}"
if commits="$(git -C "$source" rev-list --count HEAD 2> /dev/null)"; then
  [ "$base" = "$project_version.$commits" ] || fail "the package's version is $v1, not $project_version.$commits"
fi
v2="$project_version.$((${base##*.} + 1))"
second="$(make_package 2 GRAZULO_PACKAGE_VERSION="$v2")"
[ "$(dpkg-deb -f "$second" Version)" = "$v2" ] || fail "GRAZULO_PACKAGE_VERSION did not set the version"
dpkg --compare-versions "$v2" gt "$v1" || fail "$v2 is not newer than $v1"
[ "$(basename "$second")" = "grazulo_${v2}_amd64.deb" ] || fail "the package's file is $(basename "$second")"

depends="$(dpkg-deb -f "$first" Depends)"
for dep in adduser libqt6widgets6 libqt6serialport6 qt6-qpa-plugins fonts-liberation2 libc6; do
  grep -Eq "(^|, )$dep( |,|$)" <<< "$depends" || fail "the package does not depend on $dep: $depends"
done
if command -v lintian > /dev/null 2>&1; then
  lintian "$first" > "$tmp/lintian.txt" 2>&1
  grep -q "^E:" "$tmp/lintian.txt" && fail "lintian finds errors: $(cat "$tmp/lintian.txt")"
else
  echo "lintian is not installed: the package was not checked with it"
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: installing into a scratch root needs root"
  exit 77
fi

# ---- stand-ins for the commands the maintainer scripts run; each records
# its arguments. getent knows the kiosk's user once adduser made it.
stubs="$tmp/stubs"
calls="$tmp/calls"
mkdir -p "$stubs"
: > "$calls"
for cmd in adduser deb-systemd-invoke deb-systemd-helper systemctl systemd-tmpfiles journalctl; do
  printf '#!/bin/sh\necho "%s $*" >> "%s"\n' "$cmd" "$calls" > "$stubs/$cmd"
done
printf '#!/bin/sh\nif [ "$1" = passwd ]; then grep -q "^adduser --system" "%s"; else exit 0; fi\n' "$calls" > "$stubs/getent"
chmod +x "$stubs"/*

root="$tmp/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/run/systemd/system" "$root/srv/grazulo/site"
touch "$root/var/lib/dpkg/status"
# A site, which nothing of the package may touch.
printf 'a site table\n' > "$root/srv/grazulo/site/setup.dbf"
mkdir -p "$root/srv/grazulo/site/database"
printf 'tickets\n' > "$root/srv/grazulo/site/database/ticket.dbf"
site_state() { (cd "$root/srv/grazulo" && find . -printf '%p %m %s\n' | sort && cat site/setup.dbf site/database/ticket.dbf); }
site_state > "$tmp/site.before"

run_dpkg() {
  PATH="$stubs:$PATH" dpkg --root="$root" --force-script-chrootless --force-depends --force-not-root \
    --log=/dev/null "$@" > "$tmp/dpkg.log" 2>&1 || { cat "$tmp/dpkg.log"; fail "dpkg $*"; }
}
# did: what the scripts did since the last look.
seen=0
did=""
look() { did="$(tail -n "+$((seen + 1))" "$calls")"; seen="$(wc -l < "$calls")"; }
expect() { grep -qx -- "$2" <<< "$1" || fail "$3: no '$2' in: $1"; }
refuse() { grep -qx -- "$2" <<< "$1" && fail "$3: '$2' in: $1"; true; }

run_dpkg -i "$first"
look
expect "$did" "adduser --system --group --home /srv/grazulo --shell /usr/sbin/nologin grazulo" "the first install"
expect "$did" "systemctl --system daemon-reload" "the first install"
expect "$did" "journalctl --flush" "the first install"
refuse "$did" "deb-systemd-invoke try-restart grazulo-kiosk.service" "the first install"
expect "$did" "deb-systemd-helper enable grazulo-mirror.timer" "the first install"
expect "$did" "deb-systemd-invoke start grazulo-mirror.timer" "the first install"
[ -d "$root/var/log/journal" ] || fail "the journal is not kept on disk"
for f in usr/bin/grazulo usr/bin/dbftool usr/bin/grazulo-admin usr/bin/devsim usr/bin/grazulo-session \
         usr/share/grazulo/warning.bmp usr/share/grazulo/error.bmp usr/share/grazulo/question.bmp \
         usr/share/doc/grazulo/README.md usr/share/doc/grazulo/copyright usr/share/doc/grazulo/changelog.gz \
         lib/systemd/system/grazulo-kiosk.service lib/systemd/system/grazulo-mirror.service \
         lib/systemd/system/grazulo-mirror.timer; do
  [ -e "$root/$f" ] || fail "$f is not in the package"
done
zcat "$root/usr/share/doc/grazulo/changelog.gz" | head -n 1 | grep -q "^grazulo ($v1) " ||
  fail "the changelog does not name $v1"
"$root/usr/bin/dbftool" --help > "$tmp/dbftool.out" 2>&1 || fail "dbftool --help: $(cat "$tmp/dbftool.out")"
grep -q "dbftool" "$tmp/dbftool.out" || fail "dbftool --help printed nothing useful"
"$root/usr/bin/grazulo-admin" --help > "$tmp/admin.out" 2>&1 || fail "grazulo-admin --help: $(cat "$tmp/admin.out")"
grep -q "new-site" "$tmp/admin.out" || fail "grazulo-admin --help does not list new-site"
# The installed tool finds the installed pictures for a new site.
"$root/usr/bin/grazulo-admin" new-site "$tmp/site" > /dev/null 2>&1 || fail "new-site from the package"
cmp -s "$tmp/site/warning.bmp" "$root/usr/share/grazulo/warning.bmp" || fail "new-site did not take the package's pictures"

# The second build over the first: the kiosk starts again on the new
# programs, the user is not made again.
run_dpkg -i "$second"
look
expect "$did" "deb-systemd-invoke try-restart grazulo-kiosk.service" "the upgrade"
refuse "$did" "deb-systemd-invoke stop grazulo-kiosk.service" "the upgrade"
grep -q "^adduser --system" <<< "$did" && fail "the upgrade made the user again: $did"
[ "$(dpkg-query --admindir="$root/var/lib/dpkg" -W -f '${Version}' grazulo)" = "$v2" ] || fail "$v2 is not installed"
zcat "$root/usr/share/doc/grazulo/changelog.gz" | head -n 1 | grep -q "^grazulo ($v2) " ||
  fail "the upgrade's changelog does not name $v2"
site_state | cmp -s - "$tmp/site.before" || fail "the upgrade touched the site"

run_dpkg -r grazulo
look
expect "$did" "deb-systemd-invoke stop grazulo-kiosk.service" "the removal"
expect "$did" "deb-systemd-helper disable grazulo-kiosk.service" "the removal"
expect "$did" "deb-systemd-invoke stop grazulo-mirror.timer grazulo-mirror.service" "the removal"
expect "$did" "deb-systemd-helper mask grazulo-mirror.timer" "the removal"
[ -e "$root/usr/bin/grazulo" ] && fail "the removal left the program"
site_state | cmp -s - "$tmp/site.before" || fail "the removal touched the site"
run_dpkg -P grazulo
look
expect "$did" "deb-systemd-helper purge grazulo-kiosk.service" "the purge"
expect "$did" "deb-systemd-helper purge grazulo-mirror.timer" "the purge"
site_state | cmp -s - "$tmp/site.before" || fail "the purge touched the site"
echo "PASS: packages $v1 and $v2, lintian, install, upgrade, removal and purge in a scratch root"
