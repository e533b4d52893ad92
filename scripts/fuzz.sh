#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang and runs each for a while.
#
#   scripts/fuzz.sh [SECONDS] [HARNESS...]
#
# SECONDS per harness (default 10); harnesses: hex codec rule feed chart json
# saved settings replyfile template har socketio cbor msgpack protobuf compressed
# (default all). Each starts from the committed seeds in fuzz/corpus/<name>;
# inputs it finds go to build-fuzz/corpus/<name>, crash reproducers to
# build-fuzz/artifacts. Prints one line per harness; exits non-zero when any
# harness found a crash, a leak or a timeout.
#
# SOCKWISE_FUZZ_BUILD_DIR  build directory (default: build-fuzz/ in the repository)
# SOCKWISE_FUZZ_JOBS       parallel compile jobs (default 2)
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${SOCKWISE_FUZZ_BUILD_DIR:-$root/build-fuzz}"
seconds="${1:-10}"
shift || true
all=(hex codec rule feed chart json saved settings replyfile template har socketio
     cbor msgpack protobuf compressed)
harnesses=("$@")
[ "${#harnesses[@]}" -eq 0 ] && harnesses=("${all[@]}")

if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ]; then
    echo "fuzz: SECONDS must be a positive whole number, not '$seconds'" >&2
    exit 2
fi
for name in "${harnesses[@]}"; do
    if [ ! -d "$root/fuzz/corpus/$name" ]; then
        echo "fuzz: unknown harness '$name' (have: ${all[*]})" >&2
        exit 2
    fi
done
for tool in clang clang++ cmake ninja; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "fuzz: $tool not found (Debian: clang libclang-rt-14-dev cmake ninja-build)" >&2
        exit 1
    fi
done

if [ ! -f "$build/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSOCKWISE_FUZZ=ON \
        -DBUILD_TESTING=OFF -DSOCKWISE_BUILD_BENCH=OFF || exit 1
fi
targets=()
for name in "${harnesses[@]}"; do
    targets+=("fuzz_$name")
done
ninja -C "$build" -j "${SOCKWISE_FUZZ_JOBS:-2}" "${targets[@]}" || exit 1

mkdir -p "$build/artifacts"
export QT_QPA_PLATFORM=offscreen
# Qt's own libraries are not instrumented; a report must still stop the run.
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

failed=0
summary=()
for name in "${harnesses[@]}"; do
    work="$build/corpus/$name"
    log="$build/fuzz-$name.log"
    mkdir -p "$work"
    options=(-max_total_time="$seconds" -max_len=4096 -timeout=30 -rss_limit_mb=4096
             -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-")
    # The window keeps every frame in its log by design, so memory grows from
    # input to input; libFuzzer's per-input leak check would take that for a
    # leak and rescan the whole heap each time. Leaks at exit are still reported.
    # Its heap is large and busy, so a smaller quarantine keeps long runs
    # under the memory limit.
    asan="${ASAN_OPTIONS:-}"
    if [ "$name" = chart ]; then
        options+=(-detect_leaks=0)
        asan="${ASAN_OPTIONS:-quarantine_size_mb=64}"
    fi

    # New inputs go to the first directory only; the seeds are read, never written.
    ASAN_OPTIONS="$asan" "$build/fuzz/fuzz_$name" "${options[@]}" "$work" \
        "$root/fuzz/corpus/$name" >"$log" 2>&1
    status=$?

    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)"
    if [ "$status" -eq 0 ]; then
        result=ok
    else
        result="FAILED (exit $status, see $log)"
        failed=1
        artifact="$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -n 1)"
        [ -n "$artifact" ] && result="$result reproducer $artifact"
    fi
    summary+=("$(printf 'fuzz_%-6s %4ss  runs=%-10s exec/s=%-8s %s' \
        "$name" "$seconds" "${runs:-?}" "${rate:-?}" "$result")")
    echo "${summary[-1]}"
done

echo "----"
printf '%s\n' "${summary[@]}"
exit "$failed"
