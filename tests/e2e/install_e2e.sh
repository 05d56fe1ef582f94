#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# A whole installation through the installer window on a real X server. Starts its own Xvfb on a
# free display and drives the program `install-conventions` with xdotool:
#   - the program runs from a temporary folder holding the sample source database;
#   - the dictionary and data folders are temporary copies of the sample lexbase.mdb and
#     patbase.mdb, typed into the two fields (one with a final "/", one without);
#   - Alt+O runs the installation; the only box shown is "Installation des conventions de tests
#     du KVEL", Return dismisses it and the program ends with status 0;
#   - afterwards each of the five tables of lexbase.mdb and patbase.mdb holds exactly the rows of
#     the source table (the older rows are gone) and no transfer file TB_*.txt is left.
# Usage: install_e2e.sh PROGRAM VIDANGE SAMPLE_FOLDER. Exit status 77 when a tool is missing.
set -u

program=${1:?usage: install_e2e.sh PROGRAM VIDANGE SAMPLE_FOLDER}
vidange=${2:?usage: install_e2e.sh PROGRAM VIDANGE SAMPLE_FOLDER}
sample=${3:?usage: install_e2e.sh PROGRAM VIDANGE SAMPLE_FOLDER}
readonly screen_width=1024 screen_height=768
readonly wait_seconds=20 # for the server, the window, the end of the program
readonly run_seconds=90  # for the installation itself, up to its box
readonly box_title="Installation des conventions de tests du KVEL"

for tool in Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done

# shellcheck source=x_session.sh
source "$(dirname "$0")/x_session.sh"

source_db="$sample/CONVENTIONS_TEST_KVEL.mdb"
for database in "$source_db" "$sample/dictionnaire/lexbase.mdb" "$sample/donnees/patbase.mdb"; do
  [[ -f $database ]] ||
    fail "sample database $database is missing (build the target sample-databases)"
done

# The three folders of the run.
program_folder="$work/programme"
dictionary_folder="$work/dictionnaire"
data_folder="$work/donnees"
mkdir "$program_folder" "$dictionary_folder" "$data_folder" || fail "cannot create the folders"
cp "$program" "$program_folder/install-conventions" &&
  cp "$source_db" "$program_folder/CONVENTIONS_TEST_KVEL.mdb" &&
  cp "$sample/dictionnaire/lexbase.mdb" "$dictionary_folder/lexbase.mdb" &&
  cp "$sample/donnees/patbase.mdb" "$data_folder/patbase.mdb" || fail "cannot copy the databases"

# The five tables, each with the database that receives it.
readonly tables=(CentreServicesAMC CORRESPONDANCE_MUTNUM_AMC Conventions CONVENTIONS_REGROUPEMENT
  CONVENTIONS_TYPE)
declare -A target_of=(
  [CentreServicesAMC]="$dictionary_folder/lexbase.mdb"
  [CORRESPONDANCE_MUTNUM_AMC]="$dictionary_folder/lexbase.mdb"
  [Conventions]="$data_folder/patbase.mdb"
  [CONVENTIONS_REGROUPEMENT]="$data_folder/patbase.mdb"
  [CONVENTIONS_TYPE]="$data_folder/patbase.mdb"
)

# Writes the rows of table $2 of database $1, sorted, one a line, to file $3.
dump_rows() {
  "$vidange" sql "$1" "SELECT * FROM [$2]" >"$3.unsorted" 2>"$work/vidange.log" ||
    fail "vidange could not read $2 from $1: $(cat "$work/vidange.log")"
  LC_ALL=C sort "$3.unsorted" >"$3"
}

# Before the run: every target holds rows the source does not have, so that their removal is seen.
for table in "${tables[@]}"; do
  dump_rows "$program_folder/CONVENTIONS_TEST_KVEL.mdb" "$table" "$work/$table.source"
  dump_rows "${target_of[$table]}" "$table" "$work/$table.before"
  [[ -s $work/$table.source ]] || fail "the source table $table is empty"
  LC_ALL=C comm -13 "$work/$table.source" "$work/$table.before" >"$work/$table.old"
  [[ -s $work/$table.old ]] || fail "the sample target of $table has no row of its own"
done

start_xvfb

(cd / && exec "$program_folder/install-conventions") >"$work/program.log" 2>&1 &
app_pid=$!

# The visible top-level windows of the running program, one id a line.
visible_windows() {
  xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null
}
# True once a visible window of the program other than the installer window is shown.
box_shown() {
  visible_windows | grep -qvx "$window"
}
program_ended() {
  ! kill -0 "$app_pid" 2>/dev/null
}

poll visible_windows >/dev/null || fail "the installer window did not appear"
window=$(visible_windows)
[[ $(wc -l <<<"$window") -eq 1 ]] || fail "more than one window is shown: $window"
xdotool windowfocus --sync "$window" || fail "cannot give the keyboard to the installer window"

# txtCheminApplication has the focus: the dictionary folder without a final "/"; Tab reaches
# its browse button, Tab again txtCheminMedecin: the data folder with its final "/".
xdotool type --delay 5 "$dictionary_folder"
xdotool key --clearmodifiers Tab Tab
xdotool type --delay 5 "$data_folder/"
xdotool key --clearmodifiers alt+o
echo "ok: folders typed, Alt+O pressed"

seconds=$run_seconds poll box_shown || {
  program_ended && fail "the program ended without a box ($(cat "$work/program.log"))"
  fail "no box appeared within $run_seconds s"
}
box=$(visible_windows | grep -vx "$window")
[[ $(wc -l <<<"$box") -eq 1 ]] || fail "more than one box is shown: $box"
title=$(xdotool getwindowname "$box")
[[ $title == "$box_title" ]] || fail "the box shown is '$title', not '$box_title'"
found=$(xdotool search --onlyvisible --name "^${box_title}\$" 2>/dev/null)
[[ $found == "$box" ]] || fail "searching '$box_title' by name gives '$found', not the box $box"
echo "ok: box '$title' shown"

xdotool windowfocus --sync "$box" || fail "cannot give the keyboard to the box"
xdotool key --clearmodifiers Return
poll program_ended || fail "the program did not end once the box was dismissed"
wait "$app_pid"
status=$?
app_pid=
((status == 0)) || fail "exit status $status, expected 0 ($(cat "$work/program.log"))"
echo "ok: Return dismissed the box, the program ended with status 0"

for table in "${tables[@]}"; do
  dump_rows "${target_of[$table]}" "$table" "$work/$table.after"
  source_count=$(wc -l <"$work/$table.source")
  after_count=$(wc -l <"$work/$table.after")
  ((after_count == source_count)) || fail "$table holds $after_count rows, the source $source_count"
  cmp -s "$work/$table.source" "$work/$table.after" ||
    fail "$table differs from the source:" \
      "$(diff "$work/$table.source" "$work/$table.after" | head -5)"
  LC_ALL=C comm -12 "$work/$table.old" "$work/$table.after" >"$work/$table.kept"
  [[ ! -s $work/$table.kept ]] ||
    fail "$table still holds older rows: $(head -2 "$work/$table.kept")"
  echo "ok: $table holds the $source_count rows of the source, and only them"
done

leftovers=$(find "$data_folder" "$dictionary_folder" -maxdepth 1 -name 'TB_*.txt')
[[ -z $leftovers ]] || fail "transfer files left behind: $leftovers"
echo "ok: no transfer file left"
