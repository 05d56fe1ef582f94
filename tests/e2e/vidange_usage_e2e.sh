#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# How vidange answers for itself: the usage asked for (--help, -h) on standard output with
# status 0, each command's help, a wrong call refused with status 2 by a line naming the word at
# fault then the usage, the version, and its manual page: formatted by man without a warning,
# with its sections, and giving every line of the usage word for word, as the README's usage
# block does, and naming for each option the very commands whose help lists it; every help line
# within 80 columns; the shell completion offering each command's options as its help lists them.
# Further manual pages given are checked for warnings too.
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
help=$out
# The usage is the help up to its first blank line (examples follow it).
usage=$(sed '/^$/,$d' <<<"$help")
check "--help: status 0, nothing on standard error" "0 " "$status $err"
check "--help: the usage" "Utilisation :" "$(head -n1 <<<"$usage")"
run -h
check "-h: the same help, status 0" "0 $help" "$status $out"

# A wrong call: one line saying what was wrong, naming the word at fault, then the usage (the
# command's own line for a command) on standard error, status 2, nothing on standard output.
while IFS='|' read -r call complaint; do
  # shellcheck disable=SC2086  # the call's words are meant to split
  run $call
  check "'vidange $call': what was wrong, status 2" "2 $complaint" "$status $(head -n1 <<<"$err")"
  command=$(sed -n 's/^vidange \([a-z]*\) :.*/\1/p' <<<"$complaint")
  if [ -z "$command" ]; then
    expected=$usage
  else
    expected=$(printf 'Utilisation :\n%s\nL'"'"'aide de la commande : vidange %s --help' \
      "$(grep "^  vidange $command " <<<"$usage")" "$command")
  fi
  check "'vidange $call': then the usage" "$expected" "$(tail -n +2 <<<"$err")"
  check "'vidange $call': nothing on standard output" "" "$out"
done <<'CALLS'
|vidange : commande manquante
inconnue|vidange : commande inconnue « inconnue »
--nope|vidange : option inconnue « --nope »
--nope sql base.mdb|vidange sql : option inconnue « --nope »
--version extra|vidange : --version s'emploie seul
--version sql base.mdb|vidange : --version s'emploie seul
--version --quiet|vidange : --version s'emploie seul
sql base.mdb --quiet|vidange sql : option inconnue « --quiet »
schema base.mdb --quiet|vidange schema : option inconnue « --quiet »
schema|vidange schema : argument manquant : BASE
export base.mdb T|vidange export : argument manquant : FICHIER
sql base.mdb --nope|vidange sql : option inconnue « --nope »
schema base.mdb T sql|vidange schema : argument en trop « sql »
export base.mdb T f.txt --mode keep|vidange export : option inconnue « --mode »
import base.mdb T f.txt --mode rien|vidange import : --mode « rien » inconnu (clear, keep ou append)
import base.mdb T f.txt --separator|vidange import : valeur manquante après --separator
CALLS

declare -A helps
# Each command's help, asked for after it: its usage line, then every option that line names.
while IFS= read -r line; do
  command=$(cut -d' ' -f4 <<<"$line")
  run "$command" --help
  check "'vidange $command --help': status 0, its usage line" "0 $line" "$status $(sed -n 2p <<<"$out")"
  for option in $(grep -o -- '--[a-z]*' <<<"$line"); do
    check "'vidange $command --help' explains $option" "$option" "$(grep -o -m1 -- "^  $option\b" <<<"$out" | tr -d ' ')"
  done
  helps[$command]=$out
done < <(grep '^  vidange [a-z]' <<<"$usage")

# Every line of every help fits in 80 columns.
for command in "" "${!helps[@]}"; do
  run $command --help
  width=$(LC_ALL=C.UTF-8 wc -L <<<"$out")
  check "'vidange $command --help' within 80 columns" "yes" "$( ((width <= 80)) && echo yes || echo "no, $width")"
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
# The manual's synopsis and the README's usage block give each line of the usage word for word.
# Justified or wrapped, the synopsis is cut back into one entry per "vidange".
synopsis=$(sed -n '/^SYNOPSIS$/,/^DESCRIPTION$/{/^[A-Z]/d;p}' <<<"$page" | tr -s '[:space:]' ' ' |
  sed 's/^ //;s/ $//;s/ vidange /\nvidange /g')
readme=$(dirname "$manual")/../README.md
while IFS= read -r line; do
  check "'${line#  }' in the manual's synopsis" "${line#  }" "$(grep -x -F -m1 -- "${line#  }" <<<"$synopsis")"
  check "'${line#  }' in the README's usage block" "${line#  }" \
    "$(awk -v usage="    ${line#  }" '$0 == usage || index($0, usage "  ") == 1 {print substr(usage, 5); exit}' "$readme")"
done < <(grep '^  vidange ' <<<"$usage")

# The manual names, in parentheses after each option of a command, the commands that take it:
# exactly those whose help lists it.
declare -A takers
while IFS='|' read -r option commands; do
  takers[$option]=" $commands "
done < <(sed -n '/^OPTIONS$/,/^[A-Z]/p' <<<"$page" | awk '
  /^       --[a-z]/ { option = $1; next }
  option != "" && /^              \(/ { match($0, /\([a-z, ]*\)/); list = substr($0, RSTART + 1, RLENGTH - 2)
    gsub(/, */, " ", list); print option "|" list }
  { option = "" }')
check "the manual names the commands of --quiet" " install verify compare copy import export " "${takers[--quiet]:-}"
for command in "${!helps[@]}"; do
  for option in "${!takers[@]}"; do
    listed=no
    grep -q -- "^  $option\b" <<<"${helps[$command]}" && listed=yes
    manual_says=no
    [[ ${takers[$option]} == *" $command "* ]] && manual_says=yes
    check "'vidange $command --help' lists $option as the manual says" "$manual_says" "$listed"
  done
done

# The shell completion offers the commands, then for each command exactly the options its help
# lists.
completion=$(dirname "$manual")/../packaging/completions/vidange
# completions WORD...: what completing the last word offers, sorted, on one line.
completions() {
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _vidange; printf "%s\n" "${COMPREPLY[@]}"' \
    _ "$completion" vidange "$@" | sort | tr '\n' ' '
}
# words: the words of standard input on one line, one space apart.
words() { tr -s ' \n' '  ' | sed 's/^ *//; s/ *$//'; }
check "completion of the command" "$(grep -o '^  vidange [a-z][a-z]*' <<<"$usage" | cut -c11- | sort | words)" \
  "$(completions "" | tr ' ' '\n' | grep -v '^-' | words)"
for command in "${!helps[@]}"; do
  listed=$(sed -n '/^Options :$/,$p' <<<"${helps[$command]}" | grep '^  -' | sed 's/  [^-].*//' |
    grep -o -- '-[-a-z]*' | sort | words)
  check "completion of vidange $command's options" "$listed" "$(completions "$command" base - | words)"
done


end_checks
