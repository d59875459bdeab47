#!/usr/bin/env bash
# The application from its bundle under a real X server: it shows its window over a small store made by
# tombrel, the screen is saved as a PNG, and Ctrl+W closes the window, which ends the program with 0.
#   run_under_xvfb.sh BUNDLE XWD_TO_PNG OUT.png
set -euo pipefail
bundle=$1 convert=$2 out=$3
work=$(mktemp -d)
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export XDG_STATE_HOME="$work/home/.local/state" XDG_CACHE_HOME="$work/home/.cache" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME/Videos" "$XDG_RUNTIME_DIR" "$work/fb" "$work/bin"
chmod 700 "$XDG_RUNTIME_DIR"
# The user's own service manager is never asked: this one answers as a session without one, so the
# application starts its helper directly.
printf '#!/bin/sh\nexit 1\n' > "$work/bin/systemctl"
chmod +x "$work/bin/systemctl"
export PATH="$work/bin:$PATH"
xvfb=""
app=""
# The application starts the helper when none runs; the one it started here belongs to this home.
stop_own_helpers() {
    local dir exe
    for dir in /proc/[0-9]*; do
        exe=$(readlink "$dir/exe" 2>/dev/null || true)
        [ "${exe##*/}" = ProTombrelHelper ] || continue
        if tr '\0' '\n' < "$dir/environ" 2>/dev/null | grep -qxF "HOME=$HOME"; then
            echo "stopping the helper the application started (${dir#/proc/})"
            kill "${dir#/proc/}" 2>/dev/null || true
        fi
    done
}
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null || true
    stop_own_helpers
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

tombrel="$bundle/Contents/MacOS/tombrel"
printf '<mlt version="1"/>\n' > "$HOME/Videos/Short Film.kdenlive"
"$tombrel" add "$HOME/Videos/Short Film.kdenlive" > /dev/null
"$tombrel" backup "$HOME/Videos/Short Film.kdenlive" > /dev/null
printf '<mlt version="2"/>\n' > "$HOME/Videos/Short Film.kdenlive"
"$tombrel" backup "$HOME/Videos/Short Film.kdenlive" > /dev/null
"$tombrel" prefs set firstRun false > /dev/null

# A display number nobody uses.
display=""
for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "no free display"; exit 1; }
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp -fbdir "$work/fb" > "$work/xvfb.log" 2>&1 &
xvfb=$!
export DISPLAY=$display QT_QPA_PLATFORM=xcb
# Debian's libxkbcommon-x11 hands strndup() key names that end at the length given, not at a NUL; the
# sanitized build's strict string checks read on to a NUL and report that library. Off for this program.
if [ -n "${ASAN_OPTIONS:-}" ]; then export ASAN_OPTIONS="$ASAN_OPTIONS:strict_string_checks=0"; fi
for _ in $(seq 100); do xdotool getmouselocation > /dev/null 2>&1 && break; sleep 0.1; done

"$bundle/Contents/MacOS/Pro Tombrel" &
app=$!
wid=$(timeout 30 xdotool search --sync --onlyvisible --name '^Pro Tombrel$' | head -1)
[ -n "$wid" ] || { echo "the window did not appear"; exit 1; }
# The versions are listed once the log says so; then the screen is saved.
log="$XDG_STATE_HOME/Quenfield/Pro Tombrel.1.log"
for _ in $(seq 200); do grep -q "Finished populating changelist" "$log" 2>/dev/null && break; sleep 0.1; done
grep -q "Finished populating changelist" "$log" || { echo "the versions were not listed"; exit 1; }
sleep 0.5 # the last paint after the list is filled
"$convert" "$work/fb/Xvfb_screen0" "$out"

# The preferences from their menu key, saved too, and closed with the window key.
xdotool windowfocus --sync "$wid"
xdotool key --clearmodifiers ctrl+comma
prefs=$(timeout 30 xdotool search --sync --onlyvisible --name '^Preferences$' | head -1)
[ -n "$prefs" ] || { echo "the preferences did not appear"; exit 1; }
sleep 0.5 # the first paint of the window
"$convert" "$work/fb/Xvfb_screen0" "$(dirname "$out")/preferences-xvfb.png"
xdotool windowfocus --sync "$prefs"
xdotool key --clearmodifiers ctrl+w
for _ in $(seq 100); do xdotool search --onlyvisible --name '^Preferences$' > /dev/null 2>&1 || break; sleep 0.1; done

# Delete on the newest version, then Return on the sheet: the version goes to the Trash. A click on the
# empty part of the version list gives it the keyboard; Home selects the newest version.
xdotool windowfocus --sync "$wid"
eval "$(xdotool getwindowgeometry --shell "$wid")"
xdotool mousemove --window "$wid" $((WIDTH * 3 / 5)) $((HEIGHT - 60)) click 1
xdotool key --clearmodifiers Home
sleep 0.3 # the selection is painted
xdotool key --clearmodifiers Delete
sheet=""
for _ in $(seq 100); do
    sheet=$(xdotool search --onlyvisible --pid "$app" 2>/dev/null | grep -vx "$wid" | tail -1 || true)
    [ -n "$sheet" ] && break
    sleep 0.1
done
[ -n "$sheet" ] || { echo "Delete showed no question"; exit 1; }
xdotool windowfocus --sync "$sheet" 2>/dev/null || true
xdotool key --clearmodifiers Return
trashed="$HOME/.local/share/Trash/files/Short Film.00002.kdenlive"
for _ in $(seq 100); do [ -e "$trashed" ] && break; sleep 0.1; done
[ -e "$trashed" ] || { echo "Delete and Return did not move the newest version to the Trash"; ls -R "$HOME/.local/share/Trash" 2>/dev/null; exit 1; }
echo "Delete and Return moved the newest version to the Trash"

xdotool windowfocus --sync "$wid"
xdotool key --clearmodifiers ctrl+w
status=0
for _ in $(seq 200); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$app" 2>/dev/null; then echo "the program did not end when its window closed"; exit 1; fi
wait "$app" || status=$?
app=""
echo "exit status $status"
exit "$status"
