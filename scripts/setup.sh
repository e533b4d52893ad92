# shellcheck shell=bash
# Shared by run.sh and test.sh (sourced, not run): makes sure the Debian
# packages are there, then configures and builds.
#
# SOCKWISE_BUILD_DIR  build directory (default: build/ in the repository)
# SOCKWISE_BUILD_TYPE CMake build type for a fresh configuration (default: RelWithDebInfo)
# SOCKWISE_CMAKE_ARGS array of extra CMake arguments, passed on every configuration

SOCKWISE_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SOCKWISE_BUILD_DIR="${SOCKWISE_BUILD_DIR:-$SOCKWISE_ROOT/build}"

# Build tools and Qt, then what the program reads at run time and the tests
# use: Qt's own Chinese texts, a virtual display for manual runs without a
# desktop, CJK and colour emoji fonts for the interface, Python's websockets
# for the loopback peer, openssl for the throw-away certificates of the wss
# tests, and clang with its libFuzzer runtime for the fuzz harnesses.
SOCKWISE_PACKAGES=(
    qt6-base-dev
    qt6-websockets-dev
    qt6-charts-dev
    cmake
    ninja-build
    g++
    libgl-dev
    qt6-translations-l10n
    xvfb
    xauth
    fonts-noto-cjk
    fonts-noto-color-emoji
    desktop-file-utils
    python3
    python3-websockets
    python3-cbor2
    python3-msgpack
    python3-protobuf
    protobuf-compiler
    libprotobuf-dev
    libprotoc-dev
    zlib1g-dev
    openssl
    clang
    libclang-rt-14-dev
)

sockwise_install_packages() {
    if ! command -v dpkg >/dev/null 2>&1; then
        echo "setup: dpkg not found; not a Debian system, assuming the packages are present" >&2
        return 0
    fi

    local missing=() pkg
    for pkg in "${SOCKWISE_PACKAGES[@]}"; do
        if ! dpkg -s "$pkg" 2>/dev/null | grep -q '^Status: install ok installed$'; then
            missing+=("$pkg")
        fi
    done
    if [ "${#missing[@]}" -eq 0 ]; then
        return 0
    fi

    if [ "$(id -u)" -eq 0 ]; then
        echo "setup: installing ${missing[*]}"
        apt-get update
        DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
    else
        echo "setup: missing packages: ${missing[*]}" >&2
        echo "setup: install them with:" >&2
        echo "    sudo sh -c 'apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y ${missing[*]}'" >&2
        exit 1
    fi
}

# Configures once, then builds the given targets (everything when none).
sockwise_build() {
    local args=()
    if declare -p SOCKWISE_CMAKE_ARGS >/dev/null 2>&1; then
        args=("${SOCKWISE_CMAKE_ARGS[@]}")
    fi
    if [ ! -f "$SOCKWISE_BUILD_DIR/CMakeCache.txt" ]; then
        cmake -S "$SOCKWISE_ROOT" -B "$SOCKWISE_BUILD_DIR" -G Ninja \
            -DCMAKE_BUILD_TYPE="${SOCKWISE_BUILD_TYPE:-RelWithDebInfo}" "${args[@]}"
    else
        cmake -S "$SOCKWISE_ROOT" -B "$SOCKWISE_BUILD_DIR" "${args[@]}"
    fi
    local targets=()
    local target
    for target in "$@"; do
        targets+=(--target "$target")
    done
    cmake --build "$SOCKWISE_BUILD_DIR" "${targets[@]}"
}
