#!/usr/bin/env bash
# Every test, from a fresh Debian 12 machine: installs the packages, builds
# the portable core natively with sanitizers and both Windows programs, and
# runs every suite of each build, after the include check
# (scripts/check_includes.py): natively, then the i686 build (the one
# that ships) under Wine's 32-bit loader, then the x86_64 build under wine64.
# A failing build's tests do not stop the next build's; the command fails at
# the end if any did.
#
#   ZYR_BUILDS="i686" bash scripts/test.sh             only some builds (native, i686, x86_64)
#   ZYR_CTEST_ARGS="-R portable" bash scripts/test.sh  only some suites
set -euo pipefail
source "$(dirname "$0")/env.sh"
trap zyr_stop_all EXIT

builds=${ZYR_BUILDS:-native i686 x86_64}
for build in $builds; do
    case $build in native|i686|x86_64) ;; *) echo "unknown build: $build" >&2; exit 2 ;; esac
done

zyr_install_packages
# Which folder includes which, before anything is built.
echo "== include check"
python3 "$ZYR_ROOT/scripts/check_includes.py"
case " $builds " in *" i686 "*) zyr_ensure_32bit ;; esac

failed=()
for build in $builds; do
    case $build in
    native) echo "== native build (AddressSanitizer, UndefinedBehaviorSanitizer)"
            zyr_build_native ;;
    i686)   echo "== i686 build (the shipped 32-bit program): tests under $WINE32, win32 prefix"
            zyr_build_windows i686 ;;
    x86_64) echo "== x86_64 build: tests under $WINE64, win64 prefix"
            zyr_build_windows x86_64 ;;
    esac
    # shellcheck disable=SC2086  # ctest arguments, one word each
    zyr_ctest "$build" ${ZYR_CTEST_ARGS:-} || failed+=("$build")
    zyr_stop_wine
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "== tests failed on: ${failed[*]}" >&2
    exit 1
fi
echo "== all tests passed on: $builds"
