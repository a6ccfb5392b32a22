#!/usr/bin/env bash
# Builds a ready demo of the updater's main job and runs the native updater
# (fixmod, the terminal stand-in of the Windows program) on it.
#
#   bash scripts/demo.sh            build out/demo and run the updater on it
#   bash scripts/demo.sh --prepare  only build out/demo
#
# out/demo/updater/   the updater with two update data files beside it:
#                     upda.dat for 盤燈 青の巻, updc.dat for 盤燈 白の巻
# out/demo/blue/      青の巻's install folder, registered in out/demo/app-paths:
#                     the single book joseki.dat and readme.txt
# out/demo/white/     白の巻's install folder, not registered: the updater
#                     says so and asks for the path of its BantokiC.exe;
#                     the divided book jskdiv.dat
# out/demo/sources/   the books' texts, the books made from them with
#                     `fixpack pack`, and the manifests `fixpack build` made
#                     the data files from
#
# upda.dat merges into joseki.dat the diff to its next release and writes
# readme.txt afresh; updc.dat merges the diff into jskdiv.dat. The updater
# keeps each present file under a second name (joseki.bak, readme.old,
# jskdiv.bak).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=out/native
demo=$root/out/demo

if [ ! -f "$build/build.ninja" ]; then
  cmake --preset native >/dev/null
fi
cmake --build --preset native -j 2 --target fixmod fixpack >/dev/null
fixpack=$root/$build/tools/fixpack

rm -rf "$demo"
mkdir -p "$demo/updater" "$demo/blue" "$demo/white" "$demo/sources"
cp "$build/src/app/console/fixmod" "$demo/updater/fixmod"

# The books: a few dozen positions each; the next release overwrites, deletes
# and puts moves, drops positions and adds new ones.
sources=$demo/sources
awk -v seed=1 -v positions=36 -v buckets=61 -v old="$sources/joseki-old.txt" -v new="$sources/joseki-new.txt" \
  -f scripts/demo_book_texts.awk
awk -v seed=2 -v positions=48 -v buckets=7 -v old="$sources/jskdiv-old.txt" -v new="$sources/jskdiv-new.txt" \
  -f scripts/demo_book_texts.awk
for release in old new; do
  "$fixpack" pack "$sources/joseki-$release.txt" -o "$sources/joseki-$release.dat" >/dev/null
  "$fixpack" pack --divided "$sources/jskdiv-$release.txt" -o "$sources/jskdiv-$release.dat" >/dev/null
done
printf '盤燈 青の巻 1.1\r\n定跡を更新しました。\r\n' >"$sources/readme.txt"
cat >"$sources/upda.txt" <<'EOF'
book  joseki.bak joseki.dat joseki-old.dat joseki-new.dat
file  readme.old readme.txt readme.txt
EOF
cat >"$sources/updc.txt" <<'EOF'
divided jskdiv.bak jskdiv.dat jskdiv-old.dat jskdiv-new.dat
EOF
"$fixpack" build "$sources/upda.txt" -o "$demo/updater/upda.dat" >/dev/null
"$fixpack" build "$sources/updc.txt" -o "$demo/updater/updc.dat" >/dev/null

cp "$sources/joseki-old.dat" "$demo/blue/joseki.dat"
printf '盤燈 青の巻 1.0\r\n' >"$demo/blue/readme.txt"
: >"$demo/blue/BantokiA.exe"
cp "$sources/jskdiv-old.dat" "$demo/white/jskdiv.dat"
: >"$demo/white/BantokiC.exe"
printf '# App Paths of the demo: NAME=FOLDER\nBantokiA.exe=%s\n' "$demo/blue" >"$demo/app-paths"

echo "demo ready in out/demo"
if [ "${1:-}" = "--prepare" ]; then exit 0; fi

cat <<EOF
Keys: Enter = OK, Esc or c = Cancel, Ctrl-C = close the window, Ctrl-D = end of input.
When the updater asks for 盤燈 白の巻, type: $demo/white/BantokiC.exe
EOF
read -r -p "Press Enter to start the updater. " _ || true
status=0
FIX_APP_PATHS="$demo/app-paths" "$demo/updater/fixmod" || status=$?
echo "fixmod ended with exit code $status"

# What the run left: each book checked and compared with its release.
book_state() {  # book old-release new-release
  local verdict
  if "$fixpack" verify "$1" >/dev/null 2>&1; then verdict=sound; else verdict="NOT SOUND"; fi
  if cmp -s "$1" "$3"; then echo "$verdict, the new release"
  elif cmp -s "$1" "$2"; then echo "$verdict, the old release"
  else echo "$verdict, neither release"; fi
}
echo "--- out/demo/blue:"
for f in joseki.dat joseki.bak; do
  if [ -e "$demo/blue/$f" ]; then
    printf '%-12s %s\n' "$f" "$(book_state "$demo/blue/$f" "$sources/joseki-old.dat" "$sources/joseki-new.dat")"
  fi
done
for f in readme.txt readme.old; do
  if [ -e "$demo/blue/$f" ]; then printf '%-12s %s\n' "$f" "$(tr -d '\r' <"$demo/blue/$f" | head -n 1)"; fi
done
echo "--- out/demo/white:"
for f in jskdiv.dat jskdiv.bak; do
  if [ -e "$demo/white/$f" ]; then
    printf '%-12s %s\n' "$f" "$(book_state "$demo/white/$f" "$sources/jskdiv-old.dat" "$sources/jskdiv-new.dat")"
  fi
done
exit "$status"
