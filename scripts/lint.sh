#!/usr/bin/env bash
# Static analysis of the project's own sources with clang-tidy-14 and the
# checks chosen in .clang-tidy. Reads the compile commands of a native build
# of its own (out/lint; configured only, nothing is compiled), minus the g++
# flags clang does not take. The path-sensitive analyzer (clang-analyzer-*)
# runs over the programs and libraries; the unit tests, whose GoogleTest
# macros make it many times slower, get every other check. Prints every
# warning once and a one-line summary; exit status 1 on any warning or error.
# A file found clean is remembered (out/lint/clean) until it, a header, the
# checks or the compile commands change.
#
#   bash scripts/lint.sh [PATTERN]   only the files whose path matches the
#                                    extended regular expression PATTERN
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${LINT_JOBS:-2}
tidy=${CLANG_TIDY:-clang-tidy-14}
dir=out/lint
only=${1:-.}
command -v "$tidy" >/dev/null || { echo "lint: $tidy not found (scripts/setup.sh installs it)"; exit 1; }

mkdir -p "$dir"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
  -DFIX_TESTS=ON -DFIX_BENCH=ON >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
# clang rejects -fexec-charset=CP932 (it knows only UTF-8); the texts' bytes
# do not matter to the analysis.
mkdir -p "$dir/tidy"
sed 's/ -fexec-charset=[^ "]*//g' "$dir/compile_commands.json" >"$dir/tidy/compile_commands.json"

root=$(pwd)
mapfile -t files < <(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$dir/tidy/compile_commands.json" |
  grep -E "^$root/(src|tools|bench|fuzz|tests)/" | grep -E -- "$only" | sort -u || true)
tests=() programs=()
for file in "${files[@]}"; do
  case "$file" in
    *_test.cpp | */testing/*) tests+=("$file") ;;
    *) programs+=("$file") ;;
  esac
done

# A file found clean is not analysed again while it, every header of the
# project, the checks, clang-tidy and the compile commands stay the same.
cache="$dir/clean"
mkdir -p "$cache"
common=$({ "$tidy" --version; cat .clang-tidy "$dir/tidy/compile_commands.json";
  find src tools bench fuzz tests -name '*.h' -print0 | sort -z | xargs -0 cat; } | sha256sum | cut -c1-64)
export tidy dir cache common
finding_pattern='^[^ ].*:[0-9]+:[0-9]+: (warning|error):|^error: |^Error while processing '
export finding_pattern
tidy_one() {  # extra clang-tidy arguments..., file
  local file=${*: -1} key
  key=$({ echo "$common $*"; cat "$file"; } | sha256sum | cut -c1-64)
  [ -f "$cache/$key" ] && return 0
  local output
  output=$("$tidy" -p "$dir/tidy" --quiet --extra-arg=-Wno-unknown-warning-option "$@" 2>&1) || true
  printf '%s\n' "$output"
  grep -qE "$finding_pattern" <<<"$output" || : >"$cache/$key"
}
export -f tidy_one

log="$dir/tidy.log"
: >"$log"
run() {  # extra clang-tidy arguments, then files on standard input
  xargs -0 -r -n 1 -P "$jobs" bash -c 'tidy_one "$@"' tidy_one "$@" >>"$log" 2>&1 || true
}
start=$(date +%s)
[ ${#programs[@]} -eq 0 ] || printf '%s\0' "${programs[@]}" | run
[ ${#tests[@]} -eq 0 ] || printf '%s\0' "${tests[@]}" | run "--checks=-clang-analyzer-*"

# A header's warning comes once from every file that includes it.
# A file clang cannot take at all shows as "Error while processing".
findings=$(grep -E "$finding_pattern" "$log" |
  sed "s|$root/||" | sort -u || true)
count=0
if [ -n "$findings" ]; then
  count=$(printf '%s\n' "$findings" | wc -l)
  printf '%s\n' "$findings"
fi
echo "clang-tidy: $count finding(s) in ${#files[@]} files ($((${#programs[@]})) with the analyzer), $(( $(date +%s) - start ))s; full output in $log"
[ "$count" -eq 0 ]
