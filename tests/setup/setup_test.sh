#!/usr/bin/env bash
# Runs scripts/setup.sh against stand-ins of apt-get, dpkg, locale,
# locale-gen, sudo and sleep, on a PATH that holds nothing else of the
# system's package tools (so the real apt-get can never run), and checks
# what it does when the package servers or the i386 packages fail:
# apt-get update tried again after a pause and then passed over, the
# Japanese locale made before anything that may fail, Wine's 32-bit side
# missing said in one line with apt's reason and exit status 0, any other
# failed install ending the set-up with apt's status.
#
#   bash tests/setup/setup_test.sh      (no network, no root needed)
set -uo pipefail
REPO=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The system's own tools that setup.sh uses besides the package tools.
mkdir -p "$work/tools"
for tool in bash sh env cat grep sed seq rm mktemp tee id printf touch cp dirname; do
  ln -s "$(command -v "$tool")" "$work/tools/$tool"
done

# The stand-ins. Each call is logged; FAKE_* choose the faults.
mkdir -p "$work/fakes"
fake() { printf '#!/bin/bash\necho "%s $*" >>"$FAKE_LOG"\n%s\n' "$1" "$2" >"$work/fakes/$1"; chmod +x "$work/fakes/$1"; }
fake apt-get '
case " $* " in
  *" update "*)
    n=$(($(cat "$FAKE_STATE/updates" 2>/dev/null || echo 0) + 1)); echo $n >"$FAKE_STATE/updates"
    if [ "$n" -le "${FAKE_UPDATE_FAILURES:-0}" ]; then
      echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]"
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
      exit 100
    fi ;;
  *" wine32:i386 "*)
    if [ "${FAKE_WINE32:-ok}" = broken ]; then
      echo "Some packages could not be installed. This may mean that you have requested an impossible situation."
      echo "The following packages have unmet dependencies:"
      echo " wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed"
      echo "               Depends: libz1:i386 but it is not going to be installed"
      echo "E: Unable to correct problems, you have held broken packages."
      exit 100
    fi
    touch "$FAKE_STATE/wine32" ;;
  *" locales "*) cp "$FAKE_STATE/locale-gen" "$(dirname "$0")/locale-gen" ;;
  *" install "*)
    if [ "${FAKE_PACKAGES:-ok}" = broken ]; then echo "E: Unable to locate package clang-tidy-14"; exit 100; fi
    touch "$FAKE_STATE/installed" ;;
esac
exit 0'
fake dpkg '
case "$1" in
  -s) [ -f "$FAKE_STATE/wine32" ] ;;
  --print-foreign-architectures) cat "$FAKE_STATE/arches" 2>/dev/null; exit 0 ;;
  --add-architecture) echo "$2" >>"$FAKE_STATE/arches" ;;
esac'
fake dpkg-query '[ -f "$FAKE_STATE/installed" ] || exit 1; for p in "${@:3}"; do echo "ii "; done' 
fake locale 'echo C; echo C.utf8; echo POSIX; [ ! -f "$FAKE_STATE/ja_JP" ] || echo ja_JP.utf8'
fake locale-gen 'grep -q "^ja_JP.UTF-8 UTF-8" "$SETUP_LOCALE_GEN" && touch "$FAKE_STATE/ja_JP"'
fake sudo '"$@"'
fake sleep ':'
mv "$work/fakes/locale-gen" "$work/locale-gen"

failures=0
check() {  # case what condition...
  local name=$1 what=$2
  shift 2
  if ! "$@"; then
    echo "FAIL $name: $what"
    failures=$((failures + 1))
  fi
}
# The line number of the first logged call matching a pattern (0: none).
# The line numbers of the logged calls matching a pattern.
call_at() { grep -n -E "$1" "$FAKE_LOG" | cut -d: -f1; }
calls() { grep -c -E "$1" "$FAKE_LOG" || true; }
# The first call matching A comes before the last one matching B.
before() { local a b; a=$(call_at "$1" | head -1); b=$(call_at "$2" | tail -1); [ -n "$a" ] && [ -n "$b" ] && [ "$a" -lt "$b" ]; }

# One set-up run in a fresh state: FAKE_* as given; "ready" starts with the
# locale, the packages and wine32 there, "packages-there" without wine32,
# "no-locale-gen" without the locales package.
run_setup() {  # case start env...
  local name=$1 start=$2
  shift 2
  export FAKE_STATE=$work/state/$name FAKE_LOG=$work/state/$name.log
  rm -rf "$FAKE_STATE" && mkdir -p "$FAKE_STATE" && : >"$FAKE_LOG"
  cp "$work/locale-gen" "$FAKE_STATE/locale-gen"
  rm -f "$work/fakes/locale-gen"
  [ "$start" = no-locale-gen ] || cp "$work/locale-gen" "$work/fakes/locale-gen"
  printf '# ja_JP.UTF-8 UTF-8\n# en_US.UTF-8 UTF-8\n' >"$FAKE_STATE/locale.gen"
  [ "$start" != packages-there ] || touch "$FAKE_STATE/ja_JP" "$FAKE_STATE/installed"
  if [ "$start" = ready ]; then touch "$FAKE_STATE/ja_JP" "$FAKE_STATE/wine32" "$FAKE_STATE/installed"; echo i386 >"$FAKE_STATE/arches"; fi
  OUT=$(env -i PATH="$work/fakes:$work/tools" HOME="$work" SETUP_LOCALE_GEN="$FAKE_STATE/locale.gen" \
    SETUP_APT_TRIES=3 SETUP_APT_PAUSE=7 FAKE_STATE="$FAKE_STATE" FAKE_LOG="$FAKE_LOG" "$@" \
    bash "$REPO/scripts/setup.sh" 2>&1)
  STATUS=$?
  printf -- '--- %s (exit %s)\n%s\n' "$name" "$STATUS" "$OUT"
}
said() { grep -q -F -- "$1" <<<"$OUT"; }
not_said() { ! said "$1"; }
setup_lines() { grep -c '^setup: ' <<<"$OUT" || true; }

run_setup fresh plain
check fresh "exit 0" [ "$STATUS" = 0 ]
check fresh "the locale made" [ -f "$FAKE_STATE/ja_JP" ]
check fresh "the locale made before the packages" before 'locale-gen' 'apt-get install .* cmake '
check fresh "wine32 installed" [ -f "$FAKE_STATE/wine32" ]
check fresh "i386 added before an update" before 'dpkg --add-architecture i386' 'apt-get update'
check fresh "wine32 after that update" before 'apt-get update' 'apt-get install .*wine32:i386'
check fresh "no word but apt's" [ "$(setup_lines)" = 0 ]
check fresh "one update, with i386" [ "$(calls 'apt-get update')" = 1 ]

run_setup index-fails plain FAKE_UPDATE_FAILURES=99 FAKE_WINE32=broken
check index-fails "exit 0" [ "$STATUS" = 0 ]
check index-fails "three tries of the update" [ "$(calls 'apt-get update')" = 3 ]
check index-fails "a pause between tries" [ "$(calls '^sleep 7$')" = 2 ]
check index-fails "the failing index named" said "still fails after 3 tries (E: Failed to fetch http://deb.debian.org/debian-security"
check index-fails "the locale made" [ -f "$FAKE_STATE/ja_JP" ]
check index-fails "the packages still installed" [ "$(calls 'apt-get install .* cmake ')" = 1 ]
check index-fails "wine32 still tried" [ "$(calls 'apt-get install .*wine32:i386')" = 1 ]
check index-fails "wine32's reason in one line" said "setup: Wine's 32-bit side (wine32:i386) cannot be installed now: E: Unable to correct problems, you have held broken packages; wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed (and 1 more unmet dependencies)."

run_setup index-fails-once plain FAKE_UPDATE_FAILURES=1
check index-fails-once "exit 0" [ "$STATUS" = 0 ]
check index-fails-once "tried again once" [ "$(calls 'apt-get update')" = 2 ]
check index-fails-once "one pause" [ "$(calls '^sleep')" = 1 ]
check index-fails-once "no word of giving up" not_said "still fails"

run_setup wine32-broken plain FAKE_WINE32=broken
check wine32-broken "exit 0" [ "$STATUS" = 0 ]
check wine32-broken "one line, and only one, of the set-up's own" [ "$(setup_lines)" = 1 ]
check wine32-broken "apt's reason" said "wine32:i386 : Depends: libwine:i386"
check wine32-broken "what is left out" said "fixpack.exe (i686)"
check wine32-broken "the locale made" [ -f "$FAKE_STATE/ja_JP" ]

run_setup packages-broken plain FAKE_PACKAGES=broken
check packages-broken "apt's status" [ "$STATUS" = 100 ]
check packages-broken "apt's reason" said "setup: the packages cannot be installed: E: Unable to locate package clang-tidy-14"
check packages-broken "the locale made all the same" [ -f "$FAKE_STATE/ja_JP" ]
check packages-broken "wine32 not tried" [ "$(calls 'install .*wine32')" = 0 ]

run_setup no-locales-package no-locale-gen
check no-locales-package "exit 0" [ "$STATUS" = 0 ]
check no-locales-package "locales installed before the locale is made" before 'apt-get install .* locales$' '^locale-gen'
check no-locales-package "the locale made" [ -f "$FAKE_STATE/ja_JP" ]

run_setup ready ready
check ready "exit 0" [ "$STATUS" = 0 ]
check ready "the locale left alone" [ "$(calls '^locale-gen')" = 0 ]
check ready "wine32 left alone" [ "$(calls 'install .*wine32|add-architecture')" = 0 ]
check ready "apt not asked" [ "$(calls 'apt-get')" = 0 ]

# The packages there from an earlier run that could not get wine32, with
# the index still failing: only the update wine32 needs, and its failure.
run_setup wine32-still-missing packages-there FAKE_UPDATE_FAILURES=99 FAKE_WINE32=broken
check wine32-still-missing "exit 0" [ "$STATUS" = 0 ]
check wine32-still-missing "only wine32's update, tried three times" [ "$(calls 'apt-get update')" = 3 ]
check wine32-still-missing "the package list not asked for again" [ "$(calls 'apt-get install .* cmake ')" = 0 ]
check wine32-still-missing "wine32 tried" [ "$(calls 'apt-get install .*wine32:i386')" = 1 ]

if [ "$failures" -gt 0 ]; then echo "setup.sh: $failures check(s) failed"; exit 1; fi
echo "setup.sh: every check held (8 cases)"
