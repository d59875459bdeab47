#!/bin/sh
# Times `tombrel diff` against GNU diff on the same pairs of large Final Cut Pro XML exports and reports
# the peak memory of each run.
#
#   bench/diff_bench.sh [BUILD_DIR] [CLIPS]
#
# BUILD_DIR defaults to build/; CLIPS (default 22000) sets the size, about 50 MB a file. The pairs are
# base.xml -> edited.xml (a few hundred edits of each kind) and base.xml -> removed.xml (5,000 clip items
# removed), written by bench_gen_xmeml into a temporary folder that is removed afterwards.
# Targets: tombrel at most 2 times GNU diff's time, peak memory at most 4 times the two files together.
set -eu

build=${1:-build}
clips=${2:-22000}
tombrel="$build/Pro Tombrel.app/Contents/MacOS/tombrel"
generator="$build/bench/bench_gen_xmeml"
for program in "$tombrel" "$generator" /usr/bin/time diff; do
    command -v "$program" >/dev/null 2>&1 || [ -x "$program" ] || { echo "missing: $program (build first)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# tombrel keeps its log in the home it runs in; keep the benchmark's out of the user's.
export HOME="$work/home" XDG_STATE_HOME="$work/home/state" XDG_DATA_HOME="$work/home/data" XDG_CONFIG_HOME="$work/home/config"
mkdir -p "$HOME"

"$generator" "$work" "$clips"

# One run: wall seconds and peak resident kilobytes, from GNU time.
measure() {
    /usr/bin/time -v -o "$work/time.txt" "$@" >"$work/out.txt" 2>/dev/null || true
    seconds=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$work/time.txt")
    kilobytes=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")
}

for pair in edited removed; do
    old="$work/base.xml"
    new="$work/$pair.xml"
    combined=$(( $(stat -c %s "$old") + $(stat -c %s "$new") ))
    measure diff "$old" "$new"
    diff_seconds=$seconds
    diff_kb=$kilobytes
    measure "$tombrel" diff "$old" "$new"
    lines=$(wc -l <"$work/out.txt")
    awk -v pair="$pair" -v size="$combined" -v ds="$diff_seconds" -v dk="$diff_kb" -v ts="$seconds" -v tk="$kilobytes" -v lines="$lines" 'BEGIN {
        printf "%s: files %.1f MB together, %d change lines\n", pair, size / 1048576, lines
        printf "  GNU diff      %6.2f s  peak %7.1f MB\n", ds, dk / 1024
        printf "  tombrel diff  %6.2f s  peak %7.1f MB\n", ts, tk / 1024
        printf "  time ratio %.2f (target <= 2), memory / files %.2f (target <= 4)\n", (ds > 0 ? ts / ds : 0), tk * 1024 / size
    }'
done
