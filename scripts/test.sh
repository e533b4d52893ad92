#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite.
# Extra arguments go to ctest, e.g. scripts/test.sh -R comm
#
#   scripts/test.sh [ctest args]             normal build in build/, the suite
#   scripts/test.sh --sanitize [ctest args]  ASan+UBSan build in build-sanitize/, the suite
#   scripts/test.sh --ci [ctest args]        both suites, then a short fuzz run
#
# SOCKWISE_SANITIZE_BUILD_DIR overrides build-sanitize/.
set -euo pipefail

self="${BASH_SOURCE[0]}"
mode=normal
case "${1:-}" in
--sanitize)
    mode=sanitize
    shift
    ;;
--ci)
    mode=ci
    shift
    ;;
esac

source "$(dirname "$self")/setup.sh"

# Each step runs as its own process so that one failing does not hide the
# others; the exit status is non-zero if any of them failed.
if [ "$mode" = ci ]; then
    failed=()
    summary=()
    run_step() {
        local name="$1" start=$SECONDS status=0
        shift
        echo "ci: --- $name ---"
        "$@" || status=$?
        summary+=("$name: $((SECONDS - start)) s, exit $status")
        if [ "$status" -ne 0 ]; then
            failed+=("$name")
        fi
    }
    run_step "suite" "$self" "$@"
    run_step "sanitized suite" "$self" --sanitize "$@"
    if [ -f "$SOCKWISE_ROOT/scripts/fuzz.sh" ]; then
        run_step "fuzz smoke" bash "$SOCKWISE_ROOT/scripts/fuzz.sh" 5
    else
        summary+=("fuzz smoke: skipped, scripts/fuzz.sh not found")
    fi
    for line in "${summary[@]}"; do
        echo "ci: $line"
    done
    if [ "${#failed[@]}" -ne 0 ]; then
        echo "ci: FAILED: ${failed[*]}" >&2
        exit 1
    fi
    echo "ci: all passed"
    exit 0
fi

if [ "$mode" = sanitize ]; then
    SOCKWISE_BUILD_DIR="${SOCKWISE_SANITIZE_BUILD_DIR:-$SOCKWISE_ROOT/build-sanitize}"
    # shellcheck disable=SC2034 # read by sockwise_build in setup.sh
    SOCKWISE_CMAKE_ARGS=(-DSOCKWISE_SANITIZE=ON)
    # libasan and libubsan come with g++; read only when build-sanitize/ is configured first.
    export CXX=g++
fi

sockwise_install_packages
sockwise_build

# The loopback peers run on Debian's interpreter, whatever python3 is first on PATH.
if ! /usr/bin/python3 -c 'import websockets' 2>/dev/null; then
    echo "test: /usr/bin/python3 cannot import websockets (package python3-websockets)" >&2
    exit 1
fi

if [ "$mode" = normal ]; then
    ctest --test-dir "$SOCKWISE_BUILD_DIR" --output-on-failure \
        --parallel "${SOCKWISE_TEST_JOBS:-2}" --timeout "${SOCKWISE_TEST_TIMEOUT:-600}" "$@"
    exit 0
fi

# Options given by the caller come last and win. Reports go to each test's
# output; ctest keeps the output of every test, passed or not, in
# LastTest.log, which is searched afterwards, so that a report from a process
# whose exit status nobody checks (the program that tst_app starts and
# terminates) still fails the run.
supp="$SOCKWISE_ROOT/tests/sanitizer"
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

log="$SOCKWISE_BUILD_DIR/Testing/Temporary/LastTest.log"
rm -f "$log"
status=0
ctest --test-dir "$SOCKWISE_BUILD_DIR" --output-on-failure \
    --parallel "${SOCKWISE_TEST_JOBS:-2}" --timeout "${SOCKWISE_TEST_TIMEOUT:-600}" "$@" ||
    status=$?

pattern='(ERROR|WARNING): (Address|Leak|UndefinedBehavior)Sanitizer|: runtime error: '
if [ ! -f "$log" ]; then
    echo "test: no $log to search for sanitizer reports" >&2
    status=1
elif grep -Eq "$pattern" "$log"; then
    echo "test: sanitizer reports in these tests (full output in $log):" >&2
    awk -v pattern="$pattern" '
        /^[0-9]+\/[0-9]+ Test: / { name = $3 }
        $0 ~ pattern { print "  " name ": " $0 }' "$log" >&2
    status=1
fi
exit "$status"
