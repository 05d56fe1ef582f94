#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Benchmark of `vidange copy`: an engine database whose Conventions table has
# N rows (default 100000; made by make-conventions-source.py), against
# SQLite's own copies of the whole file, `sqlite3 SOURCE "VACUUM INTO 'TARGET'"`
# and `sqlite3 SOURCE ".backup TARGET"`, and against `sqlite3 SOURCE .dump`
# piped into a second sqlite3 shell; and the largest Jet 3 file of the test
# corpus (tests/data/jet/corpus/V1997_testIndexCodesV1997.mdb, 29 tables,
# 1,546 rows), against Debian's mdbtools pipeline (`mdb-schema` into sqlite3,
# then `mdb-export -I sqlite -b hex` of each table into sqlite3). Each command
# runs R rounds (default 5), alternating, into a new target each time; the
# median wall-clock and CPU (user + system) seconds of each are shown with the
# ratios, and the targets' row counts are checked equal. BEFORE=PROGRAM runs
# another build of vidange (an earlier commit) in the same rounds, and checks
# that both builds' targets hold the same (`sqlite3 TARGET .dump`).
#
# usage: [COPY_BENCH_SOURCE=FILE] [VIDANGE=PROGRAM] [BEFORE=PROGRAM] bench/copy_bench.sh [N] [R]
# needs: a built build/ (vidange), sqlite3, python3, mdbtools (mdb-schema,
#        mdb-export, mdb-tables), GNU time (/usr/bin/time)
set -euo pipefail
cd "$(dirname "$0")/.."

vidange=${VIDANGE:-build/vidange}
before=${BEFORE:-}
rows=${1:-100000}
rounds=${2:-5}
for tool in sqlite3 mdb-schema mdb-export mdb-tables /usr/bin/time; do
  command -v "$tool" >/dev/null || {
    echo "copy_bench: $tool is missing (Debian packages sqlite3, mdbtools, time)" >&2
    exit 2
  }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs a command and adds its wall-clock and CPU seconds to LABEL's lists.
declare -A walls cpus
measure() {  # measure LABEL COMMAND...
  local label=$1
  shift
  /usr/bin/time -o "$work/time" -f "%e %U %S" "$@" >/dev/null
  read -r wall user system <"$work/time"
  walls[$label]+="$wall "
  cpus[$label]+="$(awk -v u="$user" -v s="$system" 'BEGIN { printf "%.2f", u + s }') "
}
median() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{ v[NR] = $1 } END { printf "%.3f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

mdbtools_copy() {  # mdbtools_copy SOURCE TARGET
  mdb-schema "$1" sqlite | sqlite3 "$2"
  mdb-tables -1 "$1" | while IFS= read -r table; do
    mdb-export -I sqlite -b hex "$1" "$table" | sqlite3 "$2"
  done
}

export -f mdbtools_copy
count() { sqlite3 "$1" "SELECT count(*) FROM [$2]"; }

# COPY_BENCH_SOURCE names a source already made (with N rows) to use instead.
engine=${COPY_BENCH_SOURCE:-$work/source.mdb}
[ -n "${COPY_BENCH_SOURCE:-}" ] || bench/make-conventions-source.py "$engine" "$rows" --vidange "$vidange" >/dev/null
jet=tests/data/jet/corpus/V1997_testIndexCodesV1997.mdb

for ((round = 0; round < rounds; ++round)); do
  rm -f "$work"/target.*
  measure "engine: vidange copy" "$vidange" copy "$engine" "$work/target.vidange"
  [ -z "$before" ] || measure "engine: vidange copy, before" "$before" copy "$engine" "$work/target.before"
  measure "engine: sqlite3 VACUUM INTO" sqlite3 "$engine" "VACUUM INTO '$work/target.vacuum'"
  measure "engine: sqlite3 .backup" sqlite3 "$engine" ".backup '$work/target.backup'"
  measure "engine: sqlite3 .dump | sqlite3" sh -c "sqlite3 '$engine' .dump | sqlite3 '$work/target.dump'"
  measure "Access: vidange copy" "$vidange" copy "$jet" "$work/target.jet"
  [ -z "$before" ] || measure "Access: vidange copy, before" "$before" copy "$jet" "$work/target.jet-before"
  measure "Access: mdb-schema, mdb-export | sqlite3" bash -c 'mdbtools_copy "$@"' copy "$jet" "$work/target.mdbtools"
done
for other in vacuum backup dump; do
  [ "$(count "$work/target.vidange" Conventions)" = "$(count "$work/target.$other" Conventions)" ]
done
[ "$(count "$work/target.jet" Table1)" = "$(count "$work/target.mdbtools" Table1)" ]
if [ -n "$before" ]; then
  cmp -s <(sqlite3 "$work/target.vidange" .dump) <(sqlite3 "$work/target.before" .dump) || {
    echo "copy_bench: the engine targets of $vidange and $before differ" >&2
    exit 1
  }
  cmp -s <(sqlite3 "$work/target.jet" .dump) <(sqlite3 "$work/target.jet-before" .dump) || {
    echo "copy_bench: the Access targets of $vidange and $before differ" >&2
    exit 1
  }
fi

labels=("engine: vidange copy" "engine: sqlite3 VACUUM INTO" "engine: sqlite3 .backup"
  "engine: sqlite3 .dump | sqlite3" "Access: vidange copy" "Access: mdb-schema, mdb-export | sqlite3")
[ -z "$before" ] || labels+=("engine: vidange copy, before" "Access: vidange copy, before")
declare -A wall cpu
printf "%-42s %10s %10s\n" "command ($rows rows, $rounds rounds)" "median s" "CPU s"
for label in "${labels[@]}"; do
  wall[$label]=$(median "${walls[$label]}")
  cpu[$label]=$(median "${cpus[$label]}")
  printf "%-42s %10s %10s\n" "$label" "${wall[$label]}" "${cpu[$label]}"
done
ratio() {  # ratio OURS THEIRS TEXT
  awk -v v="${wall[$1]}" -v o="${wall[$2]}" -v cv="${cpu[$1]}" -v co="${cpu[$2]}" -v text="$3" \
    'BEGIN { printf "%s: %.2f wall, %.2f CPU\n", text, v / o, (co > 0 ? cv / co : 0) }'
}
ratio "engine: vidange copy" "engine: sqlite3 VACUUM INTO" "engine: vidange copy / VACUUM INTO (goal at most 1.5)"
ratio "engine: vidange copy" "engine: sqlite3 .backup" "engine: vidange copy / .backup"
[ -z "$before" ] ||
  ratio "engine: vidange copy, before" "engine: sqlite3 VACUUM INTO" "engine: vidange copy before / VACUUM INTO"
ratio "engine: vidange copy" "engine: sqlite3 .dump | sqlite3" "engine: vidange copy / the .dump pipeline (goal at most 1.0)"
ratio "Access: vidange copy" "Access: mdb-schema, mdb-export | sqlite3" \
  "Access: vidange copy / the mdbtools pipeline (goal at most 0.67)"
