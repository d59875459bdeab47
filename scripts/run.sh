#!/usr/bin/env bash
# Installs what is missing, builds, and runs the product with the given arguments.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh" "$here/build" >&2
exec "$here/build/Pro Tombrel.app/Contents/MacOS/tombrel" "${@:---help}"
