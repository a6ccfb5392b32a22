#!/usr/bin/env bash
# Builds a ready demo of the updater's main job and runs the native updater
# (fixmod, the terminal stand-in of the Windows program) on it.
#
#   bash scripts/demo.sh            build out/demo and run the updater on it
#   bash scripts/demo.sh --prepare  only build out/demo
#
# out/demo/updater/   the updater with two update data files beside it:
#                     upda.dat for 盤燈 青の巻, updc.dat for 盤燈 白の巻
# out/demo/blue/      青の巻's install folder, registered in out/demo/app-paths
# out/demo/white/     白の巻's install folder, not registered: the updater
#                     says so and asks for the path of its BantokiC.exe
#
# The packages rewrite whole files (a readme, a settings file, a new sound
# file), keeping each present file under a second name.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=out/native
demo=$root/out/demo

if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja >/dev/null
fi
cmake --build "$build" -j 2 --target fixmod fixmod_demo_data >/dev/null
make_data=$build/src/app/console/fixmod_demo_data

rm -rf "$demo"
mkdir -p "$demo/updater" "$demo/blue" "$demo/white" "$demo/sources"
cp "$build/src/app/console/fixmod" "$demo/updater/fixmod"

printf '盤燈 青の巻 1.0\n' >"$demo/blue/readme.txt"
printf '[view]\nboard=classic\n' >"$demo/blue/bantoki.ini"
: >"$demo/blue/BantokiA.exe"
printf '盤燈 白の巻 1.0\n' >"$demo/white/readme.txt"
: >"$demo/white/BantokiC.exe"

printf '盤燈 青の巻 1.1\n' >"$demo/sources/blue-readme.txt"
printf '[view]\nboard=classic\nhighlight=on\n' >"$demo/sources/bantoki.ini"
printf 'voice data' >"$demo/sources/voice.dat"
printf '盤燈 白の巻 1.1\n' >"$demo/sources/white-readme.txt"

"$make_data" "$demo/updater/upda.dat" \
  readme.old readme.txt "$demo/sources/blue-readme.txt" \
  bantoki.bak bantoki.ini "$demo/sources/bantoki.ini" \
  voice.old voice.dat "$demo/sources/voice.dat"
"$make_data" "$demo/updater/updc.dat" readme.old readme.txt "$demo/sources/white-readme.txt"
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
for folder in blue white; do
  echo "--- out/demo/$folder:"
  (cd "$demo/$folder" && for f in *; do printf '%-14s %s\n' "$f" "$(head -c 60 "$f" | tr '\n' ' ')"; done)
done
exit "$status"
