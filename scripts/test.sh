#!/usr/bin/env bash
# Every test, from a fresh Debian 12 machine: installs the packages, runs
# the include check (scripts/check_includes.py), builds, and runs every
# suite on every build this machine can run:
#   native  the portable core with sanitizers, its tests and fuzzers
#   i686    the shipped 32-bit programs under Wine's 32-bit loader
#   x86_64  the same sources under wine64
#   linux   the native Linux zyrctl over the kernel's HID stack (scripts/test_linux.sh)
#   web     the page in Chromium over WebHID (scripts/test_web.sh)
# A part of the set-up that cannot be installed (the 32-bit loader when the
# mirror lacks its i386 libraries) leaves its build untested, not failed;
# the last lines are a table of the builds, with the reason for each that
# did not run, and "N passed, M failed" over all suites. The command fails
# when a suite that ran failed, a build did not compile, or a build named
# in ZYR_REQUIRE could not run.
#
# The builds are made one after the other, each on every core; the two
# Windows builds' suites then run at the same time, each in its own prefix,
# Wine session and virtual display, while the native tests run; their logs
# are printed whole once they end. The Linux and browser stacks, which
# emulate a whole machine, run after them.
#
#   ZYR_BUILDS="x86_64" bash scripts/test.sh           only some builds
#   ZYR_REQUIRE="i686" bash scripts/test.sh            fail if i686 cannot be tested
#   ZYR_CTEST_ARGS="-R portable" bash scripts/test.sh  only some suites (ctest builds)
#   ZYR_SERIAL=1 bash scripts/test.sh                  one build's tests after the other
set -euo pipefail
source "$(dirname "$0")/env.sh"
source "$(dirname "$0")/results.sh"
trap zyr_stop_all EXIT

all_builds="native i686 x86_64 linux web"
builds=${ZYR_BUILDS:-$all_builds}
for build in $builds ${ZYR_REQUIRE:-}; do
    case " $all_builds " in *" $build "*) ;; *) echo "unknown build: $build (builds: $all_builds)" >&2; exit 2 ;; esac
done

ZYR_RESULTS=$(mktemp -d "${TMPDIR:-/tmp}/zyr-results.XXXXXX")
logs=$ZYR_RESULTS/logs
mkdir -p "$logs"
trap 'zyr_stop_all; rm -rf "$ZYR_RESULTS"' EXIT

zyr_install_packages
checks_failed=0
echo "== include check"
python3 "$ZYR_ROOT/scripts/check_includes.py" || checks_failed=1

describe() {
    case $1 in
    native) echo "native build (AddressSanitizer, UndefinedBehaviorSanitizer)" ;;
    i686)   echo "i686 build (the shipped 32-bit program): tests under $WINE32, win32 prefix" ;;
    x86_64) echo "x86_64 build: tests under $WINE64, win64 prefix" ;;
    linux)  echo "Linux zyrctl over the kernel's HID stack" ;;
    web)    echo "browser page over WebHID" ;;
    esac
}

# The ctest builds are compiled here; the other stacks' scripts build their own.
ctest_builds=()
for build in $builds; do
    case $build in native|i686|x86_64) ;; *) continue ;; esac
    echo "== building the $(describe "$build")"
    start=$SECONDS
    status=0
    if [ "$build" = native ]; then zyr_build_native || status=$?; else zyr_build_windows "$build" || status=$?; fi
    if [ $status != 0 ]; then
        echo "   the $build build FAILED to compile"
        zyr_result "$build" build-failed 0 1 0 "did not compile"
        continue
    fi
    echo "   built in $((SECONDS - start)) s"
    # The i686 programs are built on any machine; they run only where the
    # 32-bit loader could be installed and starts programs.
    if [ "$build" = i686 ] && ! zyr_ensure_32bit; then
        zyr_result i686 not-tested 0 0 0 "$(zyr_setup_why i686)"
        echo "   i686: not tested: $(zyr_setup_why i686)"
        continue
    fi
    ctest_builds+=("$build")
done

# One build's suites, in a shell of its own that ends its display and Wine
# session however it ends; its row goes to the results.
run_tests() {
    local build=$1 start=$SECONDS status=0
    (
        trap zyr_stop_all EXIT
        # shellcheck disable=SC2086  # ctest arguments, one word each
        zyr_ctest "$build" ${ZYR_CTEST_ARGS:-}
    ) 2>&1 | tee "$logs/$build.ctest" || status=$?
    zyr_result_from_ctest "$build" "$logs/$build.ctest" "$status"
    echo "== tests of the $build build: $([ $status = 0 ] && echo passed || echo FAILED) in $((SECONDS - start)) s"
}

pids=()
running=()
for build in "${ctest_builds[@]}"; do
    [ "$build" != native ] && [ -z "${ZYR_SERIAL:-}" ] || continue
    echo "== tests of the $(describe "$build"): started; the log follows when they end"
    run_tests "$build" >"$logs/$build.log" 2>&1 &
    pids+=($!)
    running+=("$build")
    # The user's display (ZYR_USE_DISPLAY) serves the first; the next
    # starts one of its own.
    export ZYR_USE_DISPLAY=
done
for build in "${ctest_builds[@]}"; do
    [ "$build" = native ] || [ -n "${ZYR_SERIAL:-}" ] || continue
    echo "== tests of the $(describe "$build")"
    run_tests "$build"
done
for i in "${!pids[@]}"; do
    wait "${pids[$i]}" || true
    echo "== log of the $(describe "${running[$i]}")"
    cat "$logs/${running[$i]}.log"
done

# The stacks with scripts of their own: exit 0 or 1 with "N passed, M
# failed" last, or 77 with "not tested: WHY".
for build in linux web; do
    case " $builds " in *" $build "*) ;; *) continue ;; esac
    script=$ZYR_ROOT/scripts/test_$build.sh
    echo "== tests of the $(describe "$build")"
    if [ ! -f "$script" ]; then
        zyr_result "$build" not-tested 0 0 0 "this tree has no scripts/test_$build.sh"
        continue
    fi
    start=$SECONDS
    status=0
    bash "$script" 2>&1 | tee "$logs/$build.log" || status=$?
    zyr_result_from_script "$build" "$logs/$build.log" "$status"
    echo "== tests of the $build stack ended in $((SECONDS - start)) s"
done

echo "== summary"
summary_status=0
# shellcheck disable=SC2086  # one word per build
zyr_summary $builds || summary_status=1
if [ $checks_failed != 0 ]; then
    echo "the include check FAILED (above)"
    summary_status=1
fi
exit $summary_status
