#!/bin/sh
# Times `tombrel diff` on a large generated Kdenlive project (bench_gen_kdenlive: 20,000 timeline clips on 8
# tracks, 2,000 bin clips, a filter on a tenth of the clips) against the floor, a program that only loads
# both files with pugixml's load_file and its default options (bench_load_file_only), and reports the peak
# memory of each run. Two pairs: base -> one-edit (one clip inserted in the middle of V1) and base ->
# many-edits (a few hundred edits over the whole project).
#
#   [RUNS=5] bench/mlt_bench.sh [BUILD_DIR] [CLIPS] [TRACKS] [BIN]
#
# Targets: tombrel at most 1.5 times the floor's time and at most 1.2 times its peak memory.
set -eu

build=${1:-build}
clips=${2:-20000}
tracks=${3:-8}
bins=${4:-2000}
tombrel="$build/Pro Tombrel.app/Contents/MacOS/tombrel"
generator="$build/bench/bench_gen_kdenlive"
floor="$build/bench/bench_load_file_only"
for program in "$tombrel" "$generator" "$floor" /usr/bin/time; do
    [ -x "$program" ] || { echo "missing: $program (build first)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# tombrel keeps its log in the home it runs in; keep the benchmark's out of the user's.
export HOME="$work/home" XDG_STATE_HOME="$work/home/state" XDG_DATA_HOME="$work/home/data" \
    XDG_CONFIG_HOME="$work/home/config" XDG_CACHE_HOME="$work/home/cache"
mkdir -p "$HOME"
"$generator" "$work" "$clips" "$tracks" "$bins"

# RUNS runs of a program after one not counted: the median wall seconds and the median peak resident
# kilobytes, from GNU time.
runs=${RUNS:-5}
measure() {
    "$@" >/dev/null 2>&1 || true
    : >"$work/runs.txt"
    run=0
    while [ "$run" -lt "$runs" ]; do
        /usr/bin/time -v -o "$work/time.txt" "$@" >"$work/out.txt" 2>/dev/null || true
        awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; t = s }
            /Maximum resident set size/ { k = $2 } END { print t, k }' "$work/time.txt" >>"$work/runs.txt"
        run=$((run + 1))
    done
    seconds=$(sort -n -k1,1 "$work/runs.txt" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
    kilobytes=$(sort -n -k2,2 "$work/runs.txt" | awk '{ v[NR] = $2 } END { print v[int((NR + 1) / 2)] }')
}

for pair in one-edit many-edits; do
    old="$work/base.kdenlive"
    new="$work/$pair.kdenlive"
    combined=$(( $(stat -c %s "$old") + $(stat -c %s "$new") ))
    measure "$floor" "$old" "$new"
    floor_seconds=$seconds
    floor_kb=$kilobytes
    measure "$tombrel" diff "$old" "$new"
    lines=$(wc -l <"$work/out.txt")
    awk -v pair="$pair" -v size="$combined" -v fs="$floor_seconds" -v fk="$floor_kb" -v ts="$seconds" -v tk="$kilobytes" \
        -v lines="$lines" 'BEGIN {
        printf "%s: files %.1f MB together, %d change lines\n", pair, size / 1048576, lines
        printf "  tombrel diff   %6.2f s  peak %7.1f MB\n", ts, tk / 1024
        printf "  load_file only %6.2f s  peak %7.1f MB\n", fs, fk / 1024
        printf "  time / floor %.2f (target <= 1.5), memory / floor %.2f (target <= 1.2)\n", (fs > 0 ? ts / fs : 0), (fk > 0 ? tk / fk : 0)
    }'
done
