#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Benchmark of reading Access files beside Debian's mdb-export.
#
# Set-up: three large files made from the repository's own test files by
# bench/make-large-access.py (a table's data pages copied N times, its
# usage map and row count made to match):
#   ace   jackcess_V2010_testEmoticonsV2010.accdb, `data` (80 rows) x 2,560 = 204,800 rows
#   jet4  V2000_compIndexTestV2000.mdb, `Table1` (512 rows) x 400 = 204,800 rows
#   jet3  V1997_compIndexTestV1997.mdb, `Table1` (512 rows) x 421 = 215,552 rows
# the indexed key of the Jet files (CD_AGENTE, a Long first in each row)
# shifted in each copy, so that it keeps as many values as rows, as an
# index on a key does; the ACE file's index (on the text) keeps 80 values.
# and a small one: the ACE `data` x 2 = 160 rows. Each table's rows are
# checked: `vidange sql` gives as many lines as `mdb-export` (less its
# header line), and `vidange copy` as many rows.
#
# Then, each R times (default 5), alternating: `vidange sql BASE "SELECT *
# FROM [T]"`, `mdb-export BASE T`, and `vidange copy BASE` into a new
# target, on each large file; on the small file, the same `sql` and
# `mdb-export` and the sqlite3 shell's start-up (`sqlite3 :memory: "SELECT
# 1"`) 10 x R times. Prints the best and median wall-clock milliseconds of
# each and the ratios of the best times to mdb-export's.
#
# usage: bench/jet_bench.sh [R] [BEFORE_VIDANGE]
# BEFORE_VIDANGE: another build of vidange (an earlier commit) measured in
# the same run beside build/vidange.
# needs: a built build/ (vidange), python3, mdbtools, sqlite3
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-5}
before=${2:-}
vidange=build/vidange
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=tests/data/jet

python3 bench/make-large-access.py "$data/ace/jackcess_V2010_testEmoticonsV2010.accdb" 84 2560 "$work/ace.accdb"
python3 bench/make-large-access.py "$data/corpus/V2000_compIndexTestV2000.mdb" 15 400 "$work/jet4.mdb" 2
python3 bench/make-large-access.py "$data/corpus/V1997_compIndexTestV1997.mdb" 29 421 "$work/jet3.mdb" 1
python3 bench/make-large-access.py "$data/ace/jackcess_V2010_testEmoticonsV2010.accdb" 84 2 "$work/small.accdb"

declare -A table=([ace]=data [jet4]=Table1 [jet3]=Table1 [small]=data)
declare -A file=([ace]="$work/ace.accdb" [jet4]="$work/jet4.mdb" [jet3]="$work/jet3.mdb" [small]="$work/small.accdb")
declare -A expected=([ace]=204800 [jet4]=204800 [jet3]=215552 [small]=160)

for name in ace jet4 jet3 small; do
  rows=$("$vidange" sql "${file[$name]}" "SELECT * FROM [${table[$name]}]" | wc -l)
  exported=$(($(mdb-export "${file[$name]}" "${table[$name]}" | wc -l) - 1))
  "$vidange" copy "${file[$name]}" "$work/check.db" >/dev/null
  copied=$("$vidange" sql "$work/check.db" "SELECT * FROM [${table[$name]}]" | wc -l)
  rm -f "$work/check.db"
  if [ "$rows" != "${expected[$name]}" ] || [ "$exported" != "$rows" ] || [ "$copied" != "$rows" ]; then
    echo "$name: vidange sql $rows rows, mdb-export $exported, vidange copy $copied; ${expected[$name]} expected" >&2
    exit 1
  fi
done

# Runs one command by name on file `name`, appending "label ms" to the times.
measure() {
  local label=$1 name=$2 program=$3
  local start end
  rm -f "$work/target.db"
  start=$(date +%s%N)
  case $label in
    sql*) "$program" sql "${file[$name]}" "SELECT * FROM [${table[$name]}]" >/dev/null ;;
    copy*) "$program" copy "${file[$name]}" "$work/target.db" >/dev/null ;;
    mdb-export) mdb-export "${file[$name]}" "${table[$name]}" >/dev/null ;;
    sqlite3) sqlite3 :memory: "SELECT 1" >/dev/null ;;
  esac
  end=$(date +%s%N)
  echo "$name $label $(((end - start) / 1000))" >>"$work/times"
}

: >"$work/times"
labels=(sql mdb-export copy)
[ -n "$before" ] && labels+=("sql-before" "copy-before")
for run in $(seq "$runs"); do
  for name in ace jet4 jet3; do
    for label in "${labels[@]}"; do
      program=$vidange
      [[ $label == *-before ]] && program=$before
      measure "$label" "$name" "$program"
    done
  done
done
small=(sql mdb-export sqlite3)
[ -n "$before" ] && small+=("sql-before")
for run in $(seq $((runs * 10))); do
  for label in "${small[@]}"; do
    program=$vidange
    [[ $label == *-before ]] && program=$before
    measure "$label" small "$program"
  done
done

printf "%-6s %-12s %9s %9s %8s\n" file command "best ms" median "/ mdb"
for name in ace jet4 jet3 small; do
  reference=$(grep "^$name mdb-export " "$work/times" | sort -k3 -n | head -1 | cut -d' ' -f3)
  for label in sql sql-before copy copy-before mdb-export sqlite3; do
    grep -q "^$name $label " "$work/times" || continue
    grep "^$name $label " "$work/times" | sort -k3 -n | awk -v name="$name" -v label="$label" -v reference="$reference" '
      { times[NR] = $3 }
      END { printf "%-6s %-12s %9.1f %9.1f %8.2f\n", name, label, times[1] / 1000, times[int((NR + 1) / 2)] / 1000,
            times[1] / reference }'
  done
done
