#!/bin/bash
# Time to open a disc and list its titles: `dvdconv info` against `lsdvd`, on the
# same authored discs, in the same run. Usage: bench/scan.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
dvdconv=$build/cli/dvdconv
discs=$build/discs
runs=${RUNS:-40}

[ -x "$dvdconv" ] || { echo "scan: build first ($dvdconv missing)" >&2; exit 2; }
command -v lsdvd >/dev/null || { echo "scan: lsdvd is not installed" >&2; exit 2; }
bash "$root/tests/fixtures/make_discs.sh" "$discs" >/dev/null

# Total wall time in seconds of $runs runs of a command.
time_runs() {
    local start end
    start=$(date +%s%N)
    for ((i = 0; i < runs; i++)); do "$@" >/dev/null 2>&1 || true; done
    end=$(date +%s%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", (b - a) / 1e9 }'
}

total_ours=0 total_peer=0
printf '%-28s %12s %12s\n' disc "dvdconv ms" "lsdvd ms"
for disc in "$discs/ntsc" "$discs/pal" "$discs/ntsc.iso"; do
    [ -e "$disc" ] || continue
    "$dvdconv" info "$disc" >/dev/null 2>&1 && lsdvd "$disc" >/dev/null 2>&1 # warm the cache
    ours=$(time_runs "$dvdconv" info "$disc")
    peer=$(time_runs lsdvd "$disc")
    awk -v d="$(basename "$disc")" -v o="$ours" -v p="$peer" -v n="$runs" \
        'BEGIN { printf "%-28s %12.2f %12.2f\n", d, o * 1000 / n, p * 1000 / n }'
    total_ours=$(awk -v a="$total_ours" -v b="$ours" 'BEGIN { print a + b }')
    total_peer=$(awk -v a="$total_peer" -v b="$peer" 'BEGIN { print a + b }')
done
awk -v o="$total_ours" -v p="$total_peer" 'BEGIN {
    r = o / p
    printf "RESULT scan %.2f ratio goal <=1.00 %s\n", r, (r <= 1.0 ? "PASS" : "FAIL")
}'
