#!/usr/bin/env bash
# The Kubernetes manifests played by podman kube play: the StatefulSet's first pod and its claim
# (rendered by render_pod.py, since podman 4.3 plays no StatefulSet), the login Secret as the
# kubelet would project it (podman 4.3 crashes on secret volumes). The init container writes the
# password, the pod answers /healthz and /metrics with it, runs as the image's user without the
# Secret, ends with status 0 on SIGTERM and leaves the configuration hashed on its claim.
# shellcheck source-path=SCRIPTDIR source=podman_sandbox.sh
source "$(dirname "${BASH_SOURCE[0]}")/podman_sandbox.sh"

manifest="$root_dir/packaging/kubernetes/vantorix.yaml"
image=$(load_image)
port=$(free_port)
password='kube "pass" \word'

# The Secret "vantorix-login" with its key "password", as the kubelet projects it: root's files,
# readable by the pod's fsGroup (999), mode 0440 as the manifest's defaultMode says.
secrets="$sandbox/secrets"
install -d -m 0755 "$secrets/vantorix-login"
printf '%s' "$password" >"$secrets/vantorix-login/password"
chown 0:999 "$secrets/vantorix-login/password"
chmod 0440 "$secrets/vantorix-login/password"

python3 "$here/render_pod.py" "$manifest" "$image" "$port" "$secrets" >"$sandbox/pod.yaml" ||
  fail "the StatefulSet could not be rendered as a pod"
started=$(date +%s%N)
pm kube play "$sandbox/pod.yaml" >"$sandbox/play.log" 2>&1 || {
  cat "$sandbox/play.log" >&2
  fail "podman kube play refused the pod"
}
pass "podman kube play: pod vantorix-0"

wait_healthz "$port" 60 || {
  pm pod ps >&2 || true
  pm logs vantorix-0-first-password >&2 || true
  pm logs vantorix-0-vantorix >&2 || true
  fail "the pod's /healthz did not answer within 60 s"
}
pass "kube play to /healthz answering: $((($(date +%s%N) - started) / 1000000)) ms"
[ "$(status_of /metrics "$port")" = 401 ] || fail "/metrics answered without the password"
[ "$(status_of /metrics "$port" -H "Authorization: Bearer $password")" = 200 ] ||
  fail "/metrics refused the Secret's password"
pass "the pod's /healthz, and /metrics with the Secret's password"

[ "$(pm exec vantorix-0-vantorix id -u)" = 999 ] || fail "the pod does not run as user 999"
pm exec vantorix-0-vantorix test -e /run/secrets/vantorix/password &&
  fail "the running container sees the Secret"
pass "runs as the image's user, without the Secret"

pm pod stop --time 20 vantorix-0 >/dev/null
code=$(pm inspect --format '{{.State.ExitCode}}' vantorix-0-vantorix)
[ "$code" = 0 ] || {
  pm logs vantorix-0-vantorix >&2 || true
  fail "the pod's program ended with status $code after SIGTERM"
}
pass "SIGTERM: exit status 0"

config="$(pm volume inspect --format '{{.Mountpoint}}' data-vantorix-0)/config/Zentravia/morvi/morvi.json"
grep -q '"loginHash":[[:space:]]*"\$argon2id\$' "$config" || fail "no hashed password on the claim"
! grep -q '"loginPass"' "$config" || fail "the clear password is still on the claim"
pass "the configuration is on the claim, the password hashed"
pm kube down "$sandbox/pod.yaml" >/dev/null
