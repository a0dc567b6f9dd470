#!/usr/bin/env bash
# The Debian package as an administrator gets it: installed with apt-get into a fresh Debian 12
# container, which must bring ffmpeg and every library; then the system unit's command, run as
# the unit runs it, must serve the web administration to the login password (inside.sh).
#   install_test.sh DEB CACHE_FOLDER
# The root file system (mmdebstrap, from this machine's apt sources) and the downloaded packages
# are kept in CACHE_FOLDER, so a second run costs no download. Needs root, podman, runc.
set -euo pipefail
deb=$(realpath "$1")
mkdir -p "$2"
cache=$(realpath "$2")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

[ -f "$deb" ] || { echo "error: no package $deb (scripts/package.sh builds it)" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "error: the package test runs podman as root" >&2; exit 1; }

# Podman's settings and storage are the test's own: nothing of the machine's changes.
export CONTAINERS_CONF="$here/containers.conf"
podman=(podman --root "$cache/podman/storage" --runroot "$cache/podman/run")

sources=${VX_APT_SOURCES:-/etc/apt/sources.list.d/debian.sources}
rootfs_tar="$cache/bookworm-rootfs.tar"
if [ ! -s "$rootfs_tar" ] || [ "$sources" -nt "$rootfs_tar" ]; then
  echo "Making a Debian 12 root file system ($rootfs_tar) from $sources"
  mmdebstrap --quiet --format=tar --variant=minbase --include=ca-certificates,curl bookworm \
    "$rootfs_tar.new" "$sources"
  mv "$rootfs_tar.new" "$rootfs_tar"
fi

work=$(mktemp -d "$cache/container.XXXXXX")
name="vantorix-package-test-$$"
cleanup() {
  "${podman[@]}" rm --force --time 5 "$name" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# A fresh copy every run: the container changes its root file system in place.
mkdir "$work/rootfs" "$work/deb"
tar -x -C "$work/rootfs" -f "$rootfs_tar"
cp "$deb" "$work/deb/"
mkdir -p "$cache/apt-archives/partial"

"${podman[@]}" run --rm --name "$name" \
  --volume "$work/deb:/deb:ro" \
  --volume "$cache/apt-archives:/var/cache/apt/archives" \
  --volume "$here/inside.sh:/inside.sh:ro" \
  --rootfs "$work/rootfs" /bin/bash /inside.sh "/deb/$(basename "$deb")"
