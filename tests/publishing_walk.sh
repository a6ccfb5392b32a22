#!/usr/bin/env bash
# The Linux walk-through of docs/publishing.md, run as a reader runs it, with
# the fixpack of this build, in a folder of its own: every command of it
# must succeed (those the guide shows failing say so with `|| echo`), and it
# must show what the guide says it shows: apply's warning about another
# release and the difference --expect finds.
#
#   tests/publishing_walk.sh FIXPACK GUIDE WORKFOLDER
set -euo pipefail
fixpack=$1 guide=$2 work=$3

# The first sh block under the walk-through's heading, without its build
# line, with this build's fixpack.
walk=$(awk '/^## On Linux: a walk through one update/ { on = 1 }
            on && /^```sh$/ { inside = 1; next }
            inside && /^```$/ { exit }
            inside { print }' "$guide" |
       sed -e '/^cmake /d' -e "s|^fixpack=.*|fixpack='$fixpack'|")
[ -n "$walk" ] || { echo "no walk-through found in $guide"; exit 1; }

rm -rf "$work"
mkdir -p "$work"
if ! (cd "$work" && bash -euo pipefail -c "$walk") >"$work.log" 2>&1; then
  cat "$work.log"
  echo "FAILED: the walk-through of $guide stops at the command above"
  exit 1
fi
cat "$work.log"
for shown in "may hold another release" "differs: joseki.dat" "every file the package wrote is as in release" \
             "exit status 1: not the release"; do
  grep -qF "$shown" "$work.log" || { echo "FAILED: the walk-through does not show: $shown"; exit 1; }
done
echo "the walk-through of $guide runs to its end"
