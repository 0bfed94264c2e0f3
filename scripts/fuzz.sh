#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/, clang with ASan and UBSan) in
# build-fuzz and runs each for a while on a working copy of its seed corpus.
# Exits non-zero when a target finds a crash, a sanitizer report, a leak or a
# hang, and says where the reproducer is.
#
# Usage: scripts/fuzz.sh [--seconds N] [target...]
#   N defaults to 60; the targets default to all of them.
# Reproduce a finding: build-fuzz/<target> <reproducer>
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

all_targets=(fuzz_agw_splitter fuzz_kiss_reader fuzz_station_config fuzz_decoder fuzz_import fuzz_limits fuzz_tle)
seconds=60
targets=()
while (($#)); do
  case "$1" in
    --seconds)
      [[ $# -ge 2 && "$2" =~ ^[0-9]+$ && "$2" -gt 0 ]] || { echo "--seconds needs a whole number above 0" >&2; exit 2; }
      seconds=$2
      shift 2
      ;;
    --seconds=*)
      seconds=${1#--seconds=}
      [[ "$seconds" =~ ^[0-9]+$ && "$seconds" -gt 0 ]] || { echo "--seconds needs a whole number above 0" >&2; exit 2; }
      shift
      ;;
    -h | --help)
      sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
      exit 0
      ;;
    -*)
      echo "unknown option: $1" >&2
      exit 2
      ;;
    *)
      [[ " ${all_targets[*]} " == *" $1 "* ]] || { echo "no such target: $1 (targets: ${all_targets[*]})" >&2; exit 2; }
      targets+=("$1")
      shift
      ;;
  esac
done
((${#targets[@]})) || targets=("${all_targets[@]}")

scripts/install-deps.sh

build=$top/build-fuzz
mkdir -p "$build"
# One run at a time in this build folder (the test command may start one too).
exec 9>"$build/.fuzz.lock"
flock 9

CC=clang CXX=clang++ cmake -S fuzz -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target "${targets[@]}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

declare -A dict=(
  [fuzz_agw_splitter]=agw.dict
  [fuzz_kiss_reader]=kiss.dict
  [fuzz_station_config]=station_config.dict
  [fuzz_decoder]=decoder.dict
  [fuzz_import]=kiss.dict
  [fuzz_limits]=limits.dict
  [fuzz_tle]=tle.dict
)

failed=()
for t in "${targets[@]}"; do
  work=$build/corpus-work/$t
  artifacts=$build/artifacts/$t
  rundir=$build/run/$t
  mkdir -p "$work" "$artifacts" "$rundir"
  # The committed seeds join the working corpus; libFuzzer adds to the copy only.
  cp -n fuzz/corpus/"$t"/* "$work"/ 2>/dev/null || true
  touch "$rundir/start"
  echo "== $t: ${seconds} s, corpus $(find "$work" -type f | wc -l) inputs"
  rc=0
  # -jobs=1 runs the fuzzer in a child that writes fuzz-0.log in the current folder.
  rm -f "$rundir"/fuzz-*.log
  (cd "$rundir" && "$build/$t" -max_total_time="$seconds" -jobs=1 -rss_limit_mb=2048 -timeout=10 \
    -dict="$top/fuzz/dict/${dict[$t]}" -artifact_prefix="$artifacts/" -print_final_stats=1 \
    "$work" >"$rundir/parent.log" 2>&1) || rc=$?
  log=$rundir/fuzz-0.log
  [[ -f "$log" ]] || log=$rundir/parent.log
  mapfile -t found < <(find "$artifacts" -type f ! -name 'slow-unit-*' -newer "$rundir/start")
  stats=$(grep -E '^stat::(number_of_executed_units|new_units_added|peak_rss_mb)' "$log" |
    sed 's/^stat:://; s/: */=/' | tr '\n' ' ' || true)
  cov=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+/[0-9]+[a-zA-Z]*' "$log" | tail -1 || true)
  if ((rc != 0 || ${#found[@]} > 0)); then
    echo "!! $t failed (exit $rc). Log: $log"
    grep -E 'ERROR: |runtime error: |invariant broken|SUMMARY: ' "$log" | head -20 || true
    for f in "${found[@]}"; do
      echo "   reproducer: $f"
      echo "   run it:     $build/$t $f"
    done
    failed+=("$t")
  else
    echo "   ok: $cov $stats"
  fi
done

if ((${#failed[@]})); then
  echo "fuzzing found problems in: ${failed[*]}"
  exit 1
fi
echo "fuzzing: no findings in ${targets[*]} (${seconds} s each)"
