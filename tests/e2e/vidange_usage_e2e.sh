#!/usr/bin/env bash
# How vidange answers for itself: the usage asked for (--help, -h) on standard output with
# status 0, the usage as a complaint (no command, unknown command, missing argument) on standard
# error with status 2, the version, and its manual page: formatted by man without a warning,
# with its sections, and documenting every command the usage names. Further manual pages given
# are checked for warnings too.
# usage: vidange_usage_e2e.sh VIDANGE MANUAL_PAGE [MANUAL_PAGE ...]
set -uo pipefail
vidange=$1
manual=$2
other_manuals=("${@:3}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=checks.sh
source "$(dirname "$0")/checks.sh"

# run ARGUMENTS...: sets status, out and err.
run() {
  "$vidange" "$@" >"$work/out" 2>"$work/err"
  status=$?
  out=$(cat "$work/out")
  err=$(cat "$work/err")
}

run --help
usage=$out
check "--help: status 0, nothing on standard error" "0 " "$status $err"
check "--help: the usage" "Utilisation :" "$(head -n1 <<<"$usage")"
run -h
check "-h: the same usage, status 0" "0 $usage" "$status $out"

for call in "" "inconnue" "schema" "export base.mdb T" "import base.mdb T f.txt --mode rien"; do
  # shellcheck disable=SC2086  # the call's words are meant to split
  run $call
  check "'vidange $call': the usage on standard error, status 2" "2 $usage" "$status $err"
  check "'vidange $call': nothing on standard output" "" "$out"
done

run --version
check "--version" "0 vidange 1.00" "$status $out"

# man says nothing of its own about a page: every warning it prints is a fault.
for page in "$manual" "${other_manuals[@]}"; do
  check "$(basename "$page") formats without a warning" "" \
    "$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)"
done
page=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$manual" 2>/dev/null)
for section in NOM SYNOPSIS DESCRIPTION COMMANDES OPTIONS "CODES DE RETOUR" EXEMPLES; do
  check "section $section" "$section" "$(grep -x -m1 "$section" <<<"$page")"
done
# Justified lines spread their words with blanks and tabs.
synopsis=$(sed -n '/^SYNOPSIS$/,/^DESCRIPTION$/p' <<<"$page" | tr -s '[:blank:]' ' ')
while read -r command; do
  check "command '$command' in the manual's synopsis" "$command" \
    "$(grep -o -m1 -- "vidange $command\b" <<<"$synopsis" | cut -d' ' -f2)"
done < <(grep -o '^  vidange [a-z-]*' <<<"$usage" | cut -d' ' -f4 | sort -u)

end_checks
