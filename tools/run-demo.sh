#!/usr/bin/env bash
# Builds the program and shows the table tool at work on a demo data
# directory: the tables a site's program directory holds, made from the
# built-in layouts, with a few records.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash tools/install-deps.sh

build="$root/build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGRAZULO_TESTS=OFF
cmake --build "$build" -j "$(nproc)" --target dbftool

tool="$build/tools/dbftool"
demo="$build/demo"
rm -rf "$demo"
mkdir -p "$demo/database"

"$tool" create "$demo/setup.dbf" 9
"$tool" append "$demo/setup.dbf" scalport=1 prtport=3 modemport=2 dialpref=9 tone=T datapath="$demo/database" >/dev/null
"$tool" create "$demo/database/customer.dbf" 3
"$tool" append "$demo/database/customer.dbf" code_num=1 n_ame="ACME GRAVEL LTD" add_r="12 PIT ROAD" fax_no=1001 >/dev/null
"$tool" append "$demo/database/customer.dbf" code_num=2 n_ame="BLUE RIVER AGGREGATES" add_r="4 MILL ST" fax_no=1002 >/dev/null
"$tool" append "$demo/database/customer.dbf" code_num=3 n_ame="CASCADE CONCRETE" add_r="77 DAM RD" fax_no=1003 >/dev/null
"$tool" create "$demo/database/product.dbf" 4
for p in "3/4 CRUSH" "PEA GRAVEL" "WASHED SAND" "ROAD BASE" "RIP RAP" "TOPSOIL"; do
  "$tool" append "$demo/database/product.dbf" n_ame="$p" >/dev/null
done
"$tool" create "$demo/database/ticket.dbf" 1
"$tool" append "$demo/database/ticket.dbf" ticket=1 truck="BC 12345" customer="ACME GRAVEL LTD" \
  product="PEA GRAVEL" in_time=930 in_date=20261209 in_wgt=16500 complete=F >/dev/null

for t in "$demo/setup.dbf" "$demo"/database/*.dbf; do
  echo "== $t"
  "$tool" info "$t"
  "$tool" dump "$t"
  echo
done
echo "== check"
"$tool" check "$demo" "$demo/database" && echo "all tables sound"
