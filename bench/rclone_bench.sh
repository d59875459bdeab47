#!/bin/sh
# Sends one large version to an rclone remote served on this machine (`rclone serve webdav` over a temporary
# folder, reached through a remote of a temporary rclone configuration) with `tombrel sync push`, the
# product's upload path (compressing the version into the temporary folder, then rclone copyto to a hidden
# name and moveto into place), against `rclone copyto` of the same archive alone. Reports the median wall
# time and peak memory of each over RUNS runs (after one not counted) and the ratio of the medians.
#
#   [RUNS=3] bench/rclone_bench.sh [BUILD_DIR] [SIZE_MB]
#
# BUILD_DIR defaults to build/, SIZE_MB to 1024. The version is random data (it does not compress), made in
# a temporary folder that is removed afterwards with the served folder. Peak memory is GNU time's maximum
# resident set: the largest single process of the command's tree (for the push, tombrel or the rclone it
# starts, whichever is larger).
set -eu

build=${1:-build}
size=${2:-1024}
runs=${RUNS:-3}
tombrel="$build/Pro Tombrel.app/Contents/MacOS/tombrel"
for program in "$tombrel" /usr/bin/time; do
    [ -x "$program" ] || { echo "missing: $program (build first)" >&2; exit 1; }
done
command -v rclone >/dev/null || { echo "missing: rclone (apt-get install rclone)" >&2; exit 1; }

work=$(mktemp -d)
serverpid=
cleanup() {
    [ -n "$serverpid" ] && kill "$serverpid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export HOME="$work/home" XDG_STATE_HOME="$work/home/state" XDG_DATA_HOME="$work/home/data" \
    XDG_CONFIG_HOME="$work/home/config" XDG_CACHE_HOME="$work/home/cache" TMPDIR="$work/tmp"
mkdir -p "$HOME" "$TMPDIR" "$work/served"

# The server, on a port of its choosing; its address is in its log.
password=bench-password
rclone serve webdav "$work/served" --addr 127.0.0.1:0 --user bench --pass "$password" >"$work/server.txt" 2>&1 &
serverpid=$!
tries=0
until grep -q '127\.0\.0\.1:[0-9]' "$work/server.txt" 2>/dev/null; do
    tries=$((tries + 1))
    [ $tries -gt 100 ] && { echo "rclone serve webdav did not start:" >&2; cat "$work/server.txt" >&2; exit 1; }
    sleep 0.1
done
port=$(grep -o '127\.0\.0\.1:[0-9]*' "$work/server.txt" | head -n 1 | cut -d: -f2)
export RCLONE_CONFIG="$work/rclone.conf"
printf '[bench]\ntype = webdav\nurl = http://127.0.0.1:%s/\nvendor = other\nuser = bench\npass = %s\n' \
    "$port" "$(rclone obscure "$password")" >"$RCLONE_CONFIG"

"$tombrel" prefs set syncService 2 >/dev/null
"$tombrel" prefs set syncRemote bench:store >/dev/null
"$tombrel" prefs set dropboxTimeout 300 >/dev/null

# A project whose one version is SIZE_MB of random data.
mkdir -p "$HOME/Videos"
head -c "$((size * 1048576))" /dev/urandom >"$HOME/Videos/Big.kdenlive"
"$tombrel" add "$HOME/Videos/Big.kdenlive" >/dev/null
"$tombrel" backup Big >/dev/null
version=$(basename "$(find "$XDG_DATA_HOME" -path '*/Versions/Big.*.kdenlive' | head -n 1)")
[ -n "$version" ] || { echo "no version was made" >&2; exit 1; }

# RUNS runs of a command after one not counted; each run's wall seconds and peak kilobytes in FILE.
measure() {
    file=$1
    shift
    "$@" >/dev/null 2>"$work/err.txt" || { echo "failed: $*" >&2; cat "$work/err.txt" >&2; exit 1; }
    : >"$file"
    run=0
    while [ "$run" -lt "$runs" ]; do
        /usr/bin/time -v -o "$work/time.txt" "$@" >/dev/null 2>"$work/err.txt" || { echo "failed: $*" >&2; cat "$work/err.txt" >&2; exit 1; }
        awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; w = s }
                    /Maximum resident set size/ { k = $2 } END { print w, k }' "$work/time.txt" >>"$file"
        run=$((run + 1))
    done
}
median() { sort -n -k"$2" "$1" | awk -v c="$2" '{ v[NR] = $c } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

measure "$work/push.txt" "$tombrel" sync push Big "$version"
# The very archive the push sent, sent again by rclone alone.
archive=$(find "$work/served/store" -name "$version.zip" | head -n 1)
cp "$archive" "$work/alone.zip"
# --ignore-times: sent every run, as the push sends it, not skipped as already there.
measure "$work/copy.txt" rclone copyto --ignore-times "$work/alone.zip" bench:alone/Big.zip

awk -v mb="$size" -v runs="$runs" -v ps="$(median "$work/push.txt" 1)" -v pk="$(median "$work/push.txt" 2)" \
    -v cs="$(median "$work/copy.txt" 1)" -v ck="$(median "$work/copy.txt" 2)" -v zip="$(stat -c %s "$work/alone.zip")" 'BEGIN {
    printf "version %d MB, archive %.1f MB, medians of %d runs\n", mb, zip / 1048576, runs
    printf "tombrel sync push (compress + rclone copyto + moveto): %6.1f s, peak %6.1f MB\n", ps, pk / 1024
    printf "rclone copyto of the archive alone:                    %6.1f s, peak %6.1f MB\n", cs, ck / 1024
    printf "ratio push / copyto: time %.2f\n", ps / cs
}'
