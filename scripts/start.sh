#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it.
#
# On a first start it writes a working default online_conf.ini next to the
# program (PORT=127.0.0.1:8000, Direwolf's default AGW port, and the
# unattended-station keys AGW_RECONNECT=YES and UPLOAD_RETRY=YES). When nothing
# listens on a local PORT, the replay feed stands in for the modem program and
# plays the bundled sample pass, so frames arrive, decode and chart at once.
# With Direwolf or a soundmodem listening there, the program just connects to it.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIK_TESTS=OFF >/dev/null
cmake --build build

bin=$top/build/bin
conf=$bin/online_conf.ini
if [ ! -f "$conf" ]; then
  # The program holds the one default text (the installed program writes the same).
  "$bin/tavrik-decoder" --default-config >"$conf.new" && mv "$conf.new" "$conf"
  echo "wrote a default $conf (edit it for your station)"
fi

port_line=$(grep -a '^ *PORT *=' "$conf" | tail -n 1 | tr -d '\r' || true)
endpoint=$(echo "${port_line#*=}" | xargs)
host=${endpoint%%:*}
port=${endpoint#*:}

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

listening() { timeout 2 bash -c "exec 3<>/dev/tcp/$1/$2" 2>/dev/null; }

case "$host" in
  127.0.0.1 | localhost | ::1)
    if [[ "$port" =~ ^[0-9]+$ ]] && ! listening "$host" "$port"; then
      echo "nothing listens on $host:$port: starting the replay feed with data/sample_pass.kss"
      "$bin/agw-replay" --host 127.0.0.1 --port "$port" --interval-ms 2000 --loop \
        "$top/data/sample_pass.kss" >"$top/build/agw-replay.log" 2>&1 &
      pids+=($!)
      for _ in $(seq 50); do listening "$host" "$port" && break; sleep 0.1; done
    fi
    ;;
esac

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # No screen here: a virtual one keeps the program running as it would on a desktop.
  display=:$((90 + RANDOM % 100))
  Xvfb "$display" -screen 0 1024x900x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY=$display
  sleep 1
  echo "no display found: the program runs on the virtual display $DISPLAY"
fi

"$bin/tavrik-decoder" "$@"
