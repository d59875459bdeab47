#!/bin/sh
# Times `tombrel diff` on pairs of large Final Cut Pro XML exports against the floor (a program that only
# parses both files as tombrel does) and against GNU diff, and reports the peak memory of each run.
#
#   [RUNS=3] bench/diff_bench.sh [BUILD_DIR] [LONG_CLIPS] [DENSE_CLIPS]
#
# BUILD_DIR defaults to build/. Two shapes are made by bench_gen_xmeml, each about 50 MB a file by default:
# "long" (LONG_CLIPS, default 22000: every clip item with its file in full and long paths) and "dense"
# (DENSE_CLIPS, default 22000: short names and numbers, many small elements a clip item). For each shape the
# pairs are base.xml -> edited.xml (a few hundred edits of each kind) and base.xml -> removed.xml (5,000 clip
# items removed), written into a temporary folder that is removed afterwards.
# Targets: tombrel at most 1.5 times the parse-only floor, peak memory at most 4 times the two files together.
set -eu

build=${1:-build}
longClips=${2:-22000}
denseClips=${3:-22000}
tombrel="$build/Pro Tombrel.app/Contents/MacOS/tombrel"
generator="$build/bench/bench_gen_xmeml"
parser="$build/bench/bench_parse_only"
for program in "$tombrel" "$generator" "$parser" /usr/bin/time diff; do
    command -v "$program" >/dev/null 2>&1 || [ -x "$program" ] || { echo "missing: $program (build first)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# tombrel keeps its log in the home it runs in; keep the benchmark's out of the user's.
export HOME="$work/home" XDG_STATE_HOME="$work/home/state" XDG_DATA_HOME="$work/home/data" \
    XDG_CONFIG_HOME="$work/home/config" XDG_CACHE_HOME="$work/home/cache"
mkdir -p "$HOME"

# RUNS runs of a program (default 3): the median wall seconds and the median peak resident kilobytes, from
# GNU time, so that one slow start does not decide a row.
runs=${RUNS:-3}
measure() {
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

for shape in long dense; do
    clips=$longClips
    [ "$shape" = dense ] && clips=$denseClips
    mkdir -p "$work/$shape"
    "$generator" "$work/$shape" "$clips" "$shape"
    for pair in edited removed; do
        old="$work/$shape/base.xml"
        new="$work/$shape/$pair.xml"
        combined=$(( $(stat -c %s "$old") + $(stat -c %s "$new") ))
        measure diff "$old" "$new"
        diff_seconds=$seconds
        diff_kb=$kilobytes
        measure "$parser" "$old" "$new"
        parse_seconds=$seconds
        parse_kb=$kilobytes
        measure "$tombrel" diff "$old" "$new"
        lines=$(wc -l <"$work/out.txt")
        awk -v shape="$shape" -v pair="$pair" -v size="$combined" -v ds="$diff_seconds" -v dk="$diff_kb" \
            -v ps="$parse_seconds" -v pk="$parse_kb" -v ts="$seconds" -v tk="$kilobytes" -v lines="$lines" 'BEGIN {
            printf "%s %s: files %.1f MB together, %d change lines\n", shape, pair, size / 1048576, lines
            printf "  tombrel diff  %6.2f s  peak %7.1f MB\n", ts, tk / 1024
            printf "  parse only    %6.2f s  peak %7.1f MB\n", ps, pk / 1024
            printf "  GNU diff      %6.2f s  peak %7.1f MB\n", ds, dk / 1024
            printf "  time / floor %.2f (target <= 1.5), time / GNU diff %.2f, memory / files %.2f (target <= 4)\n",
                (ps > 0 ? ts / ps : 0), (ds > 0 ? ts / ds : 0), tk * 1024 / size
        }'
    done
done
