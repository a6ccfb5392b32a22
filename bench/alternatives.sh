#!/usr/bin/env bash
# The update data file set against what a publisher could ship instead, on
# generated pairs of books (a book and its next release) of 1,000,000
# positions with 1 % and 10 % of them changed, single and divided. For each
# candidate: the size to ship, the time and peak memory to make it from the
# two books, and the time and peak memory to apply it to the old book,
# whose result must be the new book byte for byte.
#
#   update data file    fixpack build of a book entry; fixpack apply
#   whole new book      fixpack build of a file entry carrying the new book
#                       (its bodies zlib-compressed, as the products ship it)
#   xdelta3, book       xdelta3 -e / -d against the old book file
#   bsdiff, book        bsdiff / bspatch of the book files
#   zstd, book          zstd -19 --long=27 --patch-from, of the book files
#   bsdiff, raw         bsdiff of the raw bodies (uncompressed); making it
#                       unpacks both books, applying it unpacks the old
#                       book, patches and packs the new bodies again
#   zstd, raw           the same with zstd -19 --long=27 --patch-from
#
# A divided book's raw bodies are patched as a whole: its 64 raw bodies laid
# end to end, division 0 first.
#
#   bench/alternatives.sh [POSITIONS]      (default 1000000)
#
# Needs bench/setup_alternatives.sh (xdelta3, bsdiff, zstd, GNU time) and
# the benchmark build: cmake --preset bench, then cmake --build --preset
# bench --target alternatives_tool fixpack (FIX_BENCH_BUILD names another
# build folder). Times are wall-clock, one run each; peak memory is the
# largest resident set of the steps (GNU time's %M). Files go to a fresh
# folder under $TMPDIR (or /tmp), removed at the end. Prints a Markdown
# table.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${FIX_BENCH_BUILD:-out/bench}
tool=$PWD/$build/bench/alternatives_tool
fixpack=$PWD/$build/tools/fixpack
positions=${1:-1000000}

for program in xdelta3 bsdiff bspatch zstd /usr/bin/time; do
  command -v "$program" >/dev/null || { echo "no $program: run bench/setup_alternatives.sh" >&2; exit 2; }
done
for program in "$tool" "$fixpack"; do
  [ -x "$program" ] || { echo "no $program: build $build with -DFIX_BENCH=ON" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/alternatives.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# Each step runs under GNU time; a candidate's figures are the sum of its
# steps' times and the largest of their peaks.
seconds=0
peak=0
step() {
  /usr/bin/time -f '%e %M' -o step.time "$@" >step.log 2>&1 || { cat step.log step.time >&2; exit 1; }
  local taken kb
  read -r taken kb <step.time
  seconds=$(awk -v a="$seconds" -v b="$taken" 'BEGIN { printf "%.2f", a + b }')
  [ "$kb" -gt "$peak" ] && peak=$kb
  return 0
}
start() { seconds=0; peak=0; }

# The candidates. Each make_NAME leaves the file to ship in ship.NAME; each
# apply_NAME makes result.dat from old.dat and it, as a user's machine would.
make_datafile() { printf '%s joseki.100 joseki.dat old.dat new.dat\n' "$kind" >manifest; step "$fixpack" build manifest -o ship.datafile; }
apply_datafile() { apply_package ship.datafile; }
make_whole() { printf 'file joseki.100 joseki.dat new.dat\n' >manifest; step "$fixpack" build manifest -o ship.whole; }
apply_whole() { apply_package ship.whole; }
apply_package() {
  rm -rf install && mkdir install && cp old.dat install/joseki.dat
  step "$fixpack" apply "$1" install
  mv install/joseki.dat result.dat
}
make_xdelta3() { step xdelta3 -e -f -s old.dat new.dat ship.xdelta3; }
apply_xdelta3() { step xdelta3 -d -f -s old.dat ship.xdelta3 result.dat; }
make_bsdiff() { step bsdiff old.dat new.dat ship.bsdiff; }
apply_bsdiff() { step bspatch old.dat result.dat ship.bsdiff; }
make_zstd() { step zstd -q -f -19 --long=27 --patch-from=old.dat new.dat -o ship.zstd; }
apply_zstd() { step zstd -q -f -d --long=27 --patch-from=old.dat ship.zstd -o result.dat; }
make_bsdiffraw() {
  step "$tool" unpack old.dat old.raw
  step "$tool" unpack new.dat new.raw
  step bsdiff old.raw new.raw ship.bsdiffraw
}
apply_bsdiffraw() {
  step "$tool" unpack old.dat old.raw
  step bspatch old.raw result.raw ship.bsdiffraw
  step "$tool" repack result.raw "$layout" result.dat
}
make_zstdraw() {
  step "$tool" unpack old.dat old.raw
  step "$tool" unpack new.dat new.raw
  step zstd -q -f -19 --long=27 --patch-from=old.raw new.raw -o ship.zstdraw
}
apply_zstdraw() {
  step "$tool" unpack old.dat old.raw
  step zstd -q -f -d --long=27 --patch-from=old.raw ship.zstdraw -o result.raw
  step "$tool" repack result.raw "$layout" result.dat
}

CANDIDATES=(datafile whole xdelta3 bsdiff zstd bsdiffraw zstdraw)
declare -A TITLE=(
  [datafile]="update data file" [whole]="whole new book" [xdelta3]="xdelta3, book"
  [bsdiff]="bsdiff, book" [zstd]="zstd, book" [bsdiffraw]="bsdiff, raw bodies" [zstdraw]="zstd, raw bodies")

size() { awk -v n="$1" 'BEGIN { if (n < 1e6) printf "%.0f kB", n / 1e3; else printf (n < 1e7 ? "%.2f MB" : "%.1f MB"), n / 1e6 }'; }
mib() { echo "$(( ($1 + 512) / 1024 ))"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf (a / b < 10 ? "%.2f" : "%.0f"), a / b }'; }

echo "Machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores, $(free -g | awk '/^Mem:/ {print $2}') GB;" \
  "load average at the start $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Tools: $(xdelta3 -V 2>&1 | head -1 | cut -d, -f1), bsdiff $(dpkg-query -W -f '${Version}' bsdiff 2>/dev/null)," \
  "$(zstd --version | sed 's/.*\(v[0-9.]*\).*/zstd \1/'), zlib at the default level for every body"
echo
echo "| book | changed | candidate | to ship | × data file | make s | make MiB | apply s | apply MiB |"
echo "| --- | --- | --- | ---: | ---: | ---: | ---: | ---: | ---: |"
for layout in single divided; do
  kind=$([ "$layout" = single ] && echo book || echo divided)
  for percent in 1 10; do
    rm -f ./*.dat ./*.raw ship.*
    "$tool" pair "$positions" "$percent" "$layout" old.dat new.dat
    datafile=0
    for candidate in "${CANDIDATES[@]}"; do
      start
      "make_$candidate"
      made_seconds=$seconds made_peak=$peak
      size=$(stat -c %s "ship.$candidate")
      [ "$candidate" = datafile ] && datafile=$size
      rm -f old.raw new.raw result.raw result.dat
      start
      "apply_$candidate"
      cmp -s result.dat new.dat || { echo "$candidate ($layout, $percent %) does not give the new book" >&2; exit 1; }
      printf '| %s, %s | %s %% | %s | %s | %s | %s | %s | %s | %s |\n' "$layout" "$(size "$(stat -c %s new.dat)")" \
        "$percent" "${TITLE[$candidate]}" "$(size "$size")" "$(ratio "$size" "$datafile")" \
        "$made_seconds" "$(mib "$made_peak")" "$seconds" "$(mib "$peak")"
      rm -f old.raw new.raw result.raw result.dat
    done
  done
done
