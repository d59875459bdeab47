#!/usr/bin/env bash
# Installs what is missing, builds, and runs the product. Without arguments: on a desktop (a display is
# set), the application, which starts the helper when none runs; without a display, the helper in the
# foreground, its log also on the terminal (Ctrl-C stops it). With arguments: tombrel with them.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh" "$here/build" >&2
macos="$here/build/Pro Tombrel.app/Contents/MacOS"
if [ $# -gt 0 ]; then
    exec "$macos/tombrel" "$@"
fi
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec "$macos/Pro Tombrel"
fi
echo "No display: running the helper in the foreground (the application needs a desktop)." >&2

log="${XDG_STATE_HOME:-$HOME/.local/state}/Quenfield/ProTombrelHelper.1.log"
before=$(stat -c %i "$log" 2>/dev/null || echo none)
"$macos/ProTombrelHelper.app/Contents/MacOS/ProTombrelHelper" &
helper=$!
trap 'kill -TERM "$helper" 2>/dev/null || true' INT TERM
# The helper starts a new log; follow that one, not the previous run's.
for _ in $(seq 50); do
    [ "$(stat -c %i "$log" 2>/dev/null || echo none)" != "$before" ] && break
    sleep 0.1
done
tail -n +1 -F --pid="$helper" "$log" 2>/dev/null &
status=0
wait "$helper" || status=$?
wait || true
exit "$status"
