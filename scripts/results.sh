# shellcheck shell=bash
# The test command's record of each build: how it ended, how many suites
# passed, failed and were skipped, and for a build that did not run, why.
# Sourced by scripts/test.sh (and its own test); one file per build in
# ZYR_RESULTS, so builds tested in the background report the same way.

# zyr_result BUILD STATE PASSED FAILED SKIPPED [NOTE]
#   STATE: passed, failed, build-failed or not-tested.
zyr_result() {
    mkdir -p "$ZYR_RESULTS"
    printf '%s\t%s\t%s\t%s\t%s\n' "$2" "$3" "$4" "$5" "${6:-}" >"$ZYR_RESULTS/$1"
}

# zyr_ctest_counts LOG: "PASSED FAILED SKIPPED" from a ctest run's output,
# nothing when ctest printed no summary (it did not get to run its tests).
zyr_ctest_counts() {
    local line total failed skipped
    line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1) || true
    [ -n "$line" ] || return 0
    failed=$(sed -E 's/^[0-9]+% tests passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    # A suite with nothing to test says so with its skip code, and ctest
    # lists it among those that did not run.
    skipped=$(grep -cE '^[[:space:]]*[0-9]+ - .*\(Skipped\)$' "$1" || true)
    echo "$((total - failed - skipped)) $failed $skipped"
}

# zyr_result_from_ctest BUILD LOG STATUS: the row of a build whose suites
# ctest ran, its output in LOG and its exit status STATUS.
zyr_result_from_ctest() {
    local counts
    counts=$(zyr_ctest_counts "$2")
    if [ -z "$counts" ]; then
        zyr_result "$1" failed 0 1 0 "its suites did not run: $(grep -v '^ *$' "$2" | tail -n 1 || true)"
        return
    fi
    set -- "$1" "$3" $counts
    if [ "$2" = 0 ] && [ "$4" = 0 ]; then zyr_result "$1" passed "$3" 0 "$5"; else
        zyr_result "$1" failed "$3" "$(($4 > 0 ? $4 : 1))" "$5"; fi
}

# zyr_result_from_script BUILD LOG STATUS: the row of a stack tested by a
# script of its own, which ends with "N passed, M failed" (exit 0 or 1) or
# with "not tested: WHY" (exit 77).
zyr_result_from_script() {
    local last passed failed
    last=$(grep -v '^ *$' "$2" | tail -n 1) || true
    if [ "$3" = 77 ]; then
        zyr_result "$1" not-tested 0 0 0 "${last#not tested: }"
        return
    fi
    if [[ $last =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed ]]; then
        passed=${BASH_REMATCH[1]} failed=${BASH_REMATCH[2]}
        if [ "$3" = 0 ] && [ "$failed" = 0 ]; then zyr_result "$1" passed "$passed" 0 0; else
            zyr_result "$1" failed "$passed" "$((failed > 0 ? failed : 1))" 0; fi
    else
        zyr_result "$1" failed 0 1 0 "ended without its count (exit $3): $last"
    fi
}

# zyr_summary BUILD...: the table of the builds named, then the closing
# line "N passed, M failed" counting suites (a build that did not compile,
# or that is required by ZYR_REQUIRE and did not run, counts as one failed
# suite). Fails when anything failed.
zyr_summary() {
    local build state passed failed skipped note all_passed=0 all_failed=0
    printf '%-8s %-13s %7s %7s %8s  %s\n' build result passed failed skipped note
    for build in "$@"; do
        if [ -f "$ZYR_RESULTS/$build" ]; then
            IFS=$'\t' read -r state passed failed skipped note <"$ZYR_RESULTS/$build"
        else
            state=failed passed=0 failed=1 skipped=0 note="it ended without a result"
        fi
        if [ "$state" = not-tested ]; then
            case " ${ZYR_REQUIRE:-} " in
            *" $build "*) state=failed failed=1 note="required (ZYR_REQUIRE) but not tested: $note" ;;
            *) note="not tested: $note" ;;
            esac
        fi
        printf '%-8s %-13s %7s %7s %8s  %s\n' "$build" "$state" "$passed" "$failed" "$skipped" "$note"
        all_passed=$((all_passed + passed))
        all_failed=$((all_failed + failed))
    done
    echo "$all_passed passed, $all_failed failed"
    [ "$all_failed" = 0 ]
}
