#!/usr/bin/env bash
# Installs the Debian packages that are missing (with sudo when not root), then configures and builds.
# usage: scripts/setup.sh [BUILD_DIR [CMAKE_OPTION...]]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
[ $# -gt 0 ] && shift

"$here/scripts/install-deps.sh" "$here/scripts/deps.txt"

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build "$build" -j"$(nproc)"
