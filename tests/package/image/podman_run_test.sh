#!/usr/bin/env bash
# The container image as a user runs it: loaded with podman, started with a volume, a published
# port and the login password as a podman secret. /healthz answers without the password, /metrics
# only with it, the image's health check passes, SIGTERM ends it with status 0 and the volume
# keeps the configuration with the password hashed. Started again with another secret, the first
# password still holds: a configuration once written is never overwritten from the secret.
# shellcheck source-path=SCRIPTDIR source=podman_sandbox.sh
source "$(dirname "${BASH_SOURCE[0]}")/podman_sandbox.sh"

image=$(load_image)
pass "podman load: $image"

printf '%s\n' 'first "pass" \word' >"$sandbox/first"
printf '%s\n' 'second-password' >"$sandbox/second"
pm secret create vx-first "$sandbox/first" >/dev/null
pm secret create vx-second "$sandbox/second" >/dev/null
pm volume create vx-data >/dev/null
port=$(free_port)

# run_instance NAME SECRET: started detached; prints the milliseconds until /healthz answered.
# Podman drives the health check's timer through systemd; without it (these machines) it logs
# errors and goes on, and the test runs the check itself.
run_instance() {
  local started
  started=$(date +%s%N)
  pm run --detach --name "$1" --secret "$2,target=vantorix-password" \
    --volume vx-data:/var/lib/vantorix --publish "127.0.0.1:$port:9527" "$image" >/dev/null
  wait_healthz "$port" 60 || {
    pm logs "$1" >&2 || true
    fail "$1: /healthz did not answer within 60 s"
  }
  echo "$((($(date +%s%N) - started) / 1000000))"
}

# stop_instance NAME: SIGTERM through podman stop; the program must end by itself, with status 0.
stop_instance() {
  pm stop --time 20 "$1" >/dev/null
  local code
  code=$(pm inspect --format '{{.State.ExitCode}}' "$1")
  [ "$code" = 0 ] || {
    pm logs "$1" >&2 || true
    fail "$1 ended with status $code after SIGTERM"
  }
  pm logs "$1" 2>&1 | grep -q 'stopping on signal 15' || fail "$1 did not say it stopped on SIGTERM"
  pm rm "$1" >/dev/null
}

elapsed=$(run_instance vx-one vx-first)
pass "podman run to /healthz answering: $elapsed ms"

[ "$(curl -fsS "http://127.0.0.1:$port/healthz")" = ok ] || fail "/healthz did not say ok"
[ "$(status_of /metrics "$port")" = 401 ] || fail "/metrics answered without the password"
metrics=$(curl -fsS -H "Authorization: Bearer first \"pass\" \\word" "http://127.0.0.1:$port/metrics") ||
  fail "/metrics refused the password from the secret"
grep -q '^vantorix_build_info' <<<"$metrics" || fail "/metrics lacks vantorix_build_info"
pass "/healthz without and /metrics with the password"

pm healthcheck run vx-one >/dev/null || fail "the image's health check failed"
pass "the image's health check"

stop_instance vx-one
pass "SIGTERM: exit status 0"

volume=$(pm volume inspect --format '{{.Mountpoint}}' vx-data)
config="$volume/config/Zentravia/morvi/morvi.json"
[ -f "$config" ] || fail "no configuration on the volume ($config)"
grep -q '"loginHash":[[:space:]]*"\$argon2id\$' "$config" || fail "the saved password is not hashed"
! grep -q '"loginPass"' "$config" || fail "the clear password is still in the configuration"
[ "$(stat -c '%a %u' "$config")" = "600 999" ] || fail "configuration not 0600 of the image's user"
pass "the configuration is on the volume, the password hashed"

run_instance vx-two vx-second >/dev/null
[ "$(status_of /metrics "$port" -H 'Authorization: Bearer second-password')" = 401 ] ||
  fail "a second start took the password from its secret over the saved one"
[ "$(status_of /metrics "$port" -H "Authorization: Bearer first \"pass\" \\word")" = 200 ] ||
  fail "the saved password no longer opens /metrics"
stop_instance vx-two
pass "a later start keeps the saved password"
