#!/usr/bin/env bash
# What the window costs while nobody touches it: the vantorix process alone (not its
# transcoders), its share of one core over MEASURE seconds (utime + stime from /proc/PID/stat) and
# its resident memory at the end, with CHANNELS channels running (a looping 640x360 clip sent as
# MPEG-TS over UDP to 127.0.0.1), on an Xvfb display of its own with openbox as its window manager
# (and no tray); once with the window shown, once started with -quiet (the window waits
# minimised).
# Each PROGRAM is measured in turn, so two builds (with and without a change) can be compared on
# the same machine in one run.
#   bench/window_idle.sh [PROGRAM...]       (default: build/bin/vantorix)
#   MEASURE=60 WARMUP=15 CHANNELS=4 ROUNDS=1 MODES="shown minimised"
# WARMUP=610 measures with every running row's ten minutes of history drawn.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
measure_seconds="${MEASURE:-60}"
warmup="${WARMUP:-15}"
channels="${CHANNELS:-4}"
rounds="${ROUNDS:-1}"
modes="${MODES:-shown minimised}"
programs=("$@")
[ ${#programs[@]} -gt 0 ] || programs=("$root/build/bin/vantorix")
for program in "${programs[@]}"; do
  [ -x "$program" ] || { echo "no program $program" >&2; exit 1; }
done
command -v Xvfb > /dev/null || { echo "Xvfb is missing (scripts/deps)" >&2; exit 1; }

work="$(mktemp -d)"
xvfb="" manager="" pid=""
# Ends the program in order, by force after 15 s.
stop_program() {
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 150); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  pid=""
}
cleanup() {
  stop_program
  [ -n "$manager" ] && kill -TERM "$manager" 2>/dev/null && wait "$manager" 2>/dev/null || true
  [ -n "$xvfb" ] && kill -TERM "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display of its own: Xvfb picks a free number and writes it to the descriptor.
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp -noreset 3> "$work/display" \
  > "$work/xvfb.txt" 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start: $(cat "$work/xvfb.txt")" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY
if command -v openbox > /dev/null; then
  openbox --sm-disable > "$work/openbox.txt" 2>&1 &
  manager=$!
  sleep 1
else
  echo "no openbox (scripts/deps): a minimised window stays mapped" >&2
fi

export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_CONFIG_HOME/Zentravia/morvi" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
port=$(( 20000 + $$ % 20000 ))
ticks_per_second=$(getconf CLK_TCK)

# Channels that start with the program; a single file loops while auto-restart is on. No login
# password: the window would open behind its prompt.
write_config() {
  local list="" i
  for ((i = 1; i <= channels; i++)); do
    [ -n "$list" ] && list="$list,"
    list="$list{\"enable\": true, \"memo\": \"bench $i\",
      \"input\": {\"sources\": [{\"format\": \"file\", \"url\": \"$work/clip.mp4\"}]},
      \"output\": {\"targets\": [{\"format\": \"udp\", \"url\": \"udp://127.0.0.1:$((port + 10 + i))\",
      \"video\": {\"enable\": true, \"codec\": \"h264\", \"options\": [\"-preset:v ultrafast\"]},
      \"audio\": {\"enable\": true, \"codec\": \"aac\", \"channels\": 2}}]}}"
  done
  printf '{"global": {"httpPort": %d, "autoRestart": 1}, "channels": [%s]}\n' \
    "$port" "$list" > "$XDG_CONFIG_HOME/Zentravia/morvi/morvi.json"
}

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
transcoders() {
  local count=0 child
  for child in $(pgrep -P "$1" || true); do
    [ "$(cat "/proc/$child/comm" 2>/dev/null)" = "morvi-transcode" ] && count=$((count + 1))
  done
  echo "$count"
}

# measure PROGRAM LABEL [ARGUMENT...]
measure() {
  local program="$1" label="$2"
  shift 2
  write_config
  "$program" "$@" > "$work/out.txt" 2> "$work/err.txt" &
  pid=$!
  sleep "$warmup"
  local running shown="-"
  running=$(transcoders "$pid")
  if command -v xdotool > /dev/null; then
    shown=$(xdotool search --onlyvisible --pid "$pid" --name "Vantorix" 2>/dev/null | wc -l)
  fi
  local before after
  before=$(cpu_ticks "$pid")
  sleep "$measure_seconds"
  after=$(cpu_ticks "$pid")
  printf '%-44s %-13s CPU %5.2f %% of a core  VmRSS %6d kB  transcoders %d/%d  windows mapped %s\n' \
    "$program" "$label" \
    "$(echo "scale=4; 100 * ($after - $before) / $ticks_per_second / $measure_seconds" | bc)" \
    "$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")" "$running" "$channels" "$shown"
  stop_program
}

ffmpeg -v error -f lavfi -i testsrc2=size=640x360:rate=25:duration=10 -f lavfi -i sine=duration=10 \
  -c:v libx264 -preset ultrafast -c:a aac "$work/clip.mp4"
echo "vantorix alone over ${measure_seconds} s after ${warmup} s, ${channels} channels running, display $DISPLAY"
for ((round = 1; round <= rounds; round++)); do
  for program in "${programs[@]}"; do
    for mode in $modes; do
      case "$mode" in
        shown) measure "$program" "window shown" ;;
        minimised) measure "$program" "minimised" -quiet ;;
        *) echo "no mode $mode (shown, minimised)" >&2; exit 1 ;;
      esac
    done
  done
done
