# Shared by run.sh and test.sh: install what is missing, then configure and build.
# Sourced, not run.

VX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VX_BUILD="$VX_ROOT/build"

# vx_wanted_packages [LIST]: the names in LIST (default scripts/deps).
vx_wanted_packages() {
  sed -e 's/#.*//' "${1:-$VX_ROOT/scripts/deps}" | tr -s ' \t' '\n\n' | grep -v '^$'
}

# The names installed packages provide besides their own: some nodejs builds carry npm and say
# so, and asking apt for the separate npm package then fails on the conflict.
vx_provided_packages() {
  dpkg-query -W -f='${db:Status-Abbrev}|${Provides}\n' 2>/dev/null |
    awk -F'|' '$1 ~ /^ii/ { print $2 }' | tr ',' '\n' | sed -e 's/^ *//' -e 's/[ :(].*//' |
    grep -v '^$' | sort -u
}

vx_missing_packages() {
  local pkg provided
  provided=$(vx_provided_packages)
  for pkg in $(vx_wanted_packages "$@"); do
    dpkg-query -W -f='${Status}\n' "$pkg" 2>/dev/null | grep -q '^install ok installed$' && continue
    grep -qxF -- "$pkg" <<<"$provided" && continue
    echo "$pkg"
  done
}

# vx_install_deps [LIST]: installs what of LIST (default scripts/deps) is missing.
vx_install_deps() {
  local missing
  missing=$(vx_missing_packages "$@" | tr '\n' ' ')
  [ -n "${missing// /}" ] || return 0
  echo "Installing missing packages: $missing"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || {
      echo "error: packages are missing ($missing) and sudo is not available" >&2
      return 1
    }
    sudo=(sudo)
  fi
  # Services that come with test peers (nginx) must not start on their own.
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q || return 1
  # shellcheck disable=SC2086
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends $missing || return 1
}

# vx_build [BUILD_DIR [CMAKE_ARGS...]]: a Release tree, warnings treated as errors.
vx_build() {
  local dir=${1:-$VX_BUILD}
  shift || true
  cmake -S "$VX_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVX_WERROR=ON "$@" \
    ${VX_CMAKE_ARGS:-} >/dev/null || return 1
  cmake --build "$dir" || return 1
}
