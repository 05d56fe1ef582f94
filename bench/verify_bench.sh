#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Benchmark of `vidange verify` after an installation of a generated source
# whose Conventions has N rows, beside another build of vidange (an earlier
# one, to see what a change costs), in one run. Two states of the targets:
# quiet (no -wal: read as an immutable file under a watch for writes), and
# the data target left with a -wal and no -shm (read from a private copy by
# this build). Each command three times, alternating; the best time of each,
# with peak resident memory (KiB). The -shm an earlier build may create is
# removed before each of its runs.
#
# usage: bench/verify_bench.sh OTHER_VIDANGE [N]     (default N: 100000)
# needs: a built build/ (vidange), python3, /usr/bin/time
set -euo pipefail
cd "$(dirname "$0")/.."

vidange=$PWD/build/vidange
other=$(realpath "$1")
rows=${2:-100000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

measure() {
  /usr/bin/time -q -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1 || true
  cat "$work/time"
}

declare -A best_seconds best_peak
keep() {
  if [ -z "${best_seconds[$1]:-}" ] || awk -v a="$2" -v b="${best_seconds[$1]}" 'BEGIN { exit !(a < b) }'; then
    best_seconds[$1]=$2
    best_peak[$1]=$3
  fi
}

mkdir -p "$work/lex" "$work/pat"
source="$work/CONVENTIONS_TEST_KVEL.mdb"
bench/make-conventions-source.py "$source" "$rows" --vidange "$vidange" >/dev/null
cp build/sample/dictionnaire/lexbase.mdb "$work/lex/"
cp build/sample/donnees/patbase.mdb "$work/pat/"
"$vidange" install "$work/lex" "$work/pat" --source "$source" >/dev/null 2>&1
"$vidange" verify "$work/lex" "$work/pat" --source "$source" >"$work/expected"

# A program that wrote the data target ended without closing it; its -shm then went.
leave_wal_alone() {
  python3 - "$work/pat/patbase.mdb" <<'EOF'
import os, sqlite3, sys
db = sqlite3.connect(sys.argv[1], isolation_level=None)
db.execute("PRAGMA wal_autocheckpoint=0")
db.execute("CREATE TABLE BenchTrace (a INTEGER)")
db.execute("DROP TABLE BenchTrace")
os._exit(0)
EOF
  rm -f "$work/pat/patbase.mdb-shm"
}

readonly rounds=3
printf "%-8s %-22s %-16s %10s %10s\n" rows targets vidange seconds "peak KiB"
for state in quiet "-wal alone"; do
  best_seconds=()
  best_peak=()
  [ "$state" == quiet ] || leave_wal_alone
  for ((round = 0; round < rounds; ++round)); do
    for build in this other; do
      binary=$vidange
      [ "$build" == this ] || binary=$other
      rm -f "$work/pat/patbase.mdb-shm" "$work/lex/lexbase.mdb-shm"
      read -r seconds peak < <(measure "$binary" verify "$work/lex" "$work/pat" --source "$source")
      keep "$build" "$seconds" "$peak"
    done
  done
  "$vidange" verify "$work/lex" "$work/pat" --source "$source" | cmp -s - "$work/expected" ||
    echo "this build's verify answered otherwise in state: $state" >&2
  for build in this other; do
    printf "%-8s %-22s %-16s %10s %10s\n" "$rows" "$state" "$build" "${best_seconds[$build]}" "${best_peak[$build]}"
  done
done
