#!/usr/bin/env bash
# The set-up's decisions on a machine whose mirror is not whole, against a
# stand-in apt-get (and dpkg, dpkg-query) on the PATH: which lines it
# prints, what it records for the run and test commands, and that it goes
# on. Then the test command's closing table from recorded results.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/zyr-setup-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
passed=0 failed=0

# The stand-ins read their behaviour from $work/case/*: update-fails (how
# many updates fail before one succeeds), install-<package> (apt's output
# when installing it fails; the word "once" first makes it fail one time).
mkdir -p "$work/bin"
cat >"$work/bin/apt-get" <<'STAND_IN'
#!/usr/bin/env bash
echo "$*" >>"$CASE/calls"
case " $* " in *" update "*)
    n=$(cat "$CASE/update-fails" 2>/dev/null || echo 0)
    # The index that fails is an i386 one: fetched once the architecture is added.
    if [ "$n" -gt 0 ] && grep -qx i386 "$CASE/arches" 2>/dev/null; then
        echo $((n - 1)) >"$CASE/update-fails"
        echo "Err:6 http://deb.example/debian-security bookworm-security/main i386 Packages"
        echo "E: Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]"
        echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
        exit 100
    fi
    exit 0 ;;
esac
for p in "$@"; do
    case $p in -*|install) continue ;; esac
    if [ -f "$CASE/install-$p" ]; then
        if [ "$(head -n 1 "$CASE/install-$p")" = once ]; then
            tail -n +2 "$CASE/install-$p"; rm "$CASE/install-$p"; exit 100
        fi
        cat "$CASE/install-$p"; exit 100
    fi
done
for p in "$@"; do case $p in -*|install) ;; *) echo "$p" >>"$CASE/installed" ;; esac; done
STAND_IN
cat >"$work/bin/dpkg-query" <<'STAND_IN'
#!/usr/bin/env bash
grep -qx "${!#}" "$CASE/installed" 2>/dev/null && printf 'install ok installed' || exit 1
STAND_IN
cat >"$work/bin/dpkg" <<'STAND_IN'
#!/usr/bin/env bash
case $1 in
--print-foreign-architectures) cat "$CASE/arches" 2>/dev/null ;;
--add-architecture) echo "$2" >>"$CASE/arches" ;;
esac
STAND_IN
chmod +x "$work/bin/"*

refusal='Some packages could not be installed. This may mean that you have
requested an impossible situation.
The following packages have unmet dependencies:
 libxml2:i386 : Depends: liblzma5:i386 (>= 5.1.1alpha+20120614) but it is not going to be installed
E: Error, pkgProblemResolver::Resolve generated breaks, this may be caused by held packages.'
fetch='Err:1 http://deb.example/debian bookworm/main amd64 nsis amd64 3.08-3
E: Failed to fetch http://deb.example/debian/pool/main/n/nsis/nsis_3.08-3_amd64.deb  Connection failed'

# check NAME CONDITION...: one expectation of the current case.
check() {
    local name=$1; shift
    if "$@"; then passed=$((passed + 1)); else
        failed=$((failed + 1)); echo "FAILED: $case_name: $name"; sed 's/^/    | /' "$CASE/out"; fi
}
has() { grep -qF -- "$1" "$CASE/out"; }
lacks() { ! grep -qF -- "$1" "$CASE/out"; }
calls_out() { [ "$(grep -c -- "$1" "$CASE/out")" = "$2" ]; }
calls() { [ "$(grep -cE -- "$1" "$CASE/calls" 2>/dev/null)" = "$2" ]; }
never_removes() { ! grep -qE -- '(^| )(remove|purge|autoremove)( |$)' "$CASE/calls" && ! grep -E ' install ' "$CASE/calls" | grep -qv -- '--no-remove'; }

# new_case NAME: the current case, with a fresh folder of its own in $CASE.
new_case() {
    case_name=$1
    export CASE=$work/$case_name
    mkdir -p "$CASE"
}

# run_setup NAME [SETUP...]: a fresh case, then the set-up's install step.
run_setup() {
    new_case "$1"; shift
    "$@"
    (
        export PATH="$work/bin:$PATH" ZYR_BUILD=$CASE/build ZYR_RETRY_PAUSE=0
        export ZYR_PACKAGES="cmake wine64" ZYR_PACKAGES_I386="wine32:i386"
        source "$root/scripts/env.sh"
        zyr_as_root() { "$@"; }
        zyr_install_packages
        echo "status=$?"
        echo "why=$(zyr_setup_why i686)"
    ) >"$CASE/out" 2>&1
}

# The mirror of the day: one i386 index fails every time, and the loader
# depends on i386 twins the mirror does not offer.
run_setup broken-mirror eval 'echo 9 >$CASE/update-fails; printf "%s\n" "$refusal" >$CASE/install-wine32:i386'
check "goes on" has "status=0"
check "update tried three times after the i386 architecture" calls '(^| )update$' 4
check "the failed index named once" calls_out 'apt-get update still fails' 1
check "the failed index named" has "set-up: apt-get update still fails after 3 tries; going on without: http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz (File has unexpected size (374820 != 376004). Mirror sync in progress?)"
check "the loader's refusal in apt's words" has "set-up: the 32-bit loader (wine32:i386) could not be installed: libxml2:i386 : Depends: liblzma5:i386 (>= 5.1.1alpha+20120614) but it is not going to be installed"
check "the reason kept for the test command" has "why=the 32-bit loader could not be installed: libxml2:i386 : Depends:"
check "a refusal is not retried" calls 'wine32:i386' 1
check "the rest installed" grep -qx cmake "$CASE/installed"
check "nothing removed" never_removes

# A mirror that comes right on the second try: nothing to say.
run_setup mirror-in-sync eval 'echo 1 >$CASE/update-fails'
check "goes on" has "status=0"
check "no line about the index" lacks "apt-get update"
check "the loader installed" grep -qx 'wine32:i386' "$CASE/installed"
check "nothing kept against i686" has "why="$'\n'
check "the i386 architecture added" grep -qx i386 "$CASE/arches"
check "updated again after adding it" calls '(^| )update$' 3

# A download cut short is tried again; a package that cannot be had is
# named, and the others are installed without it.
run_setup download-retried eval 'printf "once\n%s\n" "$fetch" >$CASE/install-cmake'
check "retried and installed" grep -qx cmake "$CASE/installed"
check "nothing said" lacks "could not install"
run_setup package-missing eval 'echo "E: Unable to locate package cmake" >$CASE/install-cmake'
check "goes on" has "status=0"
check "names the package and apt's reason" has "set-up: could not install cmake (Unable to locate package cmake); going on without them"
check "the others installed" grep -qx wine64 "$CASE/installed"

# A machine where the loader is installed but cannot be found: the test and
# run commands learn why, and a loader's reason kept from before stays.
new_case loader-absent
(
    export ZYR_BUILD=$CASE/build
    source "$root/scripts/env.sh"
    WINE32=$CASE/no-such-loader
    zyr_ensure_32bit && echo "ensure=ok" || echo "ensure=failed"
    echo "why=$(zyr_setup_why i686)"
) >"$CASE/out" 2>&1
check "not run" has "ensure=failed"
check "says why" has "why=the 32-bit loader ($CASE/no-such-loader) is not installed"

# The closing table, from recorded results: rows as the test command makes them.
summary() {
    new_case "$1"; shift
    (
        export ZYR_RESULTS=$CASE/results
        source "$root/scripts/results.sh"
        "$@"
        zyr_summary native i686 x86_64 linux web
        echo "status=$?"
    ) >"$CASE/out" 2>&1
}
ctest_log='    Start 1: portable_tests
1/3 Test #1: portable_tests ...   Passed    1.02 sec
2/3 Test #2: vconv_tests ......***Skipped   0.01 sec
3/3 Test #3: app_tests ........   Passed    9.00 sec

100% tests passed, 0 tests failed out of 3

The following tests did not run:
	  2 - vconv_tests (Skipped)'
failing_log='90% tests passed, 1 tests failed out of 10'
results_of_the_day() {
    printf '%s\n' "$ctest_log" >"$CASE/native.log"; zyr_result_from_ctest native "$CASE/native.log" 0
    zyr_result i686 not-tested 0 0 0 "the 32-bit loader could not be installed: libxml2:i386 : Depends: liblzma5:i386"
    printf '%s\n' "$ctest_log" >"$CASE/x.log"; zyr_result_from_ctest x86_64 "$CASE/x.log" 0
    printf 'boot\n4 passed, 0 failed\n' >"$CASE/l.log"; zyr_result_from_script linux "$CASE/l.log" 0
    printf 'not tested: chromium could not be installed: no such package\n' >"$CASE/w.log"; zyr_result_from_script web "$CASE/w.log" 77
}
summary untested-build results_of_the_day
check "passes" has "status=0"
check "counts the skipped suite apart" grep -qE '^native +passed +2 +0 +1' "$CASE/out"
check "says why i686 did not run" grep -qE '^i686 +not-tested +0 +0 +0  not tested: the 32-bit loader could not be installed: libxml2:i386' "$CASE/out"
check "the script's count" grep -qE '^linux +passed +4 +0 +0' "$CASE/out"
check "the script's reason" grep -qE '^web +not-tested .*not tested: chromium could not be installed' "$CASE/out"
check "the closing count" grep -qx '8 passed, 0 failed' "$CASE/out"
summary required-build eval 'export ZYR_REQUIRE="i686"; results_of_the_day'
check "fails" has "status=1"
check "says it was required" grep -qE '^i686 +failed +0 +1 .*required \(ZYR_REQUIRE\) but not tested: the 32-bit loader' "$CASE/out"
summary suite-failed eval 'results_of_the_day; printf "%s\n" "$failing_log" >$CASE/f.log; zyr_result_from_ctest x86_64 $CASE/f.log 8'
check "fails" has "status=1"
check "counts the failed suite" grep -qE '^x86_64 +failed +9 +1 +0' "$CASE/out"
summary build-broken eval 'results_of_the_day; zyr_result x86_64 build-failed 0 1 0 "did not compile"; printf "Segmentation fault\n" >$CASE/l.log; zyr_result_from_script linux $CASE/l.log 139'
check "fails" has "status=1"
check "a build that did not compile" grep -qE '^x86_64 +build-failed +0 +1 +0  did not compile' "$CASE/out"
check "a script that ended without its count" grep -qE '^linux +failed +0 +1 +0  ended without its count \(exit 139\): Segmentation fault' "$CASE/out"
summary missing-row true
check "a build with no row fails" grep -qE '^native +failed +0 +1 +0  it ended without a result' "$CASE/out"

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
