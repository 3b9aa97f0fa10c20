#!/usr/bin/env bash
# Every test, from a fresh Debian 12 machine: installs the packages, builds
# the portable core natively with sanitizers and both Windows programs, and
# runs every suite of each build, after the include check
# (scripts/check_includes.py): natively, the i686 build (the one that
# ships) under Wine's 32-bit loader, and the x86_64 build under wine64.
# The builds are made one after the other, each on every core; the two
# Windows builds' tests then run at the same time, each in its own prefix,
# Wine session and virtual display (their time goes mostly to waiting on
# Wine processes) while the native tests run, and each Windows build's log
# is printed whole once it ends.
# A failing build's tests do not stop the next build's; the command fails
# at the end if any did.
#
#   ZYR_BUILDS="i686" bash scripts/test.sh             only some builds (native, i686, x86_64)
#   ZYR_CTEST_ARGS="-R portable" bash scripts/test.sh  only some suites
#   ZYR_SERIAL=1 bash scripts/test.sh                  one build's tests after the other
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

describe() {
    case $1 in
    native) echo "native build (AddressSanitizer, UndefinedBehaviorSanitizer)" ;;
    i686)   echo "i686 build (the shipped 32-bit program): tests under $WINE32, win32 prefix" ;;
    x86_64) echo "x86_64 build: tests under $WINE64, win64 prefix" ;;
    esac
}

for build in $builds; do
    echo "== building the $(describe "$build")"
    start=$SECONDS
    if [ "$build" = native ]; then zyr_build_native; else zyr_build_windows "$build"; fi
    echo "   built in $((SECONDS - start)) s"
done

# One build's tests, in a shell of its own that ends its display and Wine
# session however it ends.
run_tests() {
    local build=$1 start=$SECONDS status=0
    (
        trap zyr_stop_all EXIT
        # shellcheck disable=SC2086  # ctest arguments, one word each
        zyr_ctest "$build" ${ZYR_CTEST_ARGS:-}
    ) || status=$?
    echo "== tests of the $build build: $([ $status = 0 ] && echo passed || echo FAILED) in $((SECONDS - start)) s"
    return $status
}

failed=()
logs=$(mktemp -d "${TMPDIR:-/tmp}/zyr-test-logs.XXXXXX")
pids=()
running=()
for build in $builds; do
    [ "$build" != native ] && [ -z "${ZYR_SERIAL:-}" ] || continue
    echo "== tests of the $(describe "$build"): started; the log follows when they end"
    run_tests "$build" >"$logs/$build.log" 2>&1 &
    pids+=($!)
    running+=("$build")
    # The user's display (ZYR_USE_DISPLAY) serves the first; the next
    # starts one of its own.
    export ZYR_USE_DISPLAY=
done
for build in $builds; do
    [ "$build" = native ] || [ -n "${ZYR_SERIAL:-}" ] || continue
    echo "== tests of the $(describe "$build")"
    run_tests "$build" || failed+=("$build")
done
for i in "${!pids[@]}"; do
    status=0
    wait "${pids[$i]}" || status=$?
    echo "== log of the $(describe "${running[$i]}")"
    cat "$logs/${running[$i]}.log"
    [ $status = 0 ] || failed+=("${running[$i]}")
done
rm -rf "$logs"

if [ ${#failed[@]} -gt 0 ]; then
    echo "== tests failed on: ${failed[*]}" >&2
    exit 1
fi
echo "== all tests passed on: $builds"
