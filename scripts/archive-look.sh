#!/usr/bin/env bash
# Looks at the chart over the archive as a user would, on a virtual screen: a
# made-up year of KISS logs in a fresh station folder, the program started
# with ARCHIVE=YES (its catch-up fills the archive) and fed live frames by
# agw-replay; then "Batt volts" chosen, the chart's range set to "7 days" and
# "1 year" with the mouse and keys, a screenshot of each, a tooltip, and the
# widget tree as screen readers see it. Results go to
# build-asan/archive-look/.
#   scripts/archive-look.sh [build-dir]     (default build-asan, already built)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-asan}
out="$build/archive-look"
mkdir -p "$out"

if [[ -z "${ARCHIVE_LOOK_INSIDE:-}" ]]; then
  export ARCHIVE_LOOK_INSIDE=1
  exec xvfb-run -a -s '-screen 0 1280x1024x24' dbus-run-session -- "$0" "$build"
fi

bin="$build/bin"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
folder=$(mktemp -d)
cp "$bin/tavrik-decoder" "$folder/"
python3 tools/make-sample/make_year.py "$folder" --end "$(date -u -d '-20 min' +%Y-%m-%dT%H:%M)" \
  >"$out/make-year.txt"
printf 'PORT=127.0.0.1:%s\r\nMYCALL=N0CALL\r\nQTH_LAT=48,1\r\nQTH_LONG=11,5\r\nARCHIVE=YES\r\n' "$port" \
  >"$folder/online_conf.ini"
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$folder"' EXIT
"$bin/agw-replay" --port "$port" --loop --interval-ms 2000 data/sample_pass.kss \
  >"$out/replay.log" 2>&1 &
pids+=($!)
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
pids+=($!)
sleep 1
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$folder/tavrik-decoder" >/dev/null 2>"$out/event-log.txt" &
pids+=($!)
# The catch-up of the year's logs says when it is done.
for _ in $(seq 120); do
  grep -q 'archive catch-up.*done\|catch-up done\|caught up' "$out/event-log.txt" 2>/dev/null && break
  sleep 1
done
sleep 2

window=$(xdotool search --name 'Tavrik Online' | head -1)
eval "$(xdotool getwindowgeometry --shell "$window")"
top=$((Y + 22)) # the client area, below the menu bar
shot() { xwd -root -silent | /usr/bin/convert xwd:- -crop "${WIDTH}x$((HEIGHT + 22))+${X}+${Y}" "$out/$1"; }
# "Batt volts": the EPS group's first column, fourth row.
xdotool mousemove $((X + 30)) $((top + 304)) click 1
sleep 1
# The range box right of the chart's caption: open it, down to the range, Return.
choose() {
  xdotool mousemove $((X + 640)) $((top + 409)) click 1
  sleep 0.5
  xdotool key Home
  for _ in $(seq "$1"); do xdotool key Down; done
  xdotool key Return
  sleep 3
}
choose 3 # 7 days
shot chart-7-days.png
choose 5 # 1 year
shot chart-1-year.png
# The pointer over the chart: its tooltip is read from the widget tree (a grab
# of the virtual screen shows tooltip windows black).
xdotool mousemove $((X + 350)) $((top + 540))
sleep 2
/usr/bin/python3 scripts/atspi_tree.py tavrik >"$out/atspi-tree.txt"

echo "screenshots: $out/chart-7-days.png $out/chart-1-year.png"
grep -iE 'combo box|chart range|frames, lowest|tool tip' "$out/atspi-tree.txt" | cut -c1-240 || true
grep -i 'archive' "$out/event-log.txt" | head -5
