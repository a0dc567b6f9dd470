#!/usr/bin/env bash
# What the Kubernetes manifest's resource requests are sized from (run on demand, not a test):
# the container as the pod runs it (read-only root, /tmp a tmpfs, the volume), its memory and
# processor use at idle and with four channels, each transcoding a looping 640x360 test clip made
# with ffmpeg's lavfi (H.264 "faster" and AAC, the channel defaults) to a UDP target.
#   measure.sh [SECONDS]   SECONDS: how long each state is sampled (default 30)
# Memory is the cgroup's working set (usage less inactive file pages), as the kubelet counts it.
# shellcheck source-path=SCRIPTDIR source=podman_sandbox.sh
source "$(dirname "${BASH_SOURCE[0]}")/podman_sandbox.sh"

seconds=${1:-30}
image=$(load_image)
port=$(free_port)
pm volume create vx-data >/dev/null
volume=$(pm volume inspect --format '{{.Mountpoint}}' vx-data)

ffmpeg -v error -f lavfi -i testsrc2=size=640x360:rate=25 -f lavfi -i sine=frequency=440 \
  -t 10 -c:v libx264 -preset veryfast -g 50 -c:a aac -f mpegts "$sandbox/clip.ts"
install -d -o 999 -g 999 "$volume/media" "$volume/config/Zentravia/morvi"
install -o 999 -g 999 -m 0644 "$sandbox/clip.ts" "$volume/media/clip.ts"

# configure CHANNELS: the configuration with that many channels of the clip, password "pw".
configure() {
  python3 - "$1" >"$volume/config/Zentravia/morvi/morvi.json" <<'PY'
import json, sys
def channel(number):
    return {"enable": True,
            "input": {"sources": [{"format": "file", "url": "/var/lib/vantorix/media/clip.ts"}]},
            "output": {"targets": [{
                "format": "udp", "url": f"udp://127.0.0.1:{5000 + number}?pkt_size=1316",
                "video": {"enable": True, "codec": "h264",
                          "options": ["-pix_fmt:v yuv420p", "-preset:v faster"]},
                "audio": {"enable": True, "codec": "aac", "channels": 2}}]}}
json.dump({"global": {"loginPass": "pw", "autoRestart": 1},
           "channels": [channel(n) for n in range(int(sys.argv[1]))]}, sys.stdout)
PY
  chown 999:999 "$volume/config/Zentravia/morvi/morvi.json"
  chmod 0600 "$volume/config/Zentravia/morvi/morvi.json"
}

# cgroup_file CONTROLLER FILE: FILE of the container's cgroup (cgroups v1, as on these machines).
cgroup_file() {
  local pid
  pid=$(pm inspect --format '{{.State.Pid}}' vx-measure)
  echo "/sys/fs/cgroup/$1$(awk -F: -v c="$1" '$2 ~ "(^|,)" c "(,|$)" { print $3 }' "/proc/$pid/cgroup")/$2"
}

# sample LABEL: the processor use over $seconds and the memory at its end: the cgroup's working
# set (usage less inactive file pages, as the kubelet counts a pod), its anonymous memory, and the
# processes' resident sets summed (shared library pages counted once per process: an upper bound
# for a node where nothing else has the image's files in its page cache).
sample() {
  local usage_file mem_dir before after working_set rss_kib
  usage_file=$(cgroup_file cpuacct cpuacct.usage)
  mem_dir=$(dirname "$(cgroup_file memory memory.usage_in_bytes)")
  before=$(cat "$usage_file")
  sleep "$seconds"
  after=$(cat "$usage_file")
  working_set=$(($(cat "$mem_dir/memory.usage_in_bytes") -
    $(awk '$1 == "total_inactive_file" { print $2 }' "$mem_dir/memory.stat")))
  rss_kib=$(sed 's|.*|/proc/&/status|' "$mem_dir/cgroup.procs" | xargs awk '/^VmRSS:/ { s += $2 } END { print s }')
  printf '%s: %s processors; working set %d MiB, anonymous %d MiB, resident sets %d MiB; %d processes\n' \
    "$1" "$(awk -v d=$((after - before)) -v s="$seconds" 'BEGIN { printf "%.2f", d / s / 1e9 }')" \
    $((working_set / 1048576)) \
    $(($(awk '$1 == "total_rss" { print $2 }' "$mem_dir/memory.stat") / 1048576)) \
    $((rss_kib / 1024)) "$(wc -l <"$mem_dir/cgroup.procs")"
}

# run CHANNELS: the container as the pod runs it, sampled once its channels have settled.
run() {
  configure "$1"
  pm run --detach --name vx-measure --read-only --tmpfs /tmp --cap-drop ALL \
    --security-opt no-new-privileges --volume vx-data:/var/lib/vantorix \
    --publish "127.0.0.1:$port:9527" "$image" >/dev/null
  wait_healthz "$port" 60 || fail "/healthz did not answer"
  sleep 10
  sample "$1 channels"
  curl -fsS -u x:pw "http://127.0.0.1:$port/metrics" |
    grep -E '^vantorix_(channel_frames_per_second|resident_memory_bytes|channel_state\{.*state="running")' | sed 's/^/  /'
  pm stop --time 20 vx-measure >/dev/null
  pm rm vx-measure >/dev/null
}

run 0
run 4
