# Shared by the container image tests: a podman of their own. Sourced, not run.
# Everything a test makes (the loaded image, containers, pods, volumes, secrets, podman's pause
# image) lives in a storage folder of its own under VX_TEST_DIR, emptied and removed when the test
# ends, so the machine's own podman storage and settings are never touched.
#   VX_IMAGE_TAR  the image (default: build/package/vantorix-image.tar of this tree)
#   VX_TEST_DIR   the test's work folder (default: a new one under /tmp)
# shellcheck shell=bash
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root_dir=$(cd "$here/../../.." && pwd)
image_tar=${VX_IMAGE_TAR:-$root_dir/build/package/vantorix-image.tar}
export CONTAINERS_CONF="$here/containers.conf"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

pass() {
  echo "ok: $*"
}

[ "$(id -u)" -eq 0 ] || fail "the container tests run podman as root"
[ -f "$image_tar" ] || fail "no image at $image_tar: build it with scripts/image.sh"
command -v podman >/dev/null || fail "podman is missing (scripts/deps-image)"

sandbox=$(mktemp -d "${VX_TEST_DIR:-/tmp}/vx-podman.XXXXXX")
chmod 0711 "$sandbox"
# Podman refuses a run root of more than 50 characters, which a build folder can exceed.
runtime=$(mktemp -d /tmp/vx-podman-run.XXXXXX)

pm() {
  podman --root "$sandbox/storage" --runroot "$runtime/run" --tmpdir "$runtime/tmp" "$@"
}

# Ends what the test started (containers stop by force here: the test's own checks already ran)
# and drops the sandbox's storage with everything in it.
cleanup_sandbox() {
  pm pod rm --all --force --time 0 >/dev/null 2>&1 || true
  pm rm --all --force --time 0 >/dev/null 2>&1 || true
  pm volume rm --all --force >/dev/null 2>&1 || true
  pm secret rm --all >/dev/null 2>&1 || true
  pm rmi --all --force >/dev/null 2>&1 || true
  # (Not "podman system reset": that also removes the machine's own networks.)
  umount "$sandbox/storage/overlay" 2>/dev/null || true
  rm -rf "$sandbox" "$runtime"
}
trap cleanup_sandbox EXIT

# A TCP port of 127.0.0.1 nobody listens on.
free_port() {
  local port
  for _ in $(seq 50); do
    port=$((20000 + RANDOM % 20000))
    ss -Hltn "sport = :$port" 2>/dev/null | grep -q . || {
      echo "$port"
      return 0
    }
  done
  fail "no free port found"
}

# load_image: loads the image tar, prints the image's id.
load_image() {
  local loaded
  loaded=$(pm load --quiet --input "$image_tar") || fail "podman load refused $image_tar"
  pm image inspect --format '{{.Id}}' "${loaded##*: }"
}

# wait_healthz PORT SECONDS: until GET /healthz on 127.0.0.1:PORT answers "ok".
wait_healthz() {
  local deadline=$((SECONDS + $2))
  while [ "$SECONDS" -lt "$deadline" ]; do
    [ "$(curl -fsS --max-time 2 "http://127.0.0.1:$1/healthz" 2>/dev/null)" = ok ] && return 0
    sleep 0.2
  done
  return 1
}

# status_of PATH PORT [CURL_ARGS...]: the HTTP status of GET PATH.
status_of() {
  local path=$1 port=$2
  shift 2
  curl -s -o /dev/null -w '%{http_code}' --max-time 5 "$@" "http://127.0.0.1:$port$path"
}
