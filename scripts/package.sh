#!/usr/bin/env bash
# Builds the Debian package build/package/vantorix_<version>_<arch>.deb from the committed tree
# (HEAD: uncommitted and untracked files never enter the package), installing what building it
# needs first, then judges it with lintian: errors fail, warnings are shown.
#   scripts/package.sh
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

vx_install_deps "$VX_ROOT/scripts/deps-package"

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# The package's version is the project's (the top CMakeLists.txt), so the two never differ.
version=$(sed -n 's/^project(Vantorix VERSION \([0-9.]*\).*/\1/p' "$VX_ROOT/CMakeLists.txt")
[ -n "$version" ] || { echo "error: no project version in CMakeLists.txt" >&2; exit 1; }
arch=$(dpkg --print-architecture)
out="$VX_BUILD/package"
deb="$out/vantorix_${version}_${arch}.deb"
mkdir -p "$out"

if [ -n "$(git -C "$VX_ROOT" status --porcelain)" ]; then
  echo "note: the package is built from HEAD; uncommitted changes are left out" >&2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
src="$work/vantorix-$version"
mkdir "$src"
git -C "$VX_ROOT" archive --format=tar HEAD | tar -x -C "$src"

# One changelog entry for this build, dated by its commit so that rebuilding the same commit
# gives the same package.
commit=$(git -C "$VX_ROOT" rev-parse --short=12 HEAD)
cat >"$src/debian/changelog" <<ENTRY
vantorix ($version) unstable; urgency=medium

  * Built from commit $commit.

 -- $(sed -n 's/^Maintainer: //p' "$src/debian/control")  $(git -C "$VX_ROOT" log -1 --format=%aD HEAD)
ENTRY

if ! (cd "$src" && dpkg-checkbuilddeps) 2>/dev/null; then
  echo "Installing the package's build dependencies (debian/control)"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get build-dep -y -q --no-install-recommends "$src"
fi

echo "Building $(basename "$deb") in $work"
(cd "$src" && DEB_BUILD_OPTIONS="nocheck parallel=2" dpkg-buildpackage -b -us -uc) \
  >"$out/build.log" 2>&1 || {
  tail -n 60 "$out/build.log" >&2
  echo "error: dpkg-buildpackage failed; the whole log is $out/build.log" >&2
  exit 1
}
cp "$work/$(basename "$deb")" "$deb"

changes="$work/vantorix_${version}_${arch}.changes"
status=0
lintian --info --display-info --fail-on error "$changes" 2>&1 | tee "$out/lintian.txt" ||
  status=$?
if [ "$status" -ne 0 ]; then
  echo "error: lintian found errors in the package (see $out/lintian.txt)" >&2
  exit "$status"
fi
echo "Built $deb ($(du -k "$deb" | cut -f1) KiB)"
