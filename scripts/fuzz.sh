#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each one for a bounded time.
#
#   scripts/fuzz.sh                   every target, 20 s each
#   scripts/fuzz.sh 3600 device_answers sync_instructions
#                                     the named targets, an hour each
#   FUZZ_JOBS=2 scripts/fuzz.sh 600   two targets at a time
#
# Each target starts from its seeds (fuzz/corpus/<name>, never written to)
# and from what earlier runs found (<build>/fuzz-corpus/<name>, kept between
# runs). A crash, leak, time-out (over 10 s for one input) or memory blow-up
# (over 2 GB) is a finding: the input is written to
# <build>/fuzz-findings/<name>-*, and the script fails. Reproduce one with
# `<build>/bin/fuzz_<name> <file>`; once fixed, copy the file into
# fuzz/corpus/<name>/ as its regression seed.
#
# FUZZ_BUILD_DIR (default build-fuzz) is the build folder; one configured
# by scripts/check.sh (VORTA_FUZZ on) is reused as it is.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-20}
shift || true
BUILD=${FUZZ_BUILD_DIR:-build-fuzz}
JOBS=${FUZZ_JOBS:-1}

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  launcher=()
  if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); fi
  cmake -S . -B "$BUILD" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVORTA_FUZZ=ON -DBUILD_TESTING=OFF -DVORTA_BENCH=OFF "${launcher[@]}" >/dev/null
fi
cmake --build "$BUILD" --target vorta_fuzz -j"$(nproc)" >/dev/null

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for f in fuzz/*_fuzz.cpp; do n=$(basename "$f" _fuzz.cpp); targets+=("$n"); done
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$BUILD/fuzz-findings" "$BUILD/fuzz-logs"

run_one() {
  local name=$1 work="$BUILD/fuzz-corpus/$1"
  mkdir -p "$work"
  rm -f "$BUILD/fuzz-findings/$name-"*
  "$BUILD/bin/fuzz_$name" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
    -dict=fuzz/json.dict -print_final_stats=1 -artifact_prefix="$BUILD/fuzz-findings/$name-" \
    "$work" "fuzz/corpus/$name" >"$BUILD/fuzz-logs/$name.log" 2>&1
}
export -f run_one
export BUILD SECONDS_EACH

failed=0
printf '%s\n' "${targets[@]}" | xargs -P "$JOBS" -I{} bash -c 'run_one {} || true'
printf '%-20s %12s %8s %9s  %s\n' target executions "exec/s" corpus findings
for name in "${targets[@]}"; do
  log="$BUILD/fuzz-logs/$name.log"
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  corpus=$(find "$BUILD/fuzz-corpus/$name" -type f | wc -l)
  findings=$(find "$BUILD/fuzz-findings" -name "$name-*" -type f | wc -l)
  note=$findings
  if [ "$findings" != 0 ] || ! grep -q '^Done ' "$log"; then
    failed=1
    note="$findings (see $log)"
  fi
  printf '%-20s %12s %8s %9s  %s\n' "$name" "${execs:-?}" "${speed:-?}" "$corpus" "$note"
done
exit $failed
