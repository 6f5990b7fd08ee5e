#!/usr/bin/env bash
# The Debian package, built from this build tree and unpacked into a scratch
# root: its files where Debian keeps them, and its tools running from there.
#
#   package_test.sh BUILD-DIR
set -uo pipefail
build="$1"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$build" && cpack -G DEB -B "$tmp/out" > "$tmp/cpack.log" 2>&1) || { cat "$tmp/cpack.log"; fail "cpack"; }
deb="$(ls "$tmp"/out/*.deb 2> /dev/null | head -n 1)"
[ -n "$deb" ] || fail "no package was made"
dpkg-deb -I "$deb" > "$tmp/info" || fail "dpkg-deb cannot read the package"
for dep in libqt6widgets6 libqt6serialport6 fonts-liberation2; do
  grep -q "Depends:.*$dep" "$tmp/info" || fail "the package does not depend on $dep"
done
dpkg-deb -x "$deb" "$tmp/root" || fail "the package cannot be unpacked"
for f in usr/bin/grazulo usr/bin/dbftool usr/bin/grazulo-admin usr/bin/devsim usr/bin/grazulo-session \
         usr/share/grazulo/warning.bmp usr/share/grazulo/error.bmp usr/share/grazulo/question.bmp \
         usr/share/doc/grazulo/README.md lib/systemd/system/grazulo-kiosk.service; do
  [ -e "$tmp/root/$f" ] || fail "$f is not in the package"
done
"$tmp/root/usr/bin/dbftool" --help > "$tmp/dbftool.out" 2>&1 || fail "dbftool --help: $(cat "$tmp/dbftool.out")"
grep -q "dbftool" "$tmp/dbftool.out" || fail "dbftool --help printed nothing useful"
"$tmp/root/usr/bin/grazulo-admin" --help > "$tmp/admin.out" 2>&1 || fail "grazulo-admin --help: $(cat "$tmp/admin.out")"
grep -q "new-site" "$tmp/admin.out" || fail "grazulo-admin --help does not list new-site"
# The installed tool finds the installed pictures for a new site.
"$tmp/root/usr/bin/grazulo-admin" new-site "$tmp/site" > /dev/null 2>&1 || fail "new-site from the package"
cmp -s "$tmp/site/warning.bmp" "$tmp/root/usr/share/grazulo/warning.bmp" || fail "new-site did not take the package's pictures"
echo "PASS: the package builds, unpacks and runs its tools"
