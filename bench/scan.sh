#!/bin/bash
# Time to open a disc and list its titles: `dvdconv info` against `lsdvd -a -s`
# (titles, audio and subtitle streams, as `info` lists them), on the same authored
# discs in the same run. Runs alternate between the two tools so both see the same
# machine load; the figures are medians. Usage: bench/scan.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
dvdconv=$build/cli/dvdconv
discs=$build/discs
runs=${RUNS:-41}

[ -x "$dvdconv" ] || { echo "scan: build first ($dvdconv missing)" >&2; exit 2; }
command -v lsdvd >/dev/null || { echo "scan: lsdvd is not installed" >&2; exit 2; }
bash "$root/tests/fixtures/make_discs.sh" "$discs" >/dev/null

# Wall time of one run in microseconds.
time_once() {
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s%N)
    echo $(((end - start) / 1000))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

sum_ours=0 sum_peer=0
printf '%-12s %14s %14s %8s\n' disc "dvdconv ms" "lsdvd ms" ratio
for disc in "$discs/ntsc" "$discs/pal" "$discs/ntsc.iso"; do
    [ -e "$disc" ] || continue
    ours=() peer=()
    "$dvdconv" info "$disc" >/dev/null 2>&1 && lsdvd -a -s "$disc" >/dev/null 2>&1 # warm the cache
    for ((i = 0; i < runs; i++)); do
        ours+=("$(time_once "$dvdconv" info "$disc")")
        peer+=("$(time_once lsdvd -a -s "$disc")")
    done
    mo=$(printf '%s\n' "${ours[@]}" | median)
    mp=$(printf '%s\n' "${peer[@]}" | median)
    awk -v d="$(basename "$disc")" -v o="$mo" -v p="$mp" \
        'BEGIN { printf "%-12s %14.2f %14.2f %8.2f\n", d, o / 1000, p / 1000, o / p }'
    sum_ours=$((sum_ours + mo))
    sum_peer=$((sum_peer + mp))
done
awk -v o="$sum_ours" -v p="$sum_peer" 'BEGIN {
    r = o / p
    printf "RESULT scan %.2f ratio goal <=1.00 %s\n", r, (r <= 1.0 ? "PASS" : "FAIL")
}'
