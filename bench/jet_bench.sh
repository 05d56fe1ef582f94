#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Benchmark of reading an Access file: `vidange export` of `Table1`
# (512 rows) from a Jet 3 file of the test corpus, against the same export
# from an engine database holding the same rows (made by `vidange copy`).
# Each command runs R times (default 10), alternating; prints the best and
# the median wall-clock milliseconds (measured around /usr/bin/time) and the peak resident memory (KiB) of each.
#
# usage: bench/jet_bench.sh [R]
# Then `vidange schema` of the same file, and `vidange sql` of `Table1`
# against `mdb-export` of it.
# needs: a built build/ (vidange), /usr/bin/time, mdbtools
set -euo pipefail
cd "$(dirname "$0")/.."

vidange=build/vidange
runs=${1:-10}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
jet=tests/data/jet/corpus/V1997_compIndexTestV1997.mdb
engine="$work/jet3.db"
"$vidange" copy "$jet" "$engine"

for run in $(seq "$runs"); do
  for side in jet engine; do
    source=$jet
    [ "$side" = engine ] && source=$engine
    start=$(date +%s%N)
    /usr/bin/time -f "%M" -o "$work/time" "$vidange" export "$source" Table1 "$work/$side.txt" >/dev/null
    end=$(date +%s%N)
    echo "$side $(( (end - start) / 1000 )) $(cat "$work/time")" >>"$work/times"
  done
done
cmp "$work/jet.txt" "$work/engine.txt"
printf "%-8s %8s %8s %10s\n" source "best ms" "median" "peak KiB"
for side in jet engine; do
  grep "^$side " "$work/times" | sort -k2 -n | awk -v side="$side" '
    { seconds[NR] = $2; if ($3 > peak) peak = $3 }
    END { printf "%-8s %8.1f %8.1f %10d\n", side, seconds[1] / 1000, seconds[int((NR + 1) / 2)] / 1000, peak }'
done

# Opening costs what is used: `vidange schema` of the same Jet 3 file (the
# catalog and the definitions only), and `vidange sql` of its table
# against Debian's `mdb-export` of the same table, each R times, alternating.
: >"$work/open"
table=Table1
for run in $(seq "$runs"); do
  for side in schema sql mdb-export; do
    start=$(date +%s%N)
    case $side in
      schema) "$vidange" schema "$jet" >/dev/null ;;
      sql) "$vidange" sql "$jet" "SELECT * FROM [$table]" >/dev/null ;;
      mdb-export) mdb-export "$jet" "$table" >/dev/null ;;
    esac
    end=$(date +%s%N)
    echo "$side $(( (end - start) / 1000 ))" >>"$work/open"
  done
done
printf "\n%-12s %8s %8s\n" command "best ms" "median"
for side in schema sql mdb-export; do
  grep "^$side " "$work/open" | sort -k2 -n | awk -v side="$side" '
    { seconds[NR] = $2 }
    END { printf "%-12s %8.1f %8.1f\n", side, seconds[1] / 1000, seconds[int((NR + 1) / 2)] / 1000 }'
done
