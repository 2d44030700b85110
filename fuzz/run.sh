#!/bin/bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehavior-
# Sanitizer) in a build directory of their own and runs each one from its seed corpus.
#
#   fuzz/run.sh                      every target for 10 s (the short pass CI runs)
#   fuzz/run.sh --seconds 60         every target for 60 s
#   fuzz/run.sh --runs 1000000       every target for a million executions (the long run)
#   fuzz/run.sh --runs 1000000 text  only the named targets (loader settings text script
#                                    main_loop convert align ts web_request)
#   fuzz/run.sh --build-only
#
# Environment: FUZZ_BUILD_DIR (default build-fuzz in the repository), FUZZ_JOBS
# (parallel compile jobs, default 2), FUZZ_NICE (nice level of the runs, default 0).
# Inputs that find something new go to $FUZZ_BUILD_DIR/corpus/<target>; the seed
# corpora in fuzz/corpus/<target> are only read. A crash, leak, sanitizer report,
# failed check or hang leaves its input in $FUZZ_BUILD_DIR/artifacts/ and makes the
# script exit non-zero; replay it with: $FUZZ_BUILD_DIR/fuzz_<target> <file>.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${FUZZ_BUILD_DIR:-$ROOT/build-fuzz}"
JOBS="${FUZZ_JOBS:-2}"
NICE="${FUZZ_NICE:-0}"
ALL_TARGETS=(loader settings text script main_loop convert align ts web_request)

seconds=10
runs=""
build_only=0
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --build-only) build_only=1; shift ;;
    -h|--help) sed -n '2,18p' "$0"; exit 0 ;;
    *) targets+=("$1"); shift ;;
  esac
done
[ ${#targets[@]} -eq 0 ] && targets=("${ALL_TARGETS[@]}")

# Longest input per target: whole files for the loader and the scripts, one record
# and a little for the settings, a string with its parameters, a key sequence, some
# eighty packets of a recording, a request with a small upload.
max_len() {
  case "$1" in
    loader) echo 16384 ;;
    settings) echo 64 ;;
    text) echo 600 ;;
    script) echo 4096 ;;
    main_loop) echo 48 ;;
    convert) echo 16384 ;;
    align) echo 4096 ;;
    ts) echo 16384 ;;
    web_request) echo 8192 ;;
  esac
}

echo "== building the fuzz targets in $BUILD"
cmake -S "$ROOT/fuzz" -B "$BUILD" -G Ninja -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$BUILD" -j "$JOBS" -- $(printf 'fuzz_%s ' "${targets[@]}")
[ "$build_only" -eq 1 ] && exit 0

mkdir -p "$BUILD/artifacts"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:symbolize=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

failed=()
summary=()
for t in "${targets[@]}"; do
  seeds="$ROOT/fuzz/corpus/$t"
  work="$BUILD/corpus/$t"
  mkdir -p "$work"
  args=(-artifact_prefix="$BUILD/artifacts/$t-" -timeout=60 -rss_limit_mb=4096
        -max_len="$(max_len "$t")" -print_final_stats=1)
  [ -f "$ROOT/fuzz/$t.dict" ] && args+=(-dict="$ROOT/fuzz/$t.dict")
  if [ -n "$runs" ]; then
    args+=(-runs="$runs")
  else
    args+=(-max_total_time="$seconds")
  fi
  log="$BUILD/$t.log"
  echo "== fuzz_$t ${args[*]: -1}"
  status=0
  nice -n "$NICE" "$BUILD/fuzz_$t" "${args[@]}" "$work" "$seeds" >"$log" 2>&1 || status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  secs=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1 || true)
  if [ "$status" -ne 0 ]; then
    failed+=("$t")
    echo "!! fuzz_$t failed (status $status); the end of $log:"
    tail -40 "$log"
  fi
  summary+=("$(printf '%-10s %10s executions in %5s s  %s  status %s' \
    "$t" "${execs:-?}" "${secs:-?}" "$cov" "$status")")
done

echo "== summary"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found problems in: ${failed[*]} (inputs in $BUILD/artifacts/)"
fi
echo "fuzz: $(( ${#targets[@]} - ${#failed[@]} )) passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]
