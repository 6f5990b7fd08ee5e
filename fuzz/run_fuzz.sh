#!/bin/sh
# Runs a fuzzer for a while from the fixture tables.
#   run_fuzz.sh FUZZER FIXTURES_DIR ARTIFACTS_DIR SECONDS [EXTENSION]
# The seeds (the fixtures' files of that extension, dbf unless given) are
# copied into a fresh corpus directory, so the fixtures are
# never written; whatever the fuzzer finds is kept in ARTIFACTS_DIR. Exits
# 0 with a message starting "SKIPPED:" when the fixtures are absent.
set -eu
fuzzer=$1
fixtures=${GRAZULO_FIXTURES:-$2}
artifacts=$3
seconds=${4:-60}
ext=${5:-dbf}
EXT=$(echo "$ext" | tr a-z A-Z)

found=0
if [ -d "$fixtures" ]; then
  for f in "$fixtures"/*."$ext" "$fixtures"/*."$EXT"; do
    [ -f "$f" ] && found=1
  done
fi
if [ "$found" = 0 ]; then
  echo "SKIPPED: no fixture files (*.$ext) in $fixtures to seed the fuzzer"
  exit 0
fi

corpus=$(mktemp -d "${TMPDIR:-/tmp}/fuzz_corpus.XXXXXX")
trap 'rm -rf "$corpus"' EXIT
for f in "$fixtures"/*."$ext" "$fixtures"/*."$EXT"; do
  [ -f "$f" ] && cp "$f" "$corpus/"
done
chmod u+w "$corpus"/*
mkdir -p "$artifacts"

status=0
"$fuzzer" -max_total_time="$seconds" -max_len=16384 -timeout=20 -error_exitcode=1 -print_final_stats=1 \
  -artifact_prefix="$artifacts/" "$corpus" || status=$?
if [ "$status" != 0 ]; then
  echo "the fuzzer failed (exit $status); the input that failed is in $artifacts" >&2
  ls -l "$artifacts" >&2 || true
fi
exit "$status"
