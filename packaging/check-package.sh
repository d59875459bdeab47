#!/usr/bin/env bash
# Builds the Debian package of a build folder and has lintian check it (installing lintian when it is
# missing). lintian reads the package's own overrides, each with its reason, from
# /usr/share/lintian/overrides/pro-tombrel inside the package.
#   packaging/check-package.sh [BUILD_DIR]          (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
command -v lintian >/dev/null || "$here/scripts/install-deps.sh" <(echo lintian)
cmake --build "$build" --target package
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
deb="$build/pro-tombrel_${version}_$(dpkg --print-architecture).deb"
echo "lintian $deb"
lintian --fail-on error --display-info "$deb"
