#!/usr/bin/env bash
# Installs what is missing, builds build/ and runs every test, the browser tests included.
#   scripts/test.sh             the suite, in build/
#   scripts/test.sh --sanitize  the suite built with AddressSanitizer and UBSan, in build-sanitize/
#   scripts/test.sh --tsan      the suite built with ThreadSanitizer, in build-tsan/
#   scripts/test.sh --package   builds the Debian package (scripts/package.sh) and runs only its
#                               install test (label "package", configured in build-package/)
#   Further arguments go to ctest (for example -R ChannelLog).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

dir="$VX_BUILD"
cmake_args=()
if [ "${1:-}" = "--package" ]; then
  shift
  # Installs what packaging and the test need (scripts/deps-package) and the build dependencies.
  "$VX_ROOT/scripts/package.sh"
  # Nothing here is built: the test installs the package into a container.
  cmake -S "$VX_ROOT" -B "$VX_ROOT/build-package" -G Ninja -DBUILD_TESTING=OFF \
    -DVX_PACKAGE_TESTS=ON >/dev/null
  exec ctest --test-dir "$VX_ROOT/build-package" --output-on-failure -L package "$@"
elif [ "${1:-}" = "--sanitize" ]; then
  shift
  dir="$VX_ROOT/build-sanitize"
  cmake_args=(-DVX_SANITIZE=address,undefined)
  export LSAN_OPTIONS="suppressions=$VX_ROOT/tests/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
elif [ "${1:-}" = "--tsan" ]; then
  shift
  dir="$VX_ROOT/build-tsan"
  cmake_args=(-DVX_SANITIZE=thread)
  # Reports go to files, one per process: a child program (morvi-transcoder, the fake
  # transcoder) that races exits non-zero, but the test that ran it rarely shows its stderr.
  tsan_reports="$dir/tsan-reports"
  rm -rf "$tsan_reports"
  mkdir -p "$tsan_reports"
  # Qt is not built for ThreadSanitizer; tests/tsan.supp says what of it is not judged, and why.
  tsan_options="halt_on_error=1:second_deadlock_stack=1:exitcode=66:log_path=$tsan_reports/report"
  tsan_options="$tsan_options:suppressions=$VX_ROOT/tests/tsan.supp"
  export TSAN_OPTIONS="$tsan_options${TSAN_OPTIONS:+:$TSAN_OPTIONS}"
fi

vx_install_deps
vx_build "$dir" "${cmake_args[@]}"

# The browser tests' node packages, as tests/e2e/package-lock.json pins them; installed again
# whenever the lock file is newer than what is there.
e2e="$VX_ROOT/tests/e2e"
if [ ! -d "$e2e/node_modules" ] || [ "$e2e/package-lock.json" -nt "$e2e/node_modules" ]; then
  echo "Installing the browser tests' node packages (npm ci in tests/e2e)"
  npm_log=$(mktemp)
  if ! (cd "$e2e" && npm ci --no-audit --no-fund --loglevel=error) >"$npm_log" 2>&1; then
    cat "$npm_log" >&2
    rm -f "$npm_log"
    echo "error: npm ci in tests/e2e failed; the browser tests (ctest -L e2e) cannot run" >&2
    exit 1
  fi
  rm -f "$npm_log"
  touch "$e2e/node_modules"
fi

cd "$dir"
status=0
ctest --output-on-failure -j "$(nproc)" "$@" || status=$?
if [ -n "${tsan_reports:-}" ] && [ -n "$(ls -A "$tsan_reports")" ]; then
  echo "ThreadSanitizer reports in $tsan_reports:" >&2
  ls -l "$tsan_reports" >&2
  grep -h '^SUMMARY' "$tsan_reports"/* | sort | uniq -c >&2 || true
  [ "$status" -ne 0 ] || status=1
fi
exit "$status"
