#!/usr/bin/env bash
# Compares two builds of the command-line program that are already there
# (it builds nothing): the start-up of `--version` (CPU time and peak
# memory, the mean of many runs), one conversion of MOVIE (peak memory, CPU
# and wall time, fastest of a few runs) and, with a CARD folder, a batch of
# it (`-o DIR -j 2 CARD`: wall and CPU time, the children's included). The
# two programs run in turns, so that a busy moment of a shared machine does
# not fall on one of them alone. Prints each figure for both and the ratio
# AFTER / BEFORE. See bench/README.md.
#
#   bench/compare_programs.sh BEFORE AFTER MOVIE [CARD]
#
# Environment:
#   BENCH_START_RUNS    runs of --version for each program (default 20)
#   BENCH_REPEATS       runs of the conversion and the batch (default 3)
#   BENCH_EATMYDATA     1: the conversions and batches under eatmydata (their
#                       syncs turned off), 0: as they are; default: 1 when
#                       eatmydata is installed
#   SPATIALMUX_BENCH_DATA  folder for the outputs (default: a new one in /tmp)
set -euo pipefail
if [ $# -lt 3 ] || [ $# -gt 4 ]; then
    echo "usage: bench/compare_programs.sh BEFORE AFTER MOVIE [CARD]" >&2
    exit 2
fi
before="$1" after="$2" movie="$3" card="${4:-}"
for program in "$before" "$after"; do
    [ -x "$program" ] || { echo "not a program: $program" >&2; exit 2; }
done
[ -f "$movie" ] || { echo "no movie: $movie" >&2; exit 2; }
[ -z "$card" ] || [ -d "$card" ] || { echo "no card folder: $card" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "needs GNU time (/usr/bin/time, package time)" >&2; exit 2; }
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=bench/common.sh
source "$root/bench/common.sh"  # measure, $repeats
start_runs="${BENCH_START_RUNS:-20}"
nosync=()
case "${BENCH_EATMYDATA:-auto}" in
    1) nosync=(eatmydata) ;;
    0) ;;
    *) command -v eatmydata >/dev/null && nosync=(eatmydata) ;;
esac
data="${SPATIALMUX_BENCH_DATA:-$(mktemp -d /tmp/compare-programs.XXXXXX)}"
mkdir -p "$data"

# The row of one figure: both values and the ratio.
row() {
    awk -v n="$1" -v a="$2" -v b="$3" -v u="$4" \
        'BEGIN { printf "%-46s %9.2f %9.2f %-3s  %5.2fx\n", n, a, b, u, (a > 0 ? b / a : 0) }'
}

echo "before: $before"
echo "after:  $after"
[ ${#nosync[@]} -gt 0 ] && echo "conversions and batches under eatmydata (no syncs)"
printf '%-46s %9s %9s\n' "" before after

# --version: the CPU time summed over every run (a run's own is near the
# clock's 10 ms step), the peak memory of the last.
declare -A cpu=() peak=()
for program in before after; do cpu[$program]=0; done
for _ in $(seq "$start_runs"); do
    for program in before after; do
        [ "$program" = before ] && path="$before" || path="$after"
        read -r _ c k <<<"$(measure "$path" --version)"
        cpu[$program]="$(awk -v s="${cpu[$program]}" -v c="$c" 'BEGIN { print s + c }')"
        peak[$program]="$k"
    done
done
mean() { awk -v s="$1" -v n="$start_runs" 'BEGIN { print 1000 * s / n }'; }
row "--version CPU (mean of $start_runs)" "$(mean "${cpu[before]}")" "$(mean "${cpu[after]}")" ms
row "--version peak memory" "$(awk -v k="${peak[before]}" 'BEGIN { print k / 1024 }')" \
    "$(awk -v k="${peak[after]}" 'BEGIN { print k / 1024 }')" MiB

# The fastest of $repeats runs of a command of both programs, in turns;
# "%s" in the arguments stands for the program. Sets best[before|after].
declare -A best=()
fastest() {
    local output="$1" program path result
    shift
    best=()
    for _ in $(seq "$repeats"); do
        for program in before after; do
            [ "$program" = before ] && path="$before" || path="$after"
            rm -rf "$output"
            sync
            result="$(measure "${nosync[@]}" "$path" "$@")"
            if [ -z "${best[$program]:-}" ] ||
               awk -v a="${result#* }" -v b="${best[$program]#* }" 'BEGIN { exit !(a + 0 < b + 0) }'; then
                best[$program]="$result"
            fi
        done
    done
    rm -rf "$output"
}

cat "$movie" >/dev/null  # every run reads the input from the page cache
fastest "$data/out.mov" "$movie" "$data/out.mov"
read -r wa ca ka <<<"${best[before]}"
read -r wb cb kb <<<"${best[after]}"
name="conversion of $(basename "$movie")"
row "$name: peak memory" "$(awk -v k="$ka" 'BEGIN { print k / 1024 }')" \
    "$(awk -v k="$kb" 'BEGIN { print k / 1024 }')" MiB
row "$name: CPU" "$ca" "$cb" s
row "$name: wall" "$wa" "$wb" s

if [ -n "$card" ]; then
    cat "$card"/* >/dev/null 2>&1 || true
    fastest "$data/card-out" -o "$data/card-out" -j 2 "$card"
    read -r wa ca _ <<<"${best[before]}"
    read -r wb cb _ <<<"${best[after]}"
    name="-o DIR -j 2 $(basename "$card")"
    row "$name: wall" "$wa" "$wb" s
    row "$name: CPU" "$ca" "$cb" s
fi
[ -n "${SPATIALMUX_BENCH_DATA:-}" ] || rm -rf "$data"
