#!/usr/bin/env bash
# Standby sources under load, at 1280x720 and 25 fps from live UDP feeds:
#  1. the processor time of morvi-transcoder with all its children (decoders, encoder) for the
#     plain failover (primary and slate), with one warm standby source, and with the standby and
#     every content measure on (black, silence, frozen);
#  2. the time from the primary's feed stopping to the standby on air, and from its return to the
#     switch back;
#  3. the time from the primary turning black (black=2) to the standby on air, and back.
#   bench/standby_switch.sh [SECONDS=20]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
transcoder="$root/build/bin/morvi-transcoder"
seconds="${1:-20}"
size=1280x720
work="$(mktemp -d)"
primary=$(( 30000 + $$ % 20000 )); standby=$((primary + 2)); out=$((primary + 4))
senders=() program=""
cleanup() {
  for pid in "${senders[@]}" $program; do kill -KILL "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# send PORT [FILTER]: a live feed of the test pattern with a tone, in the background.
send() {
  ffmpeg -v error -re -f lavfi -i "testsrc=size=$size:rate=25${2:-}" -f lavfi -i sine \
    -c:v libx264 -preset ultrafast -g 25 -c:a aac -f mpegts "udp://127.0.0.1:$1?pkt_size=1316" &
  last_sender=$!
  senders+=("$last_sender")
}

# family PID, ticks PID, now: the processor times of a process and all below it.
. "$root/bench/process_times.sh"

# run NAME EXTRA_INPUTS SWITCH_ON: starts the transcoder on the line.
run() {
  local line="-i \"udp://127.0.0.1:$primary\" $2 -re -f lavfi -i pal100bars -re -f lavfi -i aevalsrc=0 $3"
  line="$line -lavfi:v \"[1]drawtext=text=powered by vantorix.org:fontsize=12:fontcolor=black:y=h-th[dt1]; [dt1][0:v]scale=rw:rh[v1]; [0:v][v1]streamselect\""
  line="$line -lavfi:a \"astreamselect\" -c:a aac -c:v libx264 -preset:v ultrafast -s:v $size -r:v 25 -f mpegts udp://127.0.0.1:$out"
  rm -f "$work/in"; mkfifo "$work/in"
  "$transcoder" < "$work/in" > "$work/$1.txt" 2>&1 &
  program=$!
  exec 3> "$work/in"
  echo "xoTra_6142 $line" >&3
  exec 3>&-
}
# A background job ignores SIGINT: the whole family is ended at once (a bench needs no trailer).
stop_program() {
  kill -KILL $(family "$program") 2>/dev/null || true
  wait "$program" 2>/dev/null || true
  program=""
}

# cost NAME: the family's share of one core over the measuring time.
cost() {
  sleep 6  # every decoder is up and delivering
  local hz first last t0 t1
  hz=$(getconf CLK_TCK)
  first=$(ticks "$program"); t0=$(now)
  sleep "$seconds"
  last=$(ticks "$program"); t1=$(now)
  awk -v a="$first" -v b="$last" -v hz="$hz" -v t0="$t0" -v t1="$t1" -v name="$1" \
    'BEGIN { printf "%-32s %.3f of one core (transcoder, decoders, encoder)\n", name, (b - a) / hz / (t1 - t0) }'
}
# wait_for NAME TEXT [N]: the time the N-th line holding TEXT appeared (N = 1 unless given).
wait_for() {
  until (( $(grep -c "$2" "$work/$1.txt" || true) >= ${3:-1} )); do sleep 0.02; done
  now
}

send "$primary"; primary_sender=$last_sender
send "$standby"
run plain "" ""
cost "plain failover:"
stop_program
run standby "-standby -i \"udp://127.0.0.1:$standby\"" ""
cost "one warm standby:"
kill -KILL "$primary_sender"; stopped=$(now)
switched=$(wait_for standby "primary timed out, switching to standby 1")
send "$primary"; primary_sender=$last_sender; resumed=$(now)
back=$(wait_for standby "primary good for 1 s, switching back from standby 1")
awk -v a="$stopped" -v b="$switched" -v c="$resumed" -v d="$back" \
  'BEGIN { printf "primary stopped -> standby on air: %.2f s; primary back -> on air: %.2f s\n", b - a, d - c }'
stop_program
run watched "-standby -i \"udp://127.0.0.1:$standby\"" "-switch_on black=2:silence=2:frozen=2"
cost "warm standby, content measures:"
stop_program

kill -KILL "$primary_sender"
send "$primary" ",drawbox=x=0:y=0:w=iw:h=ih:color=black:t=fill:enable='between(t,10,20)'"
sent=$(now)
run black "-standby -i \"udp://127.0.0.1:$standby\"" "-switch_on black=2"
switched=$(wait_for black "primary black for 2 s, switching to standby 1")
back=$(wait_for black "primary good for 3 s, switching back from standby 1")
awk -v s="$sent" -v b="$switched" -v d="$back" \
  'BEGIN { printf "black starts -> standby on air: %.2f s; black ends -> primary on air: %.2f s\n", b - (s + 10), d - (s + 20) }'
stop_program
