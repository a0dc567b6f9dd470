#!/usr/bin/env bash
# Installs what is missing, builds build/ and starts Vantorix with the given arguments.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

vx_install_deps
vx_build

program="$VX_BUILD/bin/vantorix"
if [ ! -x "$program" ]; then
  echo "Built everything there is; there is no vantorix program to start yet."
  exit 1
fi
exec "$program" "$@"
