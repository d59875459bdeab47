#!/usr/bin/env bash
# Fuzzes every reader of outside input with libFuzzer for SECONDS each and reports, per target, the runs
# made, the corpus size and the crashes, time-outs and leaks found (their inputs in build-fuzz/artifacts/).
# Installs clang and libFuzzer when missing and builds the targets in build-fuzz/ with clang,
# AddressSanitizer and UndefinedBehaviorSanitizer. Seeds come from tests/fixtures/.
# usage: bench/fuzz.sh SECONDS [TARGET...]     (two targets run at a time)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:?usage: bench/fuzz.sh SECONDS [TARGET...]}
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_changelist fuzz_mlt fuzz_property_list fuzz_zip fuzz_bridge_reply fuzz_mount_table)
build="$here/build-fuzz"

"$here/scripts/install-deps.sh" "$here/scripts/deps.txt"
"$here/scripts/install-deps.sh" "$here/scripts/deps-fuzz.txt"
CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQF_FUZZ=ON \
    -DQF_BUILD_TESTS=OFF -DQF_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

# Seed corpora from the fixtures.
seeds="$build/seeds"
rm -rf "$seeds"
mkdir -p "$seeds"/{fuzz_changelist,fuzz_mlt,fuzz_property_list,fuzz_zip,fuzz_bridge_reply,fuzz_mount_table}
xml=("$here"/tests/fixtures/xmeml/*.xml)
for old in "${xml[@]}"; do
    for new in "${xml[@]}"; do
        [ "$(stat -c %s "$old")" -lt 200000 ] && [ "$(stat -c %s "$new")" -lt 200000 ] || continue
        { cat "$old"; printf '\0'; cat "$new"; } > "$seeds/fuzz_changelist/$(basename "$old" .xml)__$(basename "$new" .xml)"
    done
done
# MLT projects: each against the next in name order, which pairs the saved pairs.
mlt=("$here"/tests/fixtures/mlt/*/*.kdenlive "$here"/tests/fixtures/mlt/*/*.mlt)
for i in "${!mlt[@]}"; do
    next=${mlt[$(( (i + 1) % ${#mlt[@]} ))]}
    { cat "${mlt[$i]}"; printf '\0'; cat "$next"; } > "$seeds/fuzz_mlt/$(basename "${mlt[$i]}")__$(basename "$next")"
done
find "$here/tests/fixtures" "$here/packaging" -name '*.plist*' -size -64k -exec cp {} "$seeds/fuzz_property_list/" \;
cp "$here"/tests/fixtures/plist/* "$seeds/fuzz_property_list/" 2>/dev/null || true
(cd "$here/tests/fixtures/xmeml" && zip -q -X "$seeds/fuzz_zip/flat.zip" markp.xml hiero_xml_export.xml)
(cd "$here/tests" && zip -q -X -r -y "$seeds/fuzz_zip/tree.zip" fixtures/xmeml/markp.xml support/CMakeLists.txt)
cp "$here"/tests/fixtures/zip/* "$seeds/fuzz_zip/" 2>/dev/null || true
cp /proc/self/mountinfo "$seeds/fuzz_mount_table/system"
printf '36 35 98:0 /mnt1 /mnt/My\\040Drive rw,noatime master:1 - ext3 /dev/root rw\n' > "$seeds/fuzz_mount_table/escaped"
printf '\001\005\002\000xmlD\001\010' > "$seeds/fuzz_bridge_reply/export"

report="$build/fuzz-report.txt"
: > "$report"
run() {
    local target=$1 corpus="$build/corpus/$1" artifacts="$build/artifacts/$1/" log="$build/$1.log"
    rm -rf "$artifacts"
    mkdir -p "$corpus" "$artifacts"
    ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
        "$build/tests/fuzz/$target" "$corpus" "$seeds/$target" -max_total_time="$seconds" -timeout=20 \
        -rss_limit_mb=2560 -max_len=262144 -artifact_prefix="$artifacts" -print_final_stats=1 >"$log" 2>&1 || true
    local runs corpus_size crashes timeouts leaks
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    corpus_size=$(find "$corpus" -type f | wc -l)
    crashes=$(find "$artifacts" -name 'crash-*' | wc -l)
    timeouts=$(find "$artifacts" -name 'timeout-*' -o -name 'slow-unit-*' | wc -l)
    leaks=$(find "$artifacts" -name 'leak-*' -o -name 'oom-*' | wc -l)
    printf '%-20s %10s runs  corpus %6s  crashes %s  time-outs %s  leaks/oom %s\n' "$target" "${runs:-?}" "$corpus_size" \
        "$crashes" "$timeouts" "$leaks" >> "$report"
}
i=0
for target in "${targets[@]}"; do
    run "$target" &
    i=$((i + 1))
    if [ $((i % 2)) -eq 0 ]; then wait; fi
done
wait
sort "$report"
! grep -q -E 'crashes [1-9]|time-outs [1-9]|leaks/oom [1-9]' "$report"
