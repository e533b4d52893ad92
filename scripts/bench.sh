#!/usr/bin/env bash
# Builds the benchmarks (optimised, in build-bench/) and runs the ingest
# benchmark headless: a flood server against a bare client and the window,
# many clients against server mode, endless downloads against the banner.
# Extra arguments go to bench_ingest, e.g. scripts/bench.sh --frames 50000 --no-rss,
# scripts/bench.sh --only accept, scripts/bench.sh --only fdlimit, scripts/bench.sh mock;
# scripts/bench.sh session runs the sessions benchmark instead, scripts/bench.sh decode
# the decoders' one.
# Not part of the test suite: it takes a minute or more and prints ratios.
set -euo pipefail

SOCKWISE_BUILD_DIR="${SOCKWISE_BUILD_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build-bench}"
SOCKWISE_BUILD_TYPE="${SOCKWISE_BUILD_TYPE:-RelWithDebInfo}"
# Benchmarks share the machine with their own peer: build with two jobs.
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"

source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

sockwise_install_packages
# scripts/bench.sh mock [--seconds S] [--rate R]: `sockwise mock` beside a
# python echo server, the same client against both.
if [ "${1:-}" = mock ]; then
    shift
    sockwise_build sockwise >&2
    exec /usr/bin/python3 "$SOCKWISE_ROOT/bench/mock_bench.py" "$SOCKWISE_BUILD_DIR/src/sockwise" "$@"
fi

# scripts/bench.sh session [--messages N] [--replay N]: opening a large HAR in
# the window and replaying one against a python echo server.
if [ "${1:-}" = session ]; then
    shift
    sockwise_build bench_session >&2
    export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
    exec "$SOCKWISE_BUILD_DIR/bench/bench_session" "$@"
fi
# scripts/bench.sh decode [--frames N]: CBOR and MessagePack frames decoded
# beside the same readings as JSON text, as the chart rules read them.
if [ "${1:-}" = decode ]; then
    shift
    sockwise_build bench_decode >&2
    exec "$SOCKWISE_BUILD_DIR/bench/bench_decode" "$@"
fi
# Build messages go to stderr: stdout is the benchmark's report alone.
sockwise_build floodserver feedserver bench_ingest >&2

export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
exec "$SOCKWISE_BUILD_DIR/bench/bench_ingest" "$@"
