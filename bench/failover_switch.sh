#!/usr/bin/env bash
# The failover switch under load: morvi-transcoder keeping a UDP feed's output alive at the
# given size, 25 fps. Prints the transcoder's own processor time (its threads only: the decoders
# and the encoder are separate processes) as a share of one core and its resident memory while
# the feed runs, then the time from the feed's stop to the switch text, and from its return to
# the switch back.
#   bench/failover_switch.sh [WIDTHxHEIGHT=1280x720] [SECONDS=20]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
transcoder="$root/build/bin/morvi-transcoder"
size="${1:-1280x720}"
seconds="${2:-20}"
work="$(mktemp -d)"
feed=$(( 30000 + $$ % 20000 ))
sender="" program=""
cleanup() {
  for pid in $sender $program; do kill -KILL "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

start_sender() {
  ffmpeg -v error -re -f lavfi -i "testsrc=size=$size:rate=25" -f lavfi -i sine -c:v libx264 \
    -preset ultrafast -g 25 -c:a aac -f mpegts "udp://127.0.0.1:$feed?pkt_size=1316" &
  sender=$!
}

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
now() { date +%s.%N; }

start_sender
line="-i \"udp://127.0.0.1:$feed\" -re -f lavfi -i pal100bars -re -f lavfi -i aevalsrc=0"
line="$line -lavfi:v \"[1]drawtext=text=powered by vantorix.org:fontsize=12:fontcolor=black:y=h-th[dt1]; [dt1][0:v]scale=rw:rh[v1]; [0:v][v1]streamselect\""
line="$line -lavfi:a \"astreamselect\" -c:a aac -c:v libx264 -preset:v ultrafast -s:v $size -r:v 25 -f mpegts udp://127.0.0.1:$((feed + 2))"
mkfifo "$work/in"
"$transcoder" < "$work/in" > "$work/out.txt" 2>&1 &
program=$!
exec 3> "$work/in"
echo "xoTra_6142 $line" >&3

sleep 5  # the encoder and the primary are up
hz=$(getconf CLK_TCK)
first=$(ticks "$program"); t0=$(now)
sleep "$seconds"
last=$(ticks "$program"); t1=$(now)
rss=$(awk '/VmRSS/ {print $2}' "/proc/$program/status")
awk -v a="$first" -v b="$last" -v hz="$hz" -v t0="$t0" -v t1="$t1" -v size="$size" -v rss="$rss" \
  'BEGIN { printf "%s: switch process %.3f of one core, VmRSS %d kB\n", size, (b - a) / hz / (t1 - t0), rss }'

kill -KILL "$sender"; wait "$sender" 2>/dev/null || true; stopped=$(now)
until grep -q "primary input timed out" "$work/out.txt"; do sleep 0.02; done; switched=$(now)
start_sender; resumed=$(now)
until grep -q "primary input available again" "$work/out.txt"; do sleep 0.02; done; back=$(now)
awk -v a="$stopped" -v b="$switched" -v c="$resumed" -v d="$back" \
  'BEGIN { printf "feed stopped -> alternate: %.2f s; feed back -> primary: %.2f s\n", b - a, d - c }'
