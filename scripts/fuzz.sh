#!/usr/bin/env bash
# Builds every libFuzzer target (quillon_add_fuzzer, cmake/QuillonFuzz.cmake)
# in build/fuzz with clang, AddressSanitizer and UBSan, and runs each for a
# bounded time from its seed corpus. Prints executions and coverage per
# target. Any crash, sanitizer report or mismatch with a target's reference
# fails the run; the reproducer stays in build/fuzz/artifacts/<target>/ and
# replays with: build/fuzz/fuzzers/<target> <reproducer>
#
# Usage: scripts/fuzz.sh [-t seconds] [target...]
#   -t  seconds per target (default: each target's own, SECONDS of
#       quillon_add_fuzzer, 20 unless given; or $QUILLON_FUZZ_SECONDS)
#   target...  only these (default: every registered target)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${QUILLON_FUZZ_SECONDS:-}
if [[ "${1:-}" == "-t" ]]; then
  seconds=$2
  shift 2
fi
wanted=("$@")

build=$root/build/fuzz
mkdir -p "$build"
export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER-ccache}
export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER-ccache}
[[ -n "$(command -v ccache)" ]] || unset CMAKE_CXX_COMPILER_LAUNCHER CMAKE_C_COMPILER_LAUNCHER
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_FUZZ=ON \
  -DQUILLON_BUILD_TESTS=OFF -DQUILLON_BUILD_BENCHMARKS=OFF -DQUILLON_BUILD_SERVICE=OFF \
  > "$build/configure.log" 2>&1 || { cat "$build/configure.log" >&2; exit 1; }
cmake --build "$build" --target quillon_fuzzers -j "$(nproc)"

manifest=$build/fuzzers.txt
if [[ ! -s "$manifest" ]]; then
  echo "fuzz: no targets registered ($manifest is empty)" >&2
  exit 1
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=0:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
symbolizer=$(command -v llvm-symbolizer-14 || command -v llvm-symbolizer || true)
[[ -z "$symbolizer" ]] || export ASAN_SYMBOLIZER_PATH=$symbolizer

failed=()
ran=0
rows=()
total=0
while read -r name program corpus own_seconds; do
  if ((${#wanted[@]})) && [[ " ${wanted[*]} " != *" $name "* ]]; then
    continue
  fi
  ran=$((ran + 1))
  run_seconds=${seconds:-${own_seconds:-20}}
  total=$((total + run_seconds))
  work=$build/corpus/$name         # what the run finds; the seeds stay as they are
  artifacts=$build/artifacts/$name
  log=$build/logs/$name.log
  mkdir -p "$work" "$artifacts" "$(dirname "$log")"
  echo "== fuzz: $name for ${run_seconds}s (seeds: ${corpus#"$root"/})"
  started=$build/logs/.$name.started
  touch "$started"
  set +e
  "$program" -max_total_time="$run_seconds" -print_final_stats=1 -timeout=60 -rss_limit_mb=2048 \
    -artifact_prefix="$artifacts/" "$work" "$corpus" > "$log" 2>&1
  status=$?
  set -e
  execs=$(grep -oE 'stat::number_of_executed_units:[[:space:]]+[0-9]+' "$log" | grep -oE '[0-9]+$' || true)
  rate=$(grep -oE 'stat::average_exec_per_sec:[[:space:]]+[0-9]+' "$log" | grep -oE '[0-9]+$' || true)
  cov=$(grep -oE ' cov: [0-9]+' "$log" | tail -n1 | grep -oE '[0-9]+' || true)
  ft=$(grep -oE ' ft: [0-9]+' "$log" | tail -n1 | grep -oE '[0-9]+' || true)
  units=$(grep -oE ' corp: [0-9]+' "$log" | tail -n1 | grep -oE '[0-9]+' || true)
  result=ok
  if ((status != 0)); then
    result="FAILED ($status)"
    failed+=("$name")
    echo "-- $name: the report in $log"
    grep -B3 -A30 -m1 -E 'MISMATCH:|ERROR:|runtime error:' "$log" || tail -n 40 "$log"
    echo "-- reproducers of this run, kept in $artifacts:"
    reproducers=$(find "$artifacts" -type f -newer "$started" -printf '%f\n')
    echo "${reproducers:-(none: it failed before any input, see the report)}"
  fi
  rows+=("$(printf '%-24s %8s %10s %8s %8s %8s %8s  %s' "$name" "$run_seconds" "${execs:--}" "${rate:--}" "${cov:--}" "${ft:--}" \
    "${units:--}" "$result")")
done < "$manifest"

if ((ran == 0)); then
  echo "fuzz: none of the targets ${wanted[*]} is registered" >&2
  exit 1
fi
echo "== fuzz: ${ran} targets, ${total}s of fuzzing"
printf '%-24s %8s %10s %8s %8s %8s %8s  %s\n' target seconds execs execs/s cov ft corpus result
printf '%s\n' "${rows[@]}"
if ((${#failed[@]})); then
  echo "fuzz: FAILED: ${failed[*]} (reproducers in $build/artifacts)" >&2
  exit 1
fi
