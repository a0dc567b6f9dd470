#!/usr/bin/env bash
# Builds the container image build/package/vantorix-image.tar from Debian packages only: a
# bookworm root file system made by mmdebstrap from this machine's apt sources, with the Vantorix
# package and what it depends on installed, committed by buildah with the settings a container
# needs (its user, the volume holding the configuration, the port, the command, the stop signal
# and a health check). Nothing is pulled from an image registry.
#   scripts/image.sh [DEB]     DEB: the package (default: the newest build/package/vantorix_*.deb)
# The image is named localhost/vantorix:<version>; "podman load -i" the tar to run it.
# Downloaded packages are kept in build/package/apt-archives (shared with the package's install
# test), so a rebuild downloads only what is new.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

out="$VX_BUILD/package"
image_tar="$out/vantorix-image.tar"
apt_cache="$out/apt-archives"
# The package makes its user with the first free system id; the image fixes it, so that the
# Kubernetes manifests (runAsUser, fsGroup) and volumes kept across image versions agree with it.
vx_uid=999
home=/var/lib/vantorix

fail() {
  echo "error: $*" >&2
  exit 1
}

newest_package() {
  local newest="" deb
  for deb in "$out"/vantorix_*.deb; do
    [ -f "$deb" ] && { [ -z "$newest" ] || [ "$deb" -nt "$newest" ]; } && newest=$deb
  done
  echo "$newest"
}

# The machine's own apt sources, each file as it stands (one-line or deb822 style).
apt_source_files() {
  local file
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] && grep -qv '^[[:space:]]*\(#\|$\)' "$file" && echo "$file"
  done
  return 0
}

deb=${1:-$(newest_package)}
[ -n "$deb" ] || fail "no package in $out: build one with scripts/package.sh or name one"
[ -f "$deb" ] || fail "no such package: $deb"
deb=$(realpath "$deb")
[ "$(dpkg-deb -f "$deb" Package 2>/dev/null)" = vantorix ] || fail "$deb is not a vantorix package"
[ "$(id -u)" -eq 0 ] || fail "building the image needs root (mmdebstrap's root mode and buildah)"

vx_install_deps "$VX_ROOT/scripts/deps-image"

version=$(dpkg-deb -f "$deb" Version)
arch=$(dpkg-deb -f "$deb" Architecture)
# An image tag allows letters, digits, "_", "." and "-": a Debian version's "~", "+" or ":" become "-".
tag="localhost/vantorix:$(tr -c 'A-Za-z0-9_.\n-' '-' <<<"$version")"
mapfile -t sources < <(apt_source_files)
[ "${#sources[@]}" -gt 0 ] || fail "no apt sources in /etc/apt"

mkdir -p "$out" "$apt_cache"
work=$(mktemp -d "$out/image.XXXXXX")
# The image is made in container storage of its own, dropped at the end: the tar is what remains,
# and the machine's storage (its images under the same name) is never touched. Podman refuses a
# run root of more than 50 characters, so that one lies in /tmp.
runtime=$(mktemp -d /tmp/vx-image-run.XXXXXX)
store=(--root "$work/storage" --runroot "$runtime")
cleanup() {
  buildah "${store[@]}" rm --all >/dev/null 2>&1 || true
  buildah "${store[@]}" rmi --all --force >/dev/null 2>&1 || true
  umount "$work/storage/overlay" 2>/dev/null || true
  rm -rf "$work" "$runtime"
}
trap cleanup EXIT

# The image's entry point, between tini and the command. The one setting a container cannot make
# through the web administration before anyone else reaches it is the login password: on the first
# start (no configuration on the volume yet) a password handed in as a file (a podman or Kubernetes
# secret) becomes the configuration's clear "loginPass", which the program hashes as it loads it.
# Once a configuration exists the file is never read again, so a password changed in the program
# stays. Run with the command "true" (a Kubernetes init container) it only does that.
cat >"$work/vantorix-entrypoint" <<'ENTRYPOINT'
#!/bin/bash
set -eu
config="${XDG_CONFIG_HOME:-$HOME/.config}/Zentravia/morvi/morvi.json"
secret="${VANTORIX_PASSWORD_FILE:-/run/secrets/vantorix-password}"
say() { echo "vantorix-entrypoint: $*" >&2; }
if [ ! -e "$config" ] && [ -f "$secret" ]; then
  password=$(cat "$secret") # without the newline an "echo ... | podman secret create" leaves
  [ -n "$password" ] || { say "$secret is empty: no password set"; exit 1; }
  case "$password" in *[[:cntrl:]]*)
    say "the password in $secret holds a control character: not set"; exit 1 ;;
  esac
  iconv -f UTF-8 -t UTF-8 <<<"$password" >/dev/null 2>&1 ||
    { say "the password in $secret is not UTF-8 text: not set"; exit 1; }
  escaped=$(sed -e 's/\\/\\\\/g' -e 's/"/\\"/g' <<<"$password")
  umask 077
  mkdir -p "${config%/*}"
  printf '{"global": {"loginPass": "%s"}}\n' "$escaped" >"$config.new"
  mv "$config.new" "$config"
  say "first start: the login password from $secret is set"
fi
exec "$@"
ENTRYPOINT

echo "Building the root file system from $(basename "$deb") (log: $out/image-rootfs.log)"
# tini as the first process: ffmpeg processes whose transcoder ended are reaped, and SIGTERM
# still reaches the program, whose exit status becomes the container's. curl asks /healthz.
# Manual pages and translations have no reader in a container; the copyright files stay.
# shellcheck disable=SC2016 # "$1" in a hook is the root file system, expanded by mmdebstrap
mmdebstrap --variant=apt --mode=root --format=tar --architectures="$arch" \
  --aptopt='APT::Install-Recommends "false"' \
  --dpkgopt='path-exclude=/usr/share/man/*' --dpkgopt='path-exclude=/usr/share/locale/*' \
  --dpkgopt='path-exclude=/usr/share/info/*' --dpkgopt='path-exclude=/usr/share/doc/*' \
  --dpkgopt='path-include=/usr/share/doc/*/copyright' \
  --skip=essential/unlink \
  --setup-hook='mkdir -p "$1"/var/cache/apt/archives/' \
  --setup-hook="sync-in $apt_cache /var/cache/apt/archives/" \
  --essential-hook="chroot \"\$1\" groupadd --system --gid $vx_uid vantorix" \
  --essential-hook="chroot \"\$1\" useradd --system --uid $vx_uid --gid $vx_uid --home-dir $home \
--no-create-home --shell /usr/sbin/nologin --comment 'Vantorix live video transcoder' vantorix" \
  --hook-dir=/usr/share/mmdebstrap/hooks/file-mirror-automount \
  --include=ca-certificates,curl,tini \
  --include="$deb" \
  --customize-hook="sync-out /var/cache/apt/archives $apt_cache" \
  --customize-hook="chroot \"\$1\" install -d -m 0750 -o vantorix -g vantorix $home" \
  --customize-hook='rm -f "$1"/var/cache/apt/archives/*.deb' \
  --customize-hook="upload $work/vantorix-entrypoint /usr/local/bin/vantorix-entrypoint" \
  --customize-hook='chmod 0755 "$1"/usr/local/bin/vantorix-entrypoint' \
  bookworm "$work/rootfs.tar" "${sources[@]}" >"$out/image-rootfs.log" 2>&1 || {
  tail -n 40 "$out/image-rootfs.log" >&2
  fail "mmdebstrap failed; the whole log is $out/image-rootfs.log"
}

echo "Committing $tag"
container=$(buildah "${store[@]}" from --format docker scratch)
mountpoint=$(buildah "${store[@]}" mount "$container")
tar -x -p --numeric-owner --xattrs --xattrs-include='*' -f "$work/rootfs.tar" -C "$mountpoint"
buildah "${store[@]}" umount "$container" >/dev/null
# No XDG_RUNTIME_DIR: the program's single-copy lock then lies beside the configuration, on the
# volume, where a second container given the same volume finds it and stops.
# The health check asks the default port; a configuration with another "httpPort" needs its own
# (podman run --health-cmd, or the probes of the Kubernetes manifests).
buildah "${store[@]}" config \
  --os linux --arch "$arch" \
  --user "$vx_uid:$vx_uid" \
  --env HOME="$home" --env XDG_CONFIG_HOME="$home/config" --env XDG_CACHE_HOME="$home/cache" \
  --env PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  --workingdir "$home" \
  --volume "$home" \
  --port 9527/tcp \
  --entrypoint '["/usr/bin/tini", "--", "/usr/local/bin/vantorix-entrypoint"]' \
  --cmd '["vantorix", "-quiet"]' \
  --stop-signal SIGTERM \
  --healthcheck 'CMD curl -fsS --max-time 4 -o /dev/null http://127.0.0.1:9527/healthz' \
  --healthcheck-interval 30s --healthcheck-timeout 5s --healthcheck-start-period 15s \
  --healthcheck-retries 3 \
  --label org.opencontainers.image.title=Vantorix \
  --label org.opencontainers.image.description="Live video transcoding and restreaming, headless" \
  --label org.opencontainers.image.version="$version" \
  "$container"
# The Docker format: the OCI image format has no health check.
buildah "${store[@]}" commit --quiet --format docker --rm "$container" "$tag" >/dev/null

rm -f "$image_tar"
podman "${store[@]}" save --quiet --format docker-archive -o "$image_tar" "$tag"
echo "Saved $tag to $image_tar ($(du -m "$image_tar" | cut -f1) MiB)"
