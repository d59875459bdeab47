#!/bin/sh
# Times `tombrel diff` on pairs of large Final Cut Pro XML exports against the plain floor, a program that only
# parses both files with the XML library's own xml_document::load_file and default options (bench_load_file_only),
# and reports time and peak memory as ratios to the floor's. Also shown: tombrel's loader alone
# (bench_parse_only) and GNU diff on the same files.
#
#   [RUNS=5] bench/diff_bench.sh [BUILD_DIR] [LONG_CLIPS] [DENSE_CLIPS]
#
# BUILD_DIR defaults to build/. Two shapes are made by bench_gen_xmeml, each about 50 MB a file by default:
# "long" (LONG_CLIPS, default 22000: every clip item with its file in full and long paths) and "dense"
# (DENSE_CLIPS, default 22000: short names and numbers, many small elements a clip item). For each shape the
# pairs are base.xml -> edited.xml (a few hundred edits of each kind at random places and 200 clips inserted),
# base.xml -> spread.xml (400 edits spread evenly over the whole document: trims, filter parameter values,
# names, markers) and base.xml -> removed.xml (5,000 clip items removed), in a temporary folder removed
# afterwards.
# tombrel and the floor run in turn, RUNS times each (default 5), so that a machine whose speed drifts slows
# both alike: a row gives each program's median and the median of the run-by-run ratios.
# Targets: tombrel at most 1.5 times the floor's time and at most 1.1 times its peak memory.
set -eu

build=${1:-build}
longClips=${2:-22000}
denseClips=${3:-22000}
runs=${RUNS:-5}
tombrel="$build/Pro Tombrel.app/Contents/MacOS/tombrel"
generator="$build/bench/bench_gen_xmeml"
floor="$build/bench/bench_load_file_only"
loader="$build/bench/bench_parse_only"
for program in "$tombrel" "$generator" "$floor" "$loader" /usr/bin/time diff; do
    command -v "$program" >/dev/null 2>&1 || [ -x "$program" ] || { echo "missing: $program (build first)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# tombrel keeps its log in the home it runs in; keep the benchmark's out of the user's.
export HOME="$work/home" XDG_STATE_HOME="$work/home/state" XDG_DATA_HOME="$work/home/data" \
    XDG_CONFIG_HOME="$work/home/config" XDG_CACHE_HOME="$work/home/cache"
mkdir -p "$HOME"

# One run of a program: "wall cpu peak-kilobytes" appended to the file named first, from GNU time.
measure() {
    into=$1
    shift
    /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$@" >"$work/out.txt" 2>/dev/null || true
    # The last line: GNU time puts a line about a nonzero exit status before it.
    tail -n 1 "$work/time.txt" | awk '{ printf "%s %.3f %s\n", $1, $2 + $3, $4 }' >>"$into"
}

# The median of a column of a file of runs.
median() {
    sort -n -k"$2","$2" "$1" | awk -v c="$2" '{ v[NR] = $c } END { print v[int((NR + 1) / 2)] }'
}

for shape in long dense; do
    clips=$longClips
    [ "$shape" = dense ] && clips=$denseClips
    mkdir -p "$work/$shape"
    "$generator" "$work/$shape" "$clips" "$shape"
    for pair in edited spread removed; do
        old="$work/$shape/base.xml"
        new="$work/$shape/$pair.xml"
        combined=$(( $(stat -c %s "$old") + $(stat -c %s "$new") ))
        : >"$work/tombrel.txt"
        : >"$work/floor.txt"
        : >"$work/loader.txt"
        : >"$work/diff.txt"
        # A first run of each, not counted, brings the files into the page cache.
        "$tombrel" diff "$old" "$new" >/dev/null 2>&1 || true
        "$floor" "$old" "$new" || true
        run=0
        while [ "$run" -lt "$runs" ]; do
            measure "$work/tombrel.txt" "$tombrel" diff "$old" "$new"
            lines=$(wc -l <"$work/out.txt")
            measure "$work/floor.txt" "$floor" "$old" "$new"
            measure "$work/loader.txt" "$loader" "$old" "$new"
            run=$((run + 1))
        done
        measure "$work/diff.txt" diff "$old" "$new"
        # Run by run: tombrel's time and memory over the floor's of the run beside it.
        paste -d ' ' "$work/tombrel.txt" "$work/floor.txt" \
            | awk '{ printf "%.4f %.4f %.4f\n", ($4 > 0 ? $1 / $4 : 0), ($5 > 0 ? $2 / $5 : 0), ($6 > 0 ? $3 / $6 : 0) }' \
            >"$work/ratios.txt"
        awk -v shape="$shape" -v pair="$pair" -v size="$combined" -v lines="$lines" -v runs="$runs" \
            -v tw="$(median "$work/tombrel.txt" 1)" -v tc="$(median "$work/tombrel.txt" 2)" -v tk="$(median "$work/tombrel.txt" 3)" \
            -v fw="$(median "$work/floor.txt" 1)" -v fc="$(median "$work/floor.txt" 2)" -v fk="$(median "$work/floor.txt" 3)" \
            -v lw="$(median "$work/loader.txt" 1)" -v lk="$(median "$work/loader.txt" 3)" \
            -v dw="$(median "$work/diff.txt" 1)" -v dk="$(median "$work/diff.txt" 3)" \
            -v rw="$(median "$work/ratios.txt" 1)" -v rc="$(median "$work/ratios.txt" 2)" -v rk="$(median "$work/ratios.txt" 3)" 'BEGIN {
            printf "%s %s: files %.1f MB together, %d change lines, medians of %d runs\n", shape, pair, size / 1048576, lines, runs
            printf "  tombrel diff    %6.2f s (cpu %5.2f s)  peak %7.1f MB\n", tw, tc, tk / 1024
            printf "  plain floor     %6.2f s (cpu %5.2f s)  peak %7.1f MB\n", fw, fc, fk / 1024
            printf "  tombrel loader  %6.2f s                 peak %7.1f MB\n", lw, lk / 1024
            printf "  GNU diff        %6.2f s                 peak %7.1f MB\n", dw, dk / 1024
            printf "  tombrel / floor: time %.2f, cpu %.2f (target <= 1.5), peak memory %.2f (target <= 1.1)\n", rw, rc, rk
        }'
    done
done
