#!/usr/bin/env bash
# Looks at the real window as a user would, on a virtual screen: the program
# receives the sample pass from agw-replay; then a screenshot, two event-log
# lines selected with Shift+Down and copied with Ctrl+C, and the widget tree
# as screen readers see it. Results go to build-asan/look/.
#   scripts/window-look.sh [build-dir]     (default build-asan, already built)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-asan}
out="$build/look"
mkdir -p "$out"

if [[ -z "${WINDOW_LOOK_INSIDE:-}" ]]; then
  export WINDOW_LOOK_INSIDE=1
  exec xvfb-run -a -s '-screen 0 1280x1024x24' dbus-run-session -- "$0" "$build"
fi

bin="$build/bin"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
folder=$(mktemp -d)
cp "$bin/tavrik-decoder" "$folder/"
printf 'PORT=127.0.0.1:%s\r\nMYCALL=N0CALL\r\nQTH_LAT=48,1\r\nQTH_LONG=11,5\r\n' "$port" \
  >"$folder/online_conf.ini"
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$folder"' EXIT
"$bin/agw-replay" --port "$port" --loop --interval-ms 200 data/sample_pass.kss \
  >"$out/replay.log" 2>&1 &
pids+=($!)
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
pids+=($!)
sleep 1
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$folder/tavrik-decoder" >/dev/null 2>"$out/event-log.txt" &
pids+=($!)
sleep 6

window=$(xdotool search --name 'Tavrik Online' | head -1)
eval "$(xdotool getwindowgeometry --shell "$window")"
# Into the event log box, to its top, two lines down with Shift, copy.
xdotool mousemove $((X + 100)) $((Y + 22 + 732)) click 1
xdotool key ctrl+Home shift+Down shift+Down ctrl+c
sleep 0.5
xclip -o -selection clipboard >"$out/copied.txt"
xwd -root -silent | /usr/bin/convert xwd:- "$out/window.png"
/usr/bin/python3 scripts/atspi_tree.py tavrik >"$out/atspi-tree.txt"

echo "screenshot: $out/window.png"
echo "copied from the event log:"
cat "$out/copied.txt"
grep -E 'radio buttons:|text: .event log' "$out/atspi-tree.txt" | cut -c1-160
