#!/bin/sh
# Uploads one large version to a local fake of Dropbox with `tombrel sync push` (compressed into the
# temporary folder, then sent through the upload-session endpoints) and reports the time and tombrel's
# peak memory. The target: a 1 GB version with a peak under 100 MB (nothing read whole into memory).
#
#   bench/sync_bench.sh [BUILD_DIR] [SIZE_MB]
#
# BUILD_DIR defaults to build/, SIZE_MB to 1024. The version is random data (it does not compress), made in a
# temporary folder that is removed afterwards, as is the fake's storage.
set -eu

build=${1:-build}
size=${2:-1024}
tombrel="$build/Pro Tombrel.app/Contents/MacOS/tombrel"
fake="$build/tests/support/qf_fake_dropbox"
for program in "$tombrel" "$fake" /usr/bin/time; do
    [ -x "$program" ] || { echo "missing: $program (build first)" >&2; exit 1; }
done

work=$(mktemp -d)
fakepid=
cleanup() {
    [ -n "$fakepid" ] && kill "$fakepid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export HOME="$work/home" XDG_STATE_HOME="$work/home/state" XDG_DATA_HOME="$work/home/data" \
    XDG_CONFIG_HOME="$work/home/config" XDG_CACHE_HOME="$work/home/cache" TMPDIR="$work/tmp"
mkdir -p "$HOME" "$TMPDIR" "$XDG_DATA_HOME/Quenfield/Pro Tombrel"

# The fake, with a refresh token it accepts; its address is its first line of output.
"$fake" --storage "$work/dropbox" --refresh bench-refresh-token </dev/null >"$work/fake.txt" &
fakepid=$!
tries=0
until [ -s "$work/fake.txt" ]; do
    tries=$((tries + 1))
    [ $tries -gt 100 ] && { echo "the fake Dropbox did not start" >&2; exit 1; }
    sleep 0.1
done
url=$(head -n 1 "$work/fake.txt")

"$tombrel" prefs set syncService 1 >/dev/null
"$tombrel" prefs set dropboxAPIURL "$url" >/dev/null
"$tombrel" prefs set dropboxContentURL "$url" >/dev/null
"$tombrel" prefs set dropboxAppKey benchappkey0001 >/dev/null
"$tombrel" prefs set dropboxTimeout 300 >/dev/null
# The link as "tombrel sync link" leaves it where no Secret Service answers.
link="$XDG_DATA_HOME/Quenfield/Pro Tombrel/Dropbox.json"
printf '{ "account_id": "dbid:bench", "store": "file", "refresh_token": "bench-refresh-token" }\n' >"$link"
chmod 600 "$link"

# A project whose one version is SIZE_MB of random data.
mkdir -p "$HOME/Videos"
head -c "$((size * 1048576))" /dev/urandom >"$HOME/Videos/Big.kdenlive"
"$tombrel" add "$HOME/Videos/Big.kdenlive" >/dev/null
"$tombrel" backup Big >/dev/null

/usr/bin/time -v -o "$work/time.txt" "$tombrel" sync push Big >"$work/out.txt" 2>"$work/err.txt" || {
    echo "tombrel sync push failed:" >&2
    cat "$work/err.txt" >&2
    exit 1
}
seconds=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$work/time.txt")
kilobytes=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")
uploaded=$(find "$work/dropbox" -type f -size +1M -printf '%s\n' | sort -n | tail -n 1)
cat "$work/out.txt"
awk -v mb="$size" -v s="$seconds" -v k="$kilobytes" -v up="${uploaded:-0}" 'BEGIN {
    printf "version %d MB, archive uploaded %.1f MB\n", mb, up / 1048576
    printf "tombrel sync push: %.1f s (compress and upload), peak %.1f MB (target < 100 MB)\n", s, k / 1024
}'
