#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through ctest. Tests that need D-Bus start
# their own private session bus (dbus-run-session); widget tests run offscreen.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh" "$here/build"
cd "$here/build"
ctest --output-on-failure --timeout 900 -j2 "$@"
