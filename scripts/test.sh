#!/usr/bin/env bash
# Every test, from a fresh Debian 12 machine: installs the packages, builds
# the portable core natively with sanitizers, both Windows programs (i686
# ships, x86_64 runs here), and runs every test.
set -euo pipefail
source "$(dirname "$0")/env.sh"
trap zyr_stop_all EXIT

zyr_install_packages

echo "== native build (AddressSanitizer, UndefinedBehaviorSanitizer)"
zyr_build_native
(cd "$ZYR_BUILD/native" && ctest --output-on-failure)

echo "== i686 build (the shipped 32-bit program)"
zyr_build_windows i686

echo "== x86_64 build"
zyr_build_windows x86_64

echo "== tests under wine64"
zyr_start_display
zyr_start_wine
(cd "$ZYR_BUILD/x86_64" && ctest --output-on-failure ${ZYR_CTEST_ARGS:-})
