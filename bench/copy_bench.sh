#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Benchmark of `vidange copy`: an engine database whose Conventions table has
# N rows (default 100000; made by make-conventions-source.py), against the
# sqlite3 shell's `.dump` piped into a second sqlite3 shell; and the largest
# Jet 3 file of the test corpus (tests/data/jet/corpus/V1997_testIndexCodesV1997.mdb,
# 29 tables, 1,546 rows), against Debian's mdbtools
# pipeline (`mdb-schema` into sqlite3, then `mdb-export -I sqlite -b hex` of
# each table into sqlite3). Each command runs R rounds (default 3),
# alternating, into a new target each time; the best wall-clock time of each
# is shown with the ratio, and the targets' row counts are checked equal.
#
# usage: bench/copy_bench.sh [N] [R]
# needs: a built build/ (vidange), sqlite3, python3, mdbtools (mdb-schema,
#        mdb-export, mdb-tables)
set -euo pipefail
cd "$(dirname "$0")/.."

vidange=build/vidange
rows=${1:-100000}
rounds=${2:-3}
for tool in sqlite3 mdb-schema mdb-export mdb-tables; do
  command -v "$tool" >/dev/null || { echo "copy_bench: $tool is missing (Debian packages sqlite3, mdbtools)" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Prints the wall-clock seconds of a command.
seconds() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }'
}

declare -A best
keep() {  # keep LABEL SECONDS
  if [ -z "${best[$1]:-}" ] || awk -v a="$2" -v b="${best[$1]}" 'BEGIN { exit !(a < b) }'; then best[$1]=$2; fi
}

mdbtools_copy() {  # mdbtools_copy SOURCE TARGET
  mdb-schema "$1" sqlite | sqlite3 "$2"
  mdb-tables -1 "$1" | while IFS= read -r table; do
    mdb-export -I sqlite -b hex "$1" "$table" | sqlite3 "$2"
  done
}

count() { sqlite3 "$1" "SELECT count(*) FROM [$2]"; }

engine="$work/source.mdb"
bench/make-conventions-source.py "$engine" "$rows" --vidange "$vidange" >/dev/null
jet=tests/data/jet/corpus/V1997_testIndexCodesV1997.mdb

for ((round = 0; round < rounds; ++round)); do
  rm -f "$work"/target.*
  keep "engine: vidange copy" "$(seconds "$vidange" copy "$engine" "$work/target.vidange")"
  keep "engine: sqlite3 .dump | sqlite3" "$(seconds sh -c "sqlite3 '$engine' .dump | sqlite3 '$work/target.dump'")"
  keep "Access: vidange copy" "$(seconds "$vidange" copy "$jet" "$work/target.jet")"
  keep "Access: mdb-schema, mdb-export | sqlite3" "$(seconds mdbtools_copy "$jet" "$work/target.mdbtools")"
done
[ "$(count "$work/target.vidange" Conventions)" = "$(count "$work/target.dump" Conventions)" ]
[ "$(count "$work/target.jet" Table1)" = "$(count "$work/target.mdbtools" Table1)" ]

printf "%-42s %10s\n" command "best s"
for label in "engine: vidange copy" "engine: sqlite3 .dump | sqlite3" "Access: vidange copy" \
  "Access: mdb-schema, mdb-export | sqlite3"; do
  printf "%-42s %10s\n" "$label" "${best[$label]}"
done
awk -v v="${best["engine: vidange copy"]}" -v o="${best["engine: sqlite3 .dump | sqlite3"]}" \
  'BEGIN { printf "engine: the shell pipeline takes %.2f times vidange copy (target at least 1.0)\n", o / v }'
awk -v v="${best["Access: vidange copy"]}" -v o="${best["Access: mdb-schema, mdb-export | sqlite3"]}" \
  'BEGIN { printf "Access: the mdbtools pipeline takes %.2f times vidange copy (target at least 1.5)\n", o / v }'
