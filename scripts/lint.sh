#!/usr/bin/env bash
# Static analysis of the project's own sources with clang-tidy-14 and the
# checks chosen in .clang-tidy: the build of the preset lint (out/lint,
# clang-14) runs clang-tidy beside every compile. The path-sensitive analyzer
# (clang-analyzer-*) runs over the programs, libraries and harnesses; the
# unit tests, whose GoogleTest macros make it many times slower, get every
# other check (CMakeLists.txt chooses by target); clang's own warnings
# (-Wall -Wextra) count as findings too. A finding fails its file's compile,
# so that file is analysed again on the next run; a file found clean is not,
# until it, a header it includes, its command or the checks change.
# Prints every finding once and a one-line summary; exit status 1 on any
# finding or when the build fails otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${LINT_JOBS:-2}
dir=out/lint
command -v clang-tidy-14 >/dev/null || { echo "lint: clang-tidy-14 not found (scripts/setup.sh installs it)"; exit 1; }

mkdir -p out
cmake --preset lint >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
log=$dir/tidy.log
start=$(date +%s)
status=0
cmake --build --preset lint -j "$jobs" -- -k 0 >"$log" 2>&1 || status=$?

# A header's finding comes once from every file that includes it. Findings
# are errors, so that their file is not built; they are shown as the
# warnings they are. A file clang cannot take at all shows as "Error while
# processing".
root=$(pwd)
findings=$(grep -E '^[^ ].*:[0-9]+:[0-9]+: (warning|error):|^error: |^Error while processing ' "$log" |
  sed -e "s|$root/||" -e 's/: error: \(.*\),-warnings-as-errors\]$/: warning: \1]/' | sort -u || true)
count=0
if [ -n "$findings" ]; then
  count=$(printf '%s\n' "$findings" | wc -l)
  printf '%s\n' "$findings"
fi
# Every compile of the lint build runs clang-tidy; the tests' leave the
# analyzer out.
commands=$(ninja -C "$dir" -t commands | sed -n 's/.*__run_co_compile\( --launcher=[^ ]*\)\? --tidy="\([^"]*\)" --source=\([^ ]*\) .*/\3 \2/p' | sort -u)
files=$(cut -d' ' -f1 <<<"$commands" | sort -u | wc -l)
analysed=$(grep -v -- '-clang-analyzer-\*' <<<"$commands" | cut -d' ' -f1 | sort -u | wc -l)
echo "clang-tidy: $count finding(s) in $files files ($analysed with the analyzer), $(($(date +%s) - start))s; full output in $log"
if [ "$status" -ne 0 ] && [ "$count" -eq 0 ]; then
  echo "lint: the build failed without a finding; see $log"
fi
[ "$count" -eq 0 ] && [ "$status" -eq 0 ]
