#!/usr/bin/env bash
# Installs what is missing, builds and starts Sockwise.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

sockwise_install_packages
sockwise_build sockwise

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "run: no display found; on a headless machine try: xvfb-run -a $0" >&2
fi
exec "$SOCKWISE_BUILD_DIR/src/sockwise" "$@"
