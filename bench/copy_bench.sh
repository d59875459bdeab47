#!/usr/bin/env bash
# Times the product's copy against `cp -a` on the same data in one run: a 1 GB file and a folder of
# 10,000 small files. Target: at most 1.2 times cp -a.
# usage: bench/copy_bench.sh [BUILD_DIR] [WORK_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
work=${2:-$(mktemp -d "${TMPDIR:-/tmp}/qf-copy-bench.XXXXXX")}
tool="$build/bench/bench_copy"
trap 'rm -rf "$work"' EXIT

echo "preparing data in $work" >&2
head -c 1G /dev/urandom > "$work/big.mov"
mkdir -p "$work/many.fcpbundle"
for i in $(seq 1 10000); do head -c 4096 /dev/urandom > "$work/many.fcpbundle/f$i"; done
sync

seconds() { local s e; s=$(date +%s.%N); "$@"; e=$(date +%s.%N); echo "$e - $s" | bc; }

report() {
    local name=$1 src=$2 qf cp ratio
    sync; echo 3 > /proc/sys/vm/drop_caches 2>/dev/null || true
    cp=$(seconds cp -a "$src" "$work/cp-$name")
    sync; echo 3 > /proc/sys/vm/drop_caches 2>/dev/null || true
    qf=$(seconds "$tool" "$src" "$work/qf-$name")
    cmp -s <(cd "$work/cp-$name" 2>/dev/null && find . -type f | sort || echo) <(cd "$work/qf-$name" 2>/dev/null && find . -type f | sort || echo)
    ratio=$(echo "scale=2; $qf / $cp" | bc)
    printf '%-22s cp -a %8.3f s   product %8.3f s   ratio %s\n' "$name" "$cp" "$qf" "$ratio"
    rm -rf "$work/cp-$name" "$work/qf-$name"
}

report "1 GB file" "$work/big.mov"
report "10,000 small files" "$work/many.fcpbundle"
