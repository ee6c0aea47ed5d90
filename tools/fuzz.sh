#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs one libFuzzer target for a while, or all of them briefly (CI).
#   tools/fuzz.sh TARGET SECONDS   fuzz TARGET (record, midifile, ...) for SECONDS
#   tools/fuzz.sh --all SECONDS    every target, SECONDS each, one line of figures per target;
#                                  as many at once as there are cores (CORVEX_FUZZ_JOBS)
#   tools/fuzz.sh --list           the targets
# Builds the fuzz preset (clang, ASan + UBSan) first. The working corpus grows in
# build-fuzz/corpus/TARGET, seeded from tests/fuzz/corpus/TARGET. An input that fails is copied to
# tests/fuzz/regressions/TARGET/, which the ordinary test suite replays: commit it with the fix.
# Exit status 1 when any target failed.
set -uo pipefail
cd "$(dirname "$0")/.."

targets() { find tests/fuzz -maxdepth 1 -name '*_fuzz.cpp' -printf '%f\n' | sed 's/_fuzz\.cpp$//' | sort; }

usage() {
  echo "usage: tools/fuzz.sh TARGET SECONDS | --all SECONDS | --list" >&2
  echo "targets: $(targets | tr '\n' ' ')" >&2
  exit 2
}

[[ "${1:-}" == "--list" ]] && { targets; exit 0; }
[[ $# -eq 2 ]] || usage
[[ "$2" =~ ^[0-9]+$ && "$2" -gt 0 ]] || usage
seconds=$2
if [[ "$1" == "--all" ]]; then
  mapfile -t run < <(targets)
else
  targets | grep -qx "$1" || usage
  run=("$1")
fi

cmake --preset fuzz >/dev/null || exit 1
nice -n 5 cmake --build --preset fuzz -j2 >/dev/null || { cmake --build --preset fuzz -j1; exit 1; }

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:symbolize=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# What system libraries keep for the life of the process is not a leak of ours (tests/lsan.supp).
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
# One target's run; its report goes to build-fuzz/fuzz-TARGET.result, its status is the exit status.
fuzz_one() {
  local target=$1 corpus=build-fuzz/corpus/$1 artifacts=build-fuzz/artifacts/$1
  local log=build-fuzz/fuzz-$1.log out=build-fuzz/fuzz-$1.result
  mkdir -p "$corpus" "$artifacts"
  # An input running over 10 s or a process over 2 GB fails as surely as a crash.
  nice -n 5 "build-fuzz/fuzz/$target-fuzzer" "$corpus" "tests/fuzz/corpus/$target" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" >"$log" 2>&1
  local result=$?
  local execs rate cov
  execs=$(grep -E '^stat::number_of_executed_units' "$log" | tail -1 | awk '{print $2}')
  rate=$(grep -E '^stat::average_exec_per_sec' "$log" | tail -1 | awk '{print $2}')
  cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1)
  if (( result == 0 )); then
    echo "fuzz $target: ok, ${execs:-0} runs in ${seconds}s (${rate:-0}/s), ${cov:-cov: ?}, corpus $(ls "$corpus" | wc -l)" >"$out"
    return 0
  fi
  {
    echo "fuzz $target: FAILED after ${execs:-0} runs (log: $log)"
    mkdir -p "tests/fuzz/regressions/$target"
    for f in "$artifacts"/*; do
      [[ -f "$f" ]] || continue
      cp "$f" "tests/fuzz/regressions/$target/"
      echo "  the input is kept as tests/fuzz/regressions/$target/$(basename "$f")"
    done
    grep -E 'ERROR|runtime error|fuzz property|SUMMARY|^    #[0-9]+ .* in ' "$log" | head -20
  } >"$out"
  return 1
}

# Each fuzzer runs on one core: as many side by side as there are cores (CORVEX_FUZZ_JOBS says
# otherwise), each for its full time, the reports in the targets' order.
parallel=${CORVEX_FUZZ_JOBS:-$(nproc)}
status=0
pids=()
for target in "${run[@]}"; do
  rm -f "build-fuzz/fuzz-$target.result"
  while (( $(jobs -rp | wc -l) >= parallel )); do wait -n; done
  fuzz_one "$target" &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
for target in "${run[@]}"; do cat "build-fuzz/fuzz-$target.result"; done
exit $status
