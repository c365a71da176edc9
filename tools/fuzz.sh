#!/usr/bin/env bash
# Builds the libFuzzer harnesses of tests/fuzz with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for as long as asked.
#   tools/fuzz.sh [seconds per harness, default 60] [harness ...]
# Harnesses: wav options surface reconstruct set slot (default: all, one
# after the other). Each grows its own corpus in $FUZZ_BUILD/corpus/<harness>,
# seeded from tests/fuzz/corpus/<harness> (and mutated with the words of
# tests/fuzz/<harness>.dict where there is one); inputs that crash, leak or
# take longer than 10 s land in $FUZZ_BUILD/findings/<harness>/. The exit
# status is 1 when anything was found.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-60}
[ $# -gt 0 ] && shift
harnesses=("$@")
[ ${#harnesses[@]} -eq 0 ] && harnesses=(wav options surface reconstruct set slot)
build=${FUZZ_BUILD:-$root/build-fuzz}

cmake -S tests/fuzz -B "$build" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target "${harnesses[@]/%/_fuzz}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/fuzz/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for h in "${harnesses[@]}"; do
  corpus=$build/corpus/$h findings=$build/findings/$h
  mkdir -p "$corpus" "$findings"
  cp -n tests/fuzz/corpus/$h/* "$corpus"/ 2>/dev/null || true
  log=$build/$h.log
  dict=()
  [ -f tests/fuzz/$h.dict ] && dict=(-dict="$root/tests/fuzz/$h.dict")
  echo "== $h: ${seconds}s"
  # Standard output and error of the readers are closed (-close_fd_mask=3);
  # the fuzzer's and the sanitizers' own reports still come through.
  if "$build/${h}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -close_fd_mask=3 \
      -print_final_stats=1 -artifact_prefix="$findings/" "${dict[@]}" "$corpus" >"$log" 2>&1; then
    result=ok
  else
    result="FOUND (see $log and $findings)"
    status=1
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 || true)
  echo "   $h: $runs executions, $cov, corpus $(ls "$corpus" | wc -l) files: $result"
done
exit $status
