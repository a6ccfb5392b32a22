#!/usr/bin/env bash
# scripts/tidy-cached.sh against a stand-in clang-tidy that finds a fault
# in every file holding FAULT unless a NOLINT comment is there: a clean
# file is analysed once and then taken from the cache, also from a copy of
# the sources in another folder; a file with a finding is analysed (and
# fails) every time; a change of a header it includes, of a comment, of
# the compile command or of .clang-tidy has it analysed again.
#
#   bash tests/lint/tidy_cache_test.sh
set -uo pipefail
REPO=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export FIX_TIDY_CACHE=$work/cache
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cat >"$work/clang-tidy" <<'TIDY'
#!/bin/bash
[ "$1" != --version ] || { echo "stand-in clang-tidy 1"; exit 0; }
echo "$*" >>"$TIDY_LOG"
for a in "$@"; do [ "$a" = -- ] && break; source=$a; done
if grep -q FAULT "$source" "$(dirname "$source")"/*.h && ! grep -q NOLINT "$source"; then
  echo "$source:1:1: warning: a fault [stand-in-check]"; exit 1
fi
echo "2 warnings generated."
TIDY
chmod +x "$work/clang-tidy"

# A source tree: the wrapper, a .clang-tidy, a file and the header it includes.
tree() {  # folder
  mkdir -p "$1/scripts" "$1/src"
  cp "$REPO/scripts/tidy-cached.sh" "$1/scripts/"
  echo "Checks: '*'" >"$1/.clang-tidy"
  printf '#include "a.h"\nint f() { return A; }\n' >"$1/src/a.cpp"
  printf '#define A 1\n' >"$1/src/a.h"
}
# One compile's clang-tidy through the wrapper; prints how many times the
# stand-in ran so far.
analyses=0
lint() {  # folder [-Dextra]
  local before
  before=$(wc -l <"$TIDY_LOG")
  bash "$1/scripts/tidy-cached.sh" "$work/clang-tidy" --quiet "$1/src/a.cpp" -- c++ ${2:-} -c "$1/src/a.cpp" -o "$work/a.o" \
    >"$work/out" 2>&1
  STATUS=$?
  RAN=$(($(wc -l <"$TIDY_LOG") - before))
}
export TIDY_LOG=$work/tidy.log
: >"$TIDY_LOG"
tree "$work/one"

lint "$work/one"
[ "$STATUS" = 0 ] && [ "$RAN" = 1 ] || fail "a clean file: status $STATUS, analysed $RAN times"
lint "$work/one"
[ "$STATUS" = 0 ] && [ "$RAN" = 0 ] || fail "a clean file again: status $STATUS, analysed $RAN times"
cp -r "$work/one" "$work/two"
lint "$work/two"
[ "$STATUS" = 0 ] && [ "$RAN" = 0 ] || fail "the same file in another folder was analysed again"
lint "$work/one" -DOTHER
[ "$RAN" = 1 ] || fail "another compile command was taken from the cache"
echo "Checks: '-*,bugprone-*'" >"$work/one/.clang-tidy"
lint "$work/one"
[ "$RAN" = 1 ] || fail "other checks were taken from the cache"

printf '#define A 1 /* FAULT */\n' >"$work/one/src/a.h"
for round in 1 2; do
  lint "$work/one"
  [ "$STATUS" != 0 ] && [ "$RAN" = 1 ] && grep -q 'warning: a fault' "$work/out" ||
    fail "a changed header with a finding, round $round: status $STATUS, analysed $RAN times"
done
printf '#include "a.h"\nint f() { return A; }  // NOLINT\n' >"$work/one/src/a.cpp"
lint "$work/one"
[ "$STATUS" = 0 ] && [ "$RAN" = 1 ] || fail "a NOLINT comment added: status $STATUS, analysed $RAN times"
printf '#include "a.h"\nint f() { return A; }\n' >"$work/one/src/a.cpp"
lint "$work/one"
[ "$STATUS" != 0 ] && [ "$RAN" = 1 ] || fail "the NOLINT comment taken out: status $STATUS, analysed $RAN times"

if [ "$failures" -gt 0 ]; then echo "tidy-cached.sh: $failures check(s) failed"; exit 1; fi
echo "tidy-cached.sh: every check held"
