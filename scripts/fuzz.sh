#!/usr/bin/env bash
# Runs every fuzz target (or the ones named) for SECONDS each and prints, per
# target, the executions, the coverage reached and the findings.
#
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]
#
# Targets: book_body book_merge divided_book update_package large_sizes.
# Builds them with clang-14 (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer and the integer checks) in out/fuzz, the
# preset fuzz of CMakePresets.json. Each run
# starts from the committed seeds (fuzz/corpus/TARGET) and what earlier runs
# kept (out/fuzz-work/TARGET); an input that crashes, leaks,
# takes more than a second or more than 512 MB lands in
# out/fuzz-findings/TARGET. FUZZ_JOBS=N runs N targets at a time. The
# cpu-s column is the processor time each target had, which is less than
# SECONDS when more targets than cores run at once.
# Exit status: 0 when no target found anything.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(book_body book_merge divided_book update_package large_sizes)
jobs=${FUZZ_JOBS:-1}

mkdir -p out
if [ ! -f out/fuzz/build.ninja ]; then
  cmake --preset fuzz >out/fuzz.configure.log 2>&1 || { cat out/fuzz.configure.log; exit 1; }
fi
cmake --build --preset fuzz -j 2 --target "${targets[@]/%/_fuzzer}"

run_one() {  # target
  local target=$1
  local work=out/fuzz-work/$target findings=out/fuzz-findings/$target
  mkdir -p "$work" "$findings"
  touch "out/fuzz-$target.log.start"
  # The scratch folders of the package target go to /dev/shm and are the
  # target's own; the log keeps libFuzzer's last words.
  # A smaller quarantine keeps the sanitizer's own memory out of the limit.
  # Inputs that once found a fault are run again first.
  local regressions=()
  if [ -d "fuzz/regressions/$target" ]; then regressions=("fuzz/regressions/$target"); fi
  local TIMEFORMAT='%0U %0S'
  { time ASAN_OPTIONS=quarantine_size_mb=64 "out/fuzz/fuzz/${target}_fuzzer" "$work" "fuzz/corpus/$target" "${regressions[@]}" \
    -dict=fuzz/fixpack.dict -max_total_time="$seconds" -timeout=1 -rss_limit_mb=512 \
    -max_len=65536 -print_final_stats=1 -artifact_prefix="$findings/" \
    >"out/fuzz-$target.log" 2>&1 || true; } 2>"out/fuzz-$target.cpu"
}

running=0
for target in "${targets[@]}"; do
  run_one "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then wait -n || true; running=$((running - 1)); fi
done
wait

status=0
printf '%-16s %8s %12s %8s %8s %9s\n' target cpu-s executions cov corpus findings
for target in "${targets[@]}"; do
  log=out/fuzz-$target.log
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  corpus=$(find "out/fuzz-work/$target" -type f | wc -l)
  cpu=$(awk '{ print $1 + $2 }' "out/fuzz-$target.cpu" 2>/dev/null || echo '?')
  found=$(find "out/fuzz-findings/$target" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
    -o -name 'oom-*' -o -name 'slow-unit-*' \) -newer "$log.start" 2>/dev/null | wc -l)
  if grep -q -E '^==[0-9]+==ERROR|^SUMMARY: |fuzz check failed|ERROR: libFuzzer' "$log"; then
    [ "$found" -gt 0 ] || found=1
  fi
  printf '%-16s %8s %12s %8s %8s %9s\n' "$target" "$cpu" "${executions:-?}" "${cov:-?}" "$corpus" "$found"
  if [ "$found" -gt 0 ]; then
    status=1
    grep -E -m 5 'ERROR|SUMMARY|fuzz check failed|Test unit written' "$log" | sed 's/^/    /'
  fi
done
exit $status
