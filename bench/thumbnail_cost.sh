#!/usr/bin/env bash
# The live thumbnail's processor cost, from a live 1280x720 25 fps UDP feed (x264 with a tone):
# morvi-transcoder with all its children, as a share of one core,
#  1. for a channel that encodes x264 (ultrafast), without and with "-thumbnail";
#  2. for a channel that copies the stream, without and with "-thumbnail_key_frames".
# The runs of each pair alternate, each in turn first, so that a change in the machine's other load
# falls on both alike.
#   bench/thumbnail_cost.sh [SECONDS=30] [ROUNDS=4]
# TRANSCODER names the program to measure (default: build/bin/morvi-transcoder).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
transcoder="${TRANSCODER:-$root/build/bin/morvi-transcoder}"
seconds="${1:-30}"
rounds="${2:-4}"
size=1280x720
work="$(mktemp -d)"
feed=$(( 30000 + $$ % 20000 )); out=$((feed + 2))
sender="" program=""
cleanup() {
  for pid in $sender $program; do kill -KILL "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# family PID, ticks PID, now: the processor times of a process and all below it.
. "$root/bench/process_times.sh"

# run LINE: starts the transcoder on the line.
run() {
  rm -f "$work/in" "$work/thumbnail.jpg"; mkfifo "$work/in"
  "$transcoder" < "$work/in" > "$work/log.txt" 2>&1 &
  program=$!
  exec 3> "$work/in"
  echo "xoTra_6142 $1" >&3
  exec 3>&-
}
# A background job ignores SIGINT: the whole family is ended at once (a bench needs no trailer).
stop_program() {
  kill -KILL $(family "$program") 2>/dev/null || true
  wait "$program" 2>/dev/null || true
  program=""
}

# measure LINE: the family's share of one core over the measuring time, after a warm-up.
measure() {
  run "$1"
  sleep 6
  local hz first last t0 t1
  hz=$(getconf CLK_TCK)
  first=$(ticks "$program"); t0=$(now)
  sleep "$seconds"
  last=$(ticks "$program"); t1=$(now)
  # A thumbnail that was asked for must be there: else the pair measures nothing.
  if [[ "$1" == *-thumbnail* ]] && [ ! -s "$work/thumbnail.jpg" ]; then
    echo "no thumbnail was made; the transcoder said:" >&2; tail -20 "$work/log.txt" >&2; exit 1
  fi
  stop_program
  awk -v a="$first" -v b="$last" -v hz="$hz" -v t0="$t0" -v t1="$t1" \
    'BEGIN { printf "%.4f", (b - a) / hz / (t1 - t0) }'
}

# pair NAME LINE THUMBNAIL_OPTION: each round measures the line without and with the thumbnail,
# in turn first.
pair() {
  local without=() with=()
  for (( r = 1; r <= rounds; r++ )); do
    if (( r % 2 == 1 )); then
      without+=("$(measure "$2")")
      with+=("$(measure "$2 $3 $work/thumbnail.jpg")")
    else
      with+=("$(measure "$2 $3 $work/thumbnail.jpg")")
      without+=("$(measure "$2")")
    fi
    printf '%-28s round %d: without %s, with %s\n' "$1" "$r" "${without[-1]}" "${with[-1]}"
  done
  printf '%s\n' "${without[@]}" > "$work/without"
  printf '%s\n' "${with[@]}" > "$work/with"
  paste "$work/without" "$work/with" | awk -v name="$1" -v option="$3" \
    '{ a += $1; b += $2; n++ } END { printf "%-28s without %.4f, with %s %.4f: %+.4f of one core\n", name, a / n, option, b / n, (b - a) / n }'
}

ffmpeg -v error -re -f lavfi -i "testsrc2=size=$size:rate=25" -f lavfi -i sine \
  -c:v libx264 -preset ultrafast -g 50 -c:a aac -f mpegts "udp://127.0.0.1:$feed?pkt_size=1316" &
sender=$!
source="-i \"udp://127.0.0.1:$feed\""
target="-f mpegts udp://127.0.0.1:$out"
echo "feed $size at 25 fps; ${seconds} s per run, $rounds rounds"
pair "x264 channel:" "$source -map 0:v -map 0:a -c:v libx264 -preset:v ultrafast -g 50 -c:a aac $target" -thumbnail
pair "copying channel:" "$source -map 0 -c copy $target" -thumbnail_key_frames
