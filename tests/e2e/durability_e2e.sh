#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# What vidange writes is on the disk before it says so, and it never writes
# through a link: traced with strace, an export flushes its file before the
# rename that names it and the folder after; a copy's last flush is the
# target's folder, once the target is complete; `sql --create` and `copy`
# refuse a target name that is a link, even a link to nothing.
# usage: durability_e2e.sh VIDANGE   (exits 77, skipped, without a usable strace)
set -uo pipefail
vidange=$1
# Under the sanitizers' build, LeakSanitizer cannot stop a process that
# strace traces and ends it with status 1; leaks are checked by the other tests.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=checks.sh
source "$(dirname "$0")/checks.sh"

if ! command -v strace >/dev/null || ! strace -o /dev/null true 2>/dev/null; then
  echo "strace missing or not permitted here: skipped"
  exit 77
fi

mkdir "$work/src" "$work/dst"
source_db="$work/src/s.mdb"
"$vidange" sql "$source_db" --create "CREATE TABLE T (N LONG)" "INSERT INTO T values(1)" "INSERT INTO T values(2)"

# The flushes of files in (or of) FOLDER and the renames, in order, one word each:
# "file" (a file in FOLDER), "folder" (FOLDER itself), "rename:NAME".
trace() {  # trace FOLDER LOG
  sed -nE -e "s#.*f(data)?sync\([0-9]+<$1>\).*#folder#p" \
          -e "s#.*f(data)?sync\([0-9]+<$1/[^>]*>.*#file#p" \
          -e "s#.*rename(at2?)?\(.*[\"/]([^\"/]+)\"\) += 0\$#rename:\2#p" "$2" | tr '\n' ' '
}

strace -f -y -e trace=fsync,fdatasync,rename,renameat,renameat2 -o "$work/export.log" \
  "$vidange" export "$source_db" T "$work/dst/T.txt" >"$work/out"
check "export succeeds" "ERR0" "$(cat "$work/out")"
check "export: file flushed, renamed into place, folder flushed" "file rename:T.txt folder " \
  "$(trace "$work/dst" "$work/export.log")"

strace -f -y -e trace=fsync,fdatasync,rename,renameat,renameat2 -o "$work/copy.log" \
  "$vidange" copy "$source_db" "$work/dst/c.mdb" 2>"$work/err"
check "copy succeeds" "0 " "$? $(cat "$work/err")"
check "copy: the last flush is the target's folder, after its file" "file folder" \
  "$(trace "$work/dst" "$work/copy.log" | grep -oE '[a-z]+ [a-z]+ $' | sed 's/ $//')"

# A signal that comes while the target is renamed into place: the copy is
# done, and says so.
for signal in TERM INT HUP; do
  rm -f "$work/dst/s.mdb"
  strace -f -o /dev/null -e trace=rename,renameat,renameat2 -e inject=rename,renameat,renameat2:signal=$signal \
    "$vidange" copy "$source_db" "$work/dst/s.mdb" 2>"$work/err"
  check "SIG$signal at the rename: the copy reports its success" "0 1|2" \
    "$? $("$vidange" sql "$work/dst/s.mdb" "SELECT * FROM T" | tr '\n' '|' | sed 's/|$//')"
done

mkdir "$work/elsewhere"
ln -s elsewhere/x.mdb "$work/link.mdb"
"$vidange" sql "$work/link.mdb" --create "CREATE TABLE T (N LONG)" 2>"$work/err"
check "create through a link refused" "1 ERR3204:" "$? $(cut -c1-8 "$work/err")"
"$vidange" copy "$source_db" "$work/link.mdb" 2>"$work/err"
check "copy onto a link refused" "1 ERR3204:" "$? $(cut -c1-8 "$work/err")"
check "nothing made where the link points" "" "$(ls -A "$work/elsewhere")"

end_checks
