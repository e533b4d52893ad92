#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite.
# Extra arguments go to ctest, e.g. scripts/test.sh -R comm
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

sockwise_install_packages
sockwise_build

# The loopback peers run on Debian's interpreter, whatever python3 is first on PATH.
if ! /usr/bin/python3 -c 'import websockets' 2>/dev/null; then
    echo "test: /usr/bin/python3 cannot import websockets (package python3-websockets)" >&2
    exit 1
fi

ctest --test-dir "$SOCKWISE_BUILD_DIR" --output-on-failure \
    --parallel "${SOCKWISE_TEST_JOBS:-2}" --timeout "${SOCKWISE_TEST_TIMEOUT:-600}" "$@"
