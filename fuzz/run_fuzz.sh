#!/bin/sh
# Runs a fuzzer for a while from the fixture tables.
#   run_fuzz.sh FUZZER FIXTURES_DIR ARTIFACTS_DIR SECONDS
# The seeds are copied into a fresh corpus directory, so the fixtures are
# never written; whatever the fuzzer finds is kept in ARTIFACTS_DIR. Exits
# 0 with a message starting "SKIPPED:" when the fixtures are absent.
set -eu
fuzzer=$1
fixtures=${GRAZULO_FIXTURES:-$2}
artifacts=$3
seconds=${4:-60}

found=0
if [ -d "$fixtures" ]; then
  for f in "$fixtures"/*.dbf "$fixtures"/*.DBF; do
    [ -f "$f" ] && found=1
  done
fi
if [ "$found" = 0 ]; then
  echo "SKIPPED: no fixture tables (*.dbf) in $fixtures to seed the fuzzer"
  exit 0
fi

corpus=$(mktemp -d "${TMPDIR:-/tmp}/fuzz_corpus.XXXXXX")
trap 'rm -rf "$corpus"' EXIT
for f in "$fixtures"/*.dbf "$fixtures"/*.DBF; do
  [ -f "$f" ] && cp "$f" "$corpus/"
done
chmod u+w "$corpus"/*
mkdir -p "$artifacts"

status=0
"$fuzzer" -max_total_time="$seconds" -max_len=8192 -timeout=20 -error_exitcode=1 -print_final_stats=1 \
  -artifact_prefix="$artifacts/" "$corpus" || status=$?
if [ "$status" != 0 ]; then
  echo "the fuzzer failed (exit $status); the input that failed is in $artifacts" >&2
  ls -l "$artifacts" >&2 || true
fi
exit "$status"
