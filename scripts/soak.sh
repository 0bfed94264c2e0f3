#!/usr/bin/env bash
# The soak and the fault runs of the whole program, with figures.
#   scripts/soak.sh [--frames N] [--fault-frames N] [--kill-frames N]
# Builds soak_tests and agw-replay optimised (with debug info) in build-soak,
# runs the soak (N frames, default 50000, at full speed, uploads to two local
# servers), the modem and server faults and the full disk (a 256 KiB tmpfs in
# a mount namespace of its own: needs root), and the unattended station: the
# real program with AGW_RECONNECT=YES and UPLOAD_RETRY=YES, four feeds of N
# frames (default 500) with the modem restarted twice, the backup server down
# for the first minute and the program killed and started again; then prints
# one table row per run.
# The event log of each run (mirrored on stderr) is kept in build-soak/soak-logs/.
set -euo pipefail
cd "$(dirname "$0")/.."

frames=50000
fault_frames=200
kill_frames=500
while (($#)); do
  case "$1" in
    --frames) frames="$2"; shift 2 ;;
    --fault-frames) fault_frames="$2"; shift 2 ;;
    --kill-frames) kill_frames="$2"; shift 2 ;;
    -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
    *) echo "soak.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

build=build-soak
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIK_TESTS=ON
fi
cmake --build "$build" --target soak_tests agw-replay tavrik-decoder

bin="$PWD/$build/bin"
logs="$PWD/$build/soak-logs"
mkdir -p "$logs"
report="$logs/figures.txt"
: > "$report"
export QT_QPA_PLATFORM=offscreen TAVRIK_BIN_DIR="$bin" TAVRIK_SOURCE_DIR="$PWD"
export SOAK_REPORT="$report" SOAK_FRAMES="$frames" SOAK_FAULT_FRAMES="$fault_frames"
export SOAK_KILL_FRAMES="$kill_frames" SOAK_SERVER_DOWN_S="${SOAK_SERVER_DOWN_S:-60}"
export SOAK_TIMEOUT_S="${SOAK_TIMEOUT_S:-1800}"

status=0
run() { # name, command...
  local name="$1"; shift
  echo "== $name"
  if "$@" > "$logs/$name.out" 2> "$logs/$name.err"; then
    grep -E '^\[ +(OK|SKIPPED|FAILED) +\]' "$logs/$name.out" || true
  else
    status=1
    grep -E '^\[ +(OK|FAILED) +\]|Failure|Expected|Which is|actual' "$logs/$name.out" | head -40
    echo "   (failed: see $logs/$name.out and $logs/$name.err)"
  fi
}

run soak "$bin/soak_tests" --gtest_filter='Soak.*'
run modem "$bin/soak_tests" --gtest_filter='Faults/ModemCut.*'
run servers "$bin/soak_tests" --gtest_filter='Faults/FailingServer.*'
run unattended "$bin/soak_tests" --gtest_filter='Faults.Unattended*'
if [ "$(id -u)" -eq 0 ]; then
  run full_disk unshare --mount sh -c \
    "mount -t tmpfs -o size=256k tmpfs /mnt && SOAK_FULL_DISK_DIR=/mnt exec '$bin/soak_tests' --gtest_filter='Faults.FullDisk*'"
else
  echo "== full_disk: skipped (needs root for the tmpfs)"
fi

echo
python3 - "$report" <<'EOF'
import sys
rows = []
for line in open(sys.argv[1]):
    if line.startswith("SOAK "):
        rows.append(dict(kv.split("=", 1) for kv in line.split()[1:]))
cols = [("run", "run"), ("frames", "frames"), ("frames_per_s", "frames/s"),
        ("uploads_a", "uploads A"), ("uploads_b", "uploads B"), ("post_ok", "PostOkCount"),
        ("rx_packets", "RxPackets"), ("kiss_records", "KISS records"),
        ("failures_logged", "failures logged"), ("longest_stall_ms", "longest stall ms"),
        ("rss_mid_kb", "RSS mid KiB"), ("rss_end_kb", "RSS end KiB"),
        ("vm_hwm_kb", "peak RSS KiB"), ("event_log_kb", "event log KiB"),
        ("duplicates_a", "dup A"), ("duplicates_b", "dup B")]
table = [[h for _, h in cols]] + [[r.get(k, "") for k, _ in cols] for r in rows]
for r in table[1:]:
    r[cols.index(("longest_stall_ms", "longest stall ms"))] = "%.1f" % float(r[9] or 0)
width = [max(len(row[i]) for row in table) for i in range(len(cols))]
for n, row in enumerate(table):
    print("  ".join(c.rjust(w) for c, w in zip(row, width)))
    if n == 0:
        print("  ".join("-" * w for w in width))
EOF
echo
echo "figures: $report; event logs: $logs/*.err"
exit $status
