#!/usr/bin/env bash
# Builds a Release build in build-package/ and makes the Debian package from
# it. Prints the path of the .deb on the last line.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-package"

# The package's Depends is computed by dpkg-shlibdeps; without it CPack would
# make a package that declares no Qt runtime at all.
if ! command -v dpkg-shlibdeps >/dev/null 2>&1; then
    if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
        echo "dpkg-shlibdeps missing: installing dpkg-dev" >&2
        apt-get install -y dpkg-dev >&2
    else
        echo "dpkg-shlibdeps not found: install the package dpkg-dev" >&2
        exit 1
    fi
fi
for tool in cmake cpack ninja; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "$tool not found" >&2
        exit 1
    fi
done
if [ ! -f "$root/README.md" ]; then
    echo "README.md missing: the package installs it as documentation" >&2
    exit 1
fi

cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_TESTING=OFF \
    -DSOCKWISE_BUILD_BENCH=OFF >&2
cmake --build "$build" --target sockwise -j "$(nproc)" >&2

# A stale package from an earlier run must not be mistaken for this one.
rm -f "$build"/sockwise_*.deb
(cd "$build" && cpack -G DEB) >&2

deb="$(ls "$build"/sockwise_*_*.deb)"
echo "$deb"
