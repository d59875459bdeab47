#!/usr/bin/env bash
# One backup of a 1 GB project with `tombrel backup`, against `cp -a` of the same file in the same run,
# in a temporary home. usage: bench/backup_bench.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
tombrel="$build/Pro Tombrel.app/Contents/MacOS/tombrel"
work=$(mktemp -d "${TMPDIR:-/tmp}/qf-backup-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" XDG_CONFIG_HOME="$work/home/.config" XDG_STATE_HOME="$work/home/.local/state"
mkdir -p "$HOME/Projects"
head -c 1G /dev/urandom > "$HOME/Projects/Big.prproj"
touch -d '1 minute ago' "$HOME/Projects/Big.prproj"
"$tombrel" add "$HOME/Projects/Big.prproj" >/dev/null
sync

seconds() { local s e; s=$(date +%s.%N); "$@" >/dev/null; e=$(date +%s.%N); echo "$e - $s" | bc; }
cp_time=$(seconds cp -a "$HOME/Projects/Big.prproj" "$work/copy.prproj")
qf_time=$(seconds "$tombrel" backup Big)
printf 'one backup of a 1 GB project: cp -a %.3f s, tombrel backup %.3f s, ratio %s\n' "$cp_time" "$qf_time" "$(echo "scale=2; $qf_time / $cp_time" | bc)"
