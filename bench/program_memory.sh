#!/usr/bin/env bash
# Resident memory of the headless program (not its transcoders): idle with no channel, then with
# CHANNELS channels running (a looping 720p clip sent as MPEG-TS over UDP to 127.0.0.1).
#   bench/program_memory.sh [CHANNELS=4] [SECONDS=20]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
program="$root/build/bin/vantorix"
channels="${1:-4}"
seconds="${2:-20}"
work="$(mktemp -d)"
pid=""
cleanup() {
  [ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$XDG_CONFIG_HOME/Zentravia/morvi" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
port=$(( 20000 + $$ % 20000 ))

write_config() {  # $1: number of running channels
  local list="" i
  for ((i = 1; i <= $1; i++)); do
    [ -n "$list" ] && list="$list,"
    list="$list{\"enable\": true, \"input\": {\"sources\": [{\"format\": \"file\", \"url\": \"$work/clip.mp4\"}]},
      \"output\": {\"targets\": [{\"format\": \"udp\", \"url\": \"udp://127.0.0.1:$((port + 10 + i))\",
      \"video\": {\"enable\": true, \"codec\": \"h264\", \"options\": [\"-preset:v veryfast\"]},
      \"audio\": {\"enable\": true, \"codec\": \"aac\", \"channels\": 2}}]}}"
  done
  printf '{"global": {"httpPort": %d, "autoRestart": 1, "loginPass": "x"}, "channels": [%s]}\n' \
    "$port" "$list" > "$XDG_CONFIG_HOME/Zentravia/morvi/morvi.json"
}

measure() {  # $1: label, $2: channels
  write_config "$2"
  "$program" -quiet > "$work/out.txt" 2> "$work/err.txt" &
  pid=$!
  sleep "$seconds"
  local running
  running=$(grep -c "morvi-transcode" <(for c in /proc/[0-9]*/stat; do
    awk -v p="$pid" '$4 == p {print $2}' "$c" 2>/dev/null; done) || true)
  printf '%-28s VmRSS %6d kB  VmHWM %6d kB  transcoders %d\n' "$1" \
    "$(awk '/VmRSS/ {print $2}' /proc/$pid/status)" "$(awk '/VmHWM/ {print $2}' /proc/$pid/status)" \
    "$running"
  kill -TERM "$pid"
  wait "$pid" || true
  pid=""
}

ffmpeg -v error -f lavfi -i testsrc=size=1280x720:rate=25:duration=10 -f lavfi -i sine=duration=10 \
  -c:v libx264 -preset ultrafast -c:a aac "$work/clip.mp4"
measure "idle (no channel)" 0
measure "$channels channels running" "$channels"
