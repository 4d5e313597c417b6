#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for SECONDS (default 600), JOBS at a time
# (default 3), from the seed corpora and a dictionary. Prints executions and findings per
# target; fails when any target found something (this run's inputs are kept under
# fuzz-findings/, the growing corpus under fuzz-corpus/).
# Usage: fuzz.sh [SECONDS] [TARGET...]   (targets by name, e.g. fuzz_engine; default all)
# BUILD_DIR (default build-fuzz) may be a build already configured with TESSEL_FUZZ=ON.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-fuzz}
seconds=${1:-600}
shift || true
parallel=${JOBS:-3}

"$root/scripts/setup.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
  CXX=${CXX:-clang++} cmake -S "$root" -B "$build" -G Ninja -DTESSEL_FUZZ=ON -DTESSEL_BUILD_TESTS=OFF \
    -DTESSEL_BUILD_BENCH=OFF -DTESSEL_BUILD_PYTHON=OFF >/dev/null
elif ! grep -q '^TESSEL_FUZZ:BOOL=ON' "$build/CMakeCache.txt"; then
  echo "$build is not configured with TESSEL_FUZZ=ON" >&2
  exit 2
fi
cmake --build "$build" --target fuzz_all --parallel "$(nproc)"

targets=("$@")
if ((${#targets[@]} == 0)); then
  for bin in "$build"/fuzz/fuzz_*; do [ -x "$bin" ] && targets+=("$(basename "$bin")"); done
fi

seeds=$build/fuzz-seeds
rm -rf "$seeds"
python3 "$root/fuzz/make_seeds.py" "$seeds"

dictionary() {
  case $1 in
    fuzz_engine | fuzz_line | fuzz_scram) echo "$root/fuzz/irc.dict" ;;
    *) echo "$root/fuzz/json.dict" ;;
  esac
}

run() {
  local name=$1
  local corpus=$build/fuzz-corpus/$name findings=$build/fuzz-findings/$name
  rm -rf "$findings"
  mkdir -p "$corpus" "$findings" "$seeds/$name"
  local rc=0
  UBSAN_OPTIONS=print_stacktrace=1 "$build/fuzz/$name" -max_total_time="$seconds" -timeout=25 \
    -print_final_stats=1 -dict="$(dictionary "$name")" -artifact_prefix="$findings/" \
    "$corpus" "$seeds/$name" >"$build/fuzz-logs/$name.log" 2>&1 || rc=$?
  echo "$rc" >"$build/fuzz-logs/$name.rc"
}

rm -rf "$build/fuzz-logs"
mkdir -p "$build/fuzz-logs"
for name in "${targets[@]}"; do
  while (($(jobs -rp | wc -l) >= parallel)); do wait -n || true; done
  run "$name" &
done
wait

passed=0
failed=0
for name in "${targets[@]}"; do
  log=$build/fuzz-logs/$name.log
  rc=$(cat "$build/fuzz-logs/$name.rc")
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  found=$(find "$build/fuzz-findings/$name" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  if ((rc != 0 || found > 0)); then
    failed=$((failed + 1))
    echo "$name: ${executions:-?} executions, FINDING (exit $rc, $found inputs in $build/fuzz-findings/$name)"
    grep -E 'ERROR|check failed|SUMMARY' "$log" | head -5 || true
  else
    passed=$((passed + 1))
    echo "$name: ${executions:-?} executions, no finding"
  fi
done
echo "fuzz: $passed passed, $failed failed"
((failed == 0))
