#!/usr/bin/env bash
# Builds the benchmarks (Release), runs every one of them and prints one
# table of figures at the end. Benchmarks report; they never fail on a figure.
# Extra arguments go to the Google Benchmark programs (e.g. --benchmark_filter=Live).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=build-bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVRIK_BENCH=ON -DTAVRIK_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_core bench_sky bench_window bench_event_log bench_import bench_memory bench_decode bench_web bench_archive_chart bench_influx tavrik-decoder agw-replay

bin="$build/bin"
out="$build/bench-results"
rm -rf "$out"
mkdir -p "$out"
export QT_QPA_PLATFORM=offscreen

# Every event-log entry is mirrored to stderr; that goes to a file, not the terminal.
run() {
  local name=$1
  shift
  echo "== $name"
  if ! "$@" >"$out/$name.txt" 2>"$out/$name.stderr"; then
    echo "$name failed; the end of its output:" >&2
    tail -n 20 "$out/$name.txt" "$out/$name.stderr" >&2
    return 1
  fi
  grep -v '^RESULT' "$out/$name.txt" | tail -n +1
}

run core "$bin/bench_core" --benchmark_out="$out/core.json" --benchmark_out_format=json "$@"
run sky "$bin/bench_sky" --benchmark_out="$out/sky.json" --benchmark_out_format=json "$@"
run window "$bin/bench_window" --benchmark_out="$out/window.json" --benchmark_out_format=json "$@"
run event_log "$bin/bench_event_log" --benchmark_out="$out/event_log.json" --benchmark_out_format=json "$@"
run web "$bin/bench_web" --benchmark_out="$out/web.json" --benchmark_out_format=json "$@"
run web_paint python3 bench/web_paint.py "$bin" data/sample_pass.kss
run import "$bin/bench_import"
run memory_decode "$bin/bench_memory" decode
run memory_pipeline "$bin/bench_memory" pipeline
run decode "$bin/bench_decode"
# The archive of 10 million frames is made once (a few minutes) and kept for later runs.
run archive_chart "$bin/bench_archive_chart" "$build/archive_chart_bench.sqlite"
run influx "$bin/bench_influx"

python3 - "$out" <<'PY'
import glob, json, os, sys

out = sys.argv[1]
rows = []

def fmt(v):
    return f"{v:.3g}" if abs(v) < 1000 else f"{v:.0f}"

for path in sorted(glob.glob(os.path.join(out, "*.json"))):
    with open(path) as f:
        data = json.load(f)
    for b in data.get("benchmarks", []):
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "mean":
            continue
        name = b["name"].replace("/iterations:", " it:").replace("/real_time", "")
        unit = b.get("time_unit", "ns")
        rows.append((name, fmt(b["real_time"]), unit + " (wall)"))
        if "bytes_per_second" in b:
            rows.append((name, fmt(b["bytes_per_second"] / 1e6), "MB/s"))
        elif "items_per_second" in b:
            rows.append((name, fmt(b["items_per_second"]), "items/s"))
        for key, label in (("handler_ms", "ms (handler only)"), ("handler_us", "us (handler only)"),
                           ("handler_cpu_ms", "ms (handler, thread CPU)"),
                           ("handler_cpu_us", "us (handler, thread CPU)")):
            if key in b:
                rows.append((name, fmt(b[key]), label))

for path in sorted(glob.glob(os.path.join(out, "*.txt"))):
    with open(path) as f:
        for line in f:
            if line.startswith("RESULT\t"):
                _, name, value, unit = line.rstrip("\n").split("\t")
                rows.append((name, fmt(float(value)), unit))

w = max(len(r[0]) for r in rows)
print()
print(f"{'benchmark':<{w}}  {'figure':>10}  unit")
print(f"{'-' * w}  {'-' * 10}  {'-' * 20}")
for name, value, unit in rows:
    print(f"{name:<{w}}  {value:>10}  {unit}")
PY

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
mem=$(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo)
echo
echo "machine: $(nproc) cores, $cpu, $mem; load average $(cut -d' ' -f1-3 /proc/loadavg)"
