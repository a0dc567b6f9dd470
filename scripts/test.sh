#!/usr/bin/env bash
# Installs what is missing, builds build/ and runs every test.
#   scripts/test.sh             the suite, in build/
#   scripts/test.sh --sanitize  the suite built with AddressSanitizer and UBSan, in build-sanitize/
#   Further arguments go to ctest (for example -R ChannelLog).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

dir="$VX_BUILD"
cmake_args=()
if [ "${1:-}" = "--sanitize" ]; then
  shift
  dir="$VX_ROOT/build-sanitize"
  cmake_args=(-DVX_SANITIZE=address,undefined)
  export LSAN_OPTIONS="suppressions=$VX_ROOT/tests/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
fi

vx_install_deps
vx_build "$dir" "${cmake_args[@]}"
cd "$dir"
ctest --output-on-failure -j "$(nproc)" "$@"
