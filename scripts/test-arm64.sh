#!/usr/bin/env bash
# Proves the arm64 build under emulation (qemu-aarch64), before a release; the
# test command does not run it (it takes several minutes). It
#  1. cross-builds the arm64 package (scripts/package-arm64.sh), and the unit
#     tests of the plain rooms in build-arm64-tests, then runs them;
#  2. decodes data/sample_pass.kss and a generated 100 000-frame log with the
#     arm64 tavrik-decode and the amd64 one (csv, json, hex, csv with limits):
#     the outputs must be byte-identical;
#  3. imports both logs into an archive with the arm64 tavrik-archive and with
#     the amd64 one and exports them (csv, json, influx): identical again, and
#     each build reads the other's archive file to the same export;
#  4. starts the arm64 program on a new station folder (in a network namespace
#     of its own, so the default ports are free) fed by the arm64 agw-replay,
#     checks the settings and KISS log it writes, and ends it with SIGTERM.
# Every comparison is checked to be able to fail: one changed byte in a copy of
# the arm64 output must be reported.
#
#   bash scripts/test-arm64.sh          (as root: it installs what is missing)
#   TAVRIK_ARM64_CHANGE_BYTE=1 bash scripts/test-arm64.sh   changes one byte of an
#                                       arm64 output first: the script must fail
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
jobs=${TAVRIK_JOBS:-2}
qemu=qemu-aarch64-static

# The package of this tree (an up-to-date build-arm64 costs only the packing).
scripts/package-arm64.sh
command -v "$qemu" >/dev/null || { echo "test-arm64: $qemu missing (scripts/package-arm64.sh installs it)" >&2; exit 1; }

echo "== arm64 unit tests of the plain rooms (build-arm64-tests)"
cmake -S . -B build-arm64-tests -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/aarch64-linux-gnu.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTAVRIK_TESTS=ON >/dev/null
cmake --build build-arm64-tests -j "$jobs" --target core_tests archive_tests sky_tests radio_tests
file -b build-arm64-tests/bin/core_tests | cut -d, -f1-2
export TAVRIK_SOURCE_DIR=$top TAVRIK_BIN_DIR=$top/build-arm64/bin QT_QPA_PLATFORM=offscreen
"$qemu" build-arm64-tests/bin/core_tests --gtest_brief=1
# The full-disk case needs a tmpfs of its own (the test command runs it in a mount namespace).
# Left out: the full disk (a mount namespace), and a test that starts the
# tavrik-archive program itself (an arm64 program the shell cannot start
# here; the comparisons below run the tool under emulation).
"$qemu" build-arm64-tests/bin/archive_tests --gtest_brief=1 \
  --gtest_filter=-FullDisk.*:ArchiveLevels.ARedValueMakesItsHourPassAndBucketRedInTheApiAndTheTool
"$qemu" build-arm64-tests/bin/sky_tests --gtest_brief=1
"$qemu" build-arm64-tests/bin/radio_tests --gtest_brief=1

echo "== the amd64 tools to compare with (build)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIK_TESTS=OFF >/dev/null
cmake --build build -j "$jobs" --target tavrik-decode tavrik-archive tavrik-decoder tavrik-sky
amd=$top/build/bin
arm=$top/build-arm64/bin

work=$(mktemp -d /tmp/tavrik-arm64.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
# same WHAT AMD64_FILE ARM64_FILE: byte-identical, or the first difference shown.
same() {
  if cmp -s "$2" "$3"; then
    printf '  identical  %-44s %10d bytes  %s\n' "$1" "$(stat -c %s "$2")" "$(sha256sum <"$2" | cut -c1-16)"
  else
    printf '  DIFFERENT  %-44s %s\n' "$1" "$(cmp "$2" "$3" 2>&1 | head -n 1)"
    failures=$((failures + 1))
  fi
}
# The comparison itself must see a change: one byte in the middle of a copy.
proves_a_change_is_caught() {
  cp "$1" "$work/changed"
  local at=$(($(stat -c %s "$1") / 2))
  printf 'X' | dd of="$work/changed" bs=1 seek="$at" conv=notrunc status=none
  if cmp -s "$1" "$work/changed" && [ "$(dd if="$1" bs=1 skip="$at" count=1 status=none)" != X ]; then
    echo "test-arm64: the comparison did not see a changed byte" >&2
    exit 1
  fi
}

python3 tools/make-sample/make_frames.py 100000 --output "$work/frames.kss"
cp data/sample_pass.kss "$work/sample_pass.kss"
cd "$work"

echo "== tavrik-decode: arm64 under emulation against amd64"
for input in sample_pass.kss frames.kss; do
  for format in csv json hex; do
    "$amd/tavrik-decode" --all --format "$format" "$input" >"amd64.$input.$format" || true
    "$qemu" "$arm/tavrik-decode" --all --format "$format" "$input" >"arm64.$input.$format" || true
    if [ -n "${TAVRIK_ARM64_CHANGE_BYTE:-}" ] && [ "$input.$format" = frames.kss.csv ]; then
      # Shows the comparison failing: one digit of the arm64 output changed.
      printf '9' | dd of="arm64.$input.$format" bs=1 seek=123457 conv=notrunc status=none
    fi
    same "tavrik-decode --all --format $format $input" "amd64.$input.$format" "arm64.$input.$format"
  done
  "$amd/tavrik-decode" --all --limits "$top/data/limits.example.conf" "$input" >"amd64.$input.limits" || true
  "$qemu" "$arm/tavrik-decode" --all --limits "$top/data/limits.example.conf" "$input" >"arm64.$input.limits" || true
  same "tavrik-decode --all --limits ... $input" "amd64.$input.limits" "arm64.$input.limits"
done
proves_a_change_is_caught arm64.frames.kss.csv
start=$(date +%s.%N)
"$qemu" "$arm/tavrik-decode" frames.kss >/dev/null || true
end=$(date +%s.%N)
telemetry=$(($(wc -l <amd64.frames.kss.csv) - 1))
echo "  (arm64 tavrik-decode under qemu: $(python3 -c "print(round($telemetry / ($end - $start)))") rows/s of csv, a sanity figure only)"

echo "== tavrik-archive import, then export: arm64 under emulation against amd64"
"$amd/tavrik-archive" import amd64.sqlite sample_pass.kss frames.kss >/dev/null 2>&1 || true
"$qemu" "$arm/tavrik-archive" import arm64.sqlite sample_pass.kss frames.kss >/dev/null 2>&1 || true
for format in csv json influx; do
  "$amd/tavrik-archive" export amd64.sqlite --format "$format" >"amd64.export.$format"
  "$qemu" "$arm/tavrik-archive" export arm64.sqlite --format "$format" >"arm64.export.$format"
  same "tavrik-archive export --format $format" "amd64.export.$format" "arm64.export.$format"
done
# Each reads the other's file alike: the archive file moves between machines.
"$qemu" "$arm/tavrik-archive" export amd64.sqlite --format csv >arm64-reads-amd64.csv
"$amd/tavrik-archive" export arm64.sqlite --format csv >amd64-reads-arm64.csv
same "arm64 export of the amd64 archive" amd64.export.csv arm64-reads-amd64.csv
same "amd64 export of the arm64 archive" amd64.export.csv amd64-reads-arm64.csv
proves_a_change_is_caught arm64.export.csv
rows=$(($(wc -l <amd64.export.csv) - 1))
echo "  ($rows frames in each archive)"

echo "== tavrik-sky: arm64 under emulation against amd64 (the orbit model's floating point)"
printf '%s\n' "TAVRIK TEST" \
  "1 99999U 26001A   26344.15065039  .00000000  00000-0  00000-0 0  9992" \
  "2 99999  97.6000 176.7946 0001000   0.0000  49.0772 15.20000000    18" >sat.tle
sky_args=(--tle sat.tle --lat 48.5 --lon 35 --alt 120)
for what in "passes --from 2026-12-01 --days 7 --format csv" \
  "at --time 2026-12-10T03:36:54.500Z --downlink-hz 435000000 --format json"; do
  read -ra words <<<"$what"
  "$amd/tavrik-sky" "${words[0]}" "${sky_args[@]}" "${words[@]:1}" >"amd64.sky.${words[0]}"
  "$qemu" "$arm/tavrik-sky" "${words[0]}" "${sky_args[@]}" "${words[@]:1}" >"arm64.sky.${words[0]}"
  same "tavrik-sky ${words[0]}" "amd64.sky.${words[0]}" "arm64.sky.${words[0]}"
done
proves_a_change_is_caught arm64.sky.passes

echo "== the arm64 program under emulation: a new station folder, fed by agw-replay, ended by SIGTERM"
mode=(-platform offscreen)
if "$qemu" "$arm/tavrik-decoder" --help 2>/dev/null | grep -q -- '--headless'; then mode=(--headless); fi
sample_frames=$(grep -c . amd64.sample_pass.kss.hex)
station=$work/station
# In a network namespace of its own: the default configuration's ports
# (AGW 8000, web 8080) are this run's alone.
unshare --net bash -s "$qemu" "$arm" "$amd" "$station" "$sample_frames" "${mode[@]}" <<'RUN' >program.out 2>program.log
set -u
qemu=$1 arm=$2 amd=$3 station=$4 frames=$5
shift 5
ip link set lo up
"$qemu" "$arm/agw-replay" --port 8000 --interval-ms 100 sample_pass.kss >replay.log 2>&1 &
replay=$!
"$qemu" "$arm/tavrik-decoder" --station "$station" "$@" &
program=$!
# Until every frame of the pass is in the KISS log (at most 3 minutes).
for _ in $(seq 360); do
  log=$(ls "$station"/*.kss 2>/dev/null | head -n 1)
  if [ -n "$log" ] && [ "$("$amd/tavrik-decode" --all --format hex "$log" 2>/dev/null | wc -l)" -ge "$frames" ]; then
    break
  fi
  kill -0 "$program" 2>/dev/null || break
  sleep 0.5
done
kill -TERM "$program"
for _ in $(seq 120); do kill -0 "$program" 2>/dev/null || break; sleep 0.5; done
wait "$program"
echo "exit status $?"
kill "$replay" 2>/dev/null
wait "$replay" 2>/dev/null
exit 0
RUN
status=$(grep -o 'exit status [0-9]*' program.out || echo "exit status (none: still running)")
echo "  program: $status"
# The start, and the end after SIGTERM (the upload bodies in between left out).
grep -v 'noradID=' program.log | sed 's/^/  log: /' | head -n 16
echo "  log: ... $(grep -c 'noradID=' program.log) upload bodies ..."
grep -v 'noradID=' program.log | sed 's/^/  log: /' | tail -n +17 | tail -n 8
if [ "$status" != "exit status 0" ]; then
  echo "  DIFFERENT  the program did not end cleanly on SIGTERM"
  failures=$((failures + 1))
fi
"$amd/tavrik-decoder" --default-config >default.ini
same "online_conf.ini written by the arm64 program" default.ini "$station/online_conf.ini"
log=$(ls "$station"/*.kss | head -n 1)
"$amd/tavrik-decode" --all --format hex "$log" >station.hex || true
head -n "$sample_frames" amd64.sample_pass.kss.hex >sent.hex
same "frames in its KISS log ($(basename "$log"))" sent.hex station.hex

if ((failures)); then
  echo "test-arm64: $failures comparison(s) failed" >&2
  exit 1
fi
echo "test-arm64: every arm64 result equals the amd64 one"
