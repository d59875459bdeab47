#!/bin/sh
# Records or checks the output of `tombrel diff` over every pair of the xmeml fixtures and over generated
# pairs of both benchmark shapes (each way round, and one shape against the other), so that a change to the
# comparison can be shown to leave every change list byte for byte as it was.
#
#   bench/diff_compare.sh record BUILD_DIR OUTPUT_DIR [CLIPS]
#   bench/diff_compare.sh check  BUILD_DIR OUTPUT_DIR [CLIPS]
#
# record writes one file a pair into OUTPUT_DIR; check runs the same pairs and compares them with the files
# recorded there, printing the pairs that differ. CLIPS (default 8000) sizes the generated pairs. The lists
# of the fixtures are also compared with the expected ones kept in tests/fixtures/changelists.
set -eu

mode=${1:?record or check}
build=${2:?build folder}
output=${3:?output folder}
clips=${4:-8000}
root=$(cd "$(dirname "$0")/.." && pwd)
tombrel="$build/Pro Tombrel.app/Contents/MacOS/tombrel"
generator="$build/bench/bench_gen_xmeml"
for program in "$tombrel" "$generator"; do
    [ -x "$program" ] || { echo "missing: $program (build first)" >&2; exit 1; }
done
case $mode in record | check) ;; *) echo "unknown mode: $mode" >&2; exit 2 ;; esac

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_STATE_HOME="$work/home/state" XDG_DATA_HOME="$work/home/data" \
    XDG_CONFIG_HOME="$work/home/config" XDG_CACHE_HOME="$work/home/cache"
mkdir -p "$HOME" "$output"

failures=0
pairs=0
# One pair: its output (and exit status) recorded, or compared with the recording.
run() {
    name=$1
    "$tombrel" diff "$2" "$3" >"$work/out.txt" 2>/dev/null && status=0 || status=$?
    echo "exit $status" >>"$work/out.txt"
    pairs=$((pairs + 1))
    if [ "$mode" = record ]; then
        cp "$work/out.txt" "$output/$name.txt"
    elif ! cmp -s "$work/out.txt" "$output/$name.txt"; then
        echo "differs: $name"
        diff "$output/$name.txt" "$work/out.txt" | head -n 10 || true
        failures=$((failures + 1))
    fi
}

fixtures="$root/tests/fixtures/xmeml"
for old in "$fixtures"/*.xml; do
    for new in "$fixtures"/*.xml; do
        [ "$old" = "$new" ] && continue
        name="$(basename "$old" .xml)__$(basename "$new" .xml)"
        run "$name" "$old" "$new"
        expected="$root/tests/fixtures/changelists/$name.txt"
        if [ -f "$expected" ] && ! "$tombrel" diff "$old" "$new" 2>/dev/null | cmp -s - "$expected"; then
            echo "differs from tests/fixtures/changelists: $name"
            failures=$((failures + 1))
        fi
    done
done

for shape in long dense; do
    mkdir -p "$work/$shape"
    "$generator" "$work/$shape" "$clips" "$shape" >/dev/null
    for pair in edited spread removed; do
        run "$shape-base__$pair" "$work/$shape/base.xml" "$work/$shape/$pair.xml"
        run "$shape-${pair}__base" "$work/$shape/$pair.xml" "$work/$shape/base.xml"
    done
    run "$shape-edited__removed" "$work/$shape/edited.xml" "$work/$shape/removed.xml"
    run "$shape-spread__edited" "$work/$shape/spread.xml" "$work/$shape/edited.xml"
done
run "long-base__dense-base" "$work/long/base.xml" "$work/dense/base.xml"
run "dense-edited__long-removed" "$work/dense/edited.xml" "$work/long/removed.xml"

if [ "$mode" = record ]; then
    echo "recorded $pairs pairs in $output"
else
    echo "$pairs pairs compared, $failures differ"
    [ "$failures" -eq 0 ]
fi
