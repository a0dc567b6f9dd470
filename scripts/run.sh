#!/usr/bin/env bash
# Installs what is missing, builds build/ and starts Vantorix. Without arguments it shows the
# window when there is a display and otherwise runs headless (-quiet); arguments are passed on.
# The program prints where its web administration answers.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

vx_install_deps
vx_build

program="$VX_BUILD/bin/vantorix"
if [ $# -eq 0 ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: starting Vantorix headless (stop it with Ctrl-C or SIGTERM)."
  set -- -quiet
fi
exec "$program" "$@"
