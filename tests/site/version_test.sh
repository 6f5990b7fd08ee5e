#!/usr/bin/env bash
# The package's version as cpack finds it (tools/site/package-version.cmake),
# for each kind of source a package is made from: a checkout, one with
# changes not committed, a shallow clone, an archive unpacked alone or into
# another repository's tree. A version must never be less than that of the
# commit's own build, nor taken from another history.
#
#   version_test.sh PACKAGE-VERSION-CMAKE
set -uo pipefail
script="$1"
command -v git > /dev/null || { echo "SKIP: no git"; exit 77; }
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
g() { git -c user.name=t -c user.email=t@example.com -c init.defaultBranch=main "$@"; }
commit_all() { for i in $(seq 1 "$2"); do echo "$i" > "$1/f$i"; g -C "$1" add . && g -C "$1" commit -qm "c$i"; done; }
mkdir "$tmp/src" "$tmp/other" "$tmp/archive"
g init -q "$tmp/src" && commit_all "$tmp/src" 5
g init -q "$tmp/other" && commit_all "$tmp/other" 9
g clone -q --depth 1 "file://$tmp/src" "$tmp/shallow"
cp -r "$tmp/src" "$tmp/dirty" && echo changed >> "$tmp/dirty/f1"
mkdir "$tmp/other/vendor"
g -C "$tmp/src" archive HEAD | tar -x -C "$tmp/other/vendor"
g -C "$tmp/src" archive HEAD | tar -x -C "$tmp/archive"
printf 'include("%s")\nmessage("VERSION=${CPACK_PACKAGE_VERSION}")\n' "$script" > "$tmp/show.cmake"
version() {
  cmake -DCPACK_GRAZULO_SOURCE_DIR="$1" -DCPACK_PACKAGE_VERSION=0.1 -P "$tmp/show.cmake" 2>&1 |
    sed -n 's/^VERSION=//p'
}

fails=0
# source; what its version must be: "= V", "> V < W", or "none" (cpack
# refuses, saying why)
while read -r name dir want; do
  got="$(version "$tmp/$dir")"
  ok=1
  case "$want" in
    none) [ -z "$got" ] || ok=0 ;;
    "= "*) [ "$got" = "${want#= }" ] || ok=0 ;;
    "> "*)
      read -r _ low _ high <<< "$want"
      dpkg --compare-versions "$got" gt "$low" && dpkg --compare-versions "$got" lt "$high" || ok=0 ;;
  esac
  if [ "$ok" = 1 ]; then echo "PASS: $name: '$got'"; else echo "FAIL: $name: '$got', should be $want"; fails=1; fi
done << 'EOF_CASES'
checkout src = 0.1.5
uncommitted-changes dirty > 0.1.5 < 0.1.6
shallow-clone shallow none
archive archive = 0.1.0
archive-in-another-repository other/vendor = 0.1.0
EOF_CASES
exit "$fails"
