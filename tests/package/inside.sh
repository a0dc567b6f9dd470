#!/bin/bash
# The package test's steps inside the fresh container (install_test.sh starts it):
#   inside.sh DEB
set -euo pipefail
deb=$1
export DEBIAN_FRONTEND=noninteractive
password='Pack4ge-test'
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

apt-get update -q >/dev/null
started=$(date +%s%N)
apt-get install -y -q "$deb"
echo "installed in $((($(date +%s%N) - started) / 1000000)) ms"
command -v ffmpeg >/dev/null || fail "ffmpeg was not installed with the package"

# Everything about the service comes from its unit, as systemd would read it.
unit=/usr/lib/systemd/system/vantorix.service
[ -f "$unit" ] || fail "no system unit at $unit"
unit_value() { sed -n "s/^$1=//p" "$unit"; }
user=$(unit_value User)
group=$(unit_value Group)
groups=$(unit_value SupplementaryGroups | tr ' ' ',')
read -r -d '' -a environment < <(unit_value Environment) || true
read -r -d '' -a command < <(unit_value ExecStart) || true
getent passwd "$user" >/dev/null || fail "the package made no user $user"
[ "$(stat -c %U "/var/lib/$(unit_value StateDirectory)")" = "$user" ] ||
  fail "/var/lib/$(unit_value StateDirectory) does not belong to $user"

# What systemd would make before starting it: the runtime folder.
install -d -o "$user" -g "$group" -m 0700 "/run/$(unit_value RuntimeDirectory)"

# A configuration holding the password in clear, as an administrator writes it by hand.
config_home=$(printf '%s\n' "${environment[@]}" | sed -n 's/^XDG_CONFIG_HOME=//p')
[ -n "$config_home" ] || fail "the unit sets no XDG_CONFIG_HOME"
folder="$config_home/Zentravia/morvi"
for made in "$config_home" "$config_home/Zentravia" "$folder"; do
  install -d -o "$user" -g "$group" -m 0700 "$made"
done
port=
for candidate in $(shuf -i 20000-60000 -n 50); do
  (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null || { port=$candidate; break; }
done
[ -n "$port" ] || fail "no free port"
printf '{"global": {"httpPort": %d, "loginPass": "%s"}, "channels": []}\n' "$port" "$password" \
  >"$folder/morvi.json"
chown "$user:$group" "$folder/morvi.json"
chmod 0600 "$folder/morvi.json"

echo "running: ${command[*]} as $user with ${environment[*]}"
setpriv --reuid "$user" --regid "$group" --groups "$groups" \
  env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin "${environment[@]}" \
  "${command[@]}" >/tmp/vantorix.log 2>&1 &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; cat /tmp/vantorix.log' EXIT

url="http://127.0.0.1:$port/status"
# Without the password the answer is the login form, with it the channels' status.
anonymous=
for _ in $(seq 100); do
  anonymous=$(curl -s "$url") && break
  kill -0 "$pid" 2>/dev/null || fail "the program ended before it answered"
  sleep 0.2
done
[ -n "$anonymous" ] || fail "nothing answered on port $port"
grep -q 'name="auth"' <<<"$anonymous" || fail "/status without the password: $anonymous"
! grep -q '"channels"' <<<"$anonymous" || fail "/status answered without the password"
wrong=$(curl -s -u "any:not-$password" "$url")
! grep -q '"channels"' <<<"$wrong" || fail "/status answered to a wrong password"
body=$(curl -s -u "any:$password" -w '\n%{http_code}' "$url")
echo "GET /status with the password: $(tail -n 1 <<<"$body")"
[ "$(tail -n 1 <<<"$body")" = 200 ] || fail "/status refused the password"
grep -q '"channels"' <<<"$body" || fail "/status answered no channel list: $body"

# The clear password was replaced by its hash, in a file only the service's user reads.
grep -q '"loginHash"' "$folder/morvi.json" || fail "the configuration holds no password hash"
! grep -q '"loginPass"' "$folder/morvi.json" || fail "the clear password stayed in the file"
[ "$(stat -c '%U %a' "$folder/morvi.json")" = "$user 600" ] ||
  fail "morvi.json is $(stat -c '%U %a' "$folder/morvi.json")"

# SIGTERM, as systemd stops it (KillMode=mixed): an orderly end with status 0.
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
trap - EXIT
[ "$status" -eq 0 ] || { cat /tmp/vantorix.log; fail "the program ended with $status on SIGTERM"; }

# systemd's own reading of the unit, with the program installed. A misspelt setting is only a
# message ("Unknown key ..., ignoring") with status 0, so any message fails too.
apt-get install -y -q --no-install-recommends systemd >/dev/null
verdict=$(systemd-analyze verify "$unit" 2>&1) || fail "systemd-analyze verify $unit: $verdict"
[ -z "$verdict" ] || fail "systemd-analyze verify $unit: $verdict"

apt-get purge -y -q vantorix >/dev/null
[ ! -e "$config_home" ] || fail "purging left $config_home"
echo "PASS"
