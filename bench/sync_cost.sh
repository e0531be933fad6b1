#!/usr/bin/env bash
# What the sync before replacing an existing result costs: median wall time
# of `tesvar in.bmp out.bmp` when out.bmp already holds a file (synced
# before the rename) and when it does not (no sync needed), alternating.
#
#   bench/sync_cost.sh BUILD_DIR [WORK_DIR] [RUNS]
#
# WORK_DIR should be on the disk to measure (default: a folder under the
# current directory); the input is the 6000 x 4000 benchmark image, so the
# result is 96 MB.
set -euo pipefail
build=$(cd "$1" && pwd)
work=${2:-./sync-cost-work}
runs=${3:-9}
mkdir -p "$work"
cd "$work"
"$build/bench/make_bench_image" 6000 4000 24 in.bmp >/dev/null
"$build/programs/tesvar" in.bmp out.bmp  # warm-up, and a result to replace

seconds() {  # wall seconds of one run
  local start end
  start=$(date +%s.%N)
  "$build/programs/tesvar" in.bmp out.bmp
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN {print b - a}'
}
median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

replacing=() fresh=()
for _ in $(seq "$runs"); do
  sync
  replacing+=("$(seconds)")
  rm out.bmp
  sync
  fresh+=("$(seconds)")
done
r=$(printf '%s\n' "${replacing[@]}" | median)
f=$(printf '%s\n' "${fresh[@]}" | median)
printf 'replacing an existing 96 MB result (synced): median %.3f s\n' "$r"
printf 'writing a new name (no sync):                median %.3f s\n' "$f"
printf 'cost of the sync:                            %.3f s\n' "$(awk -v a="$f" -v b="$r" 'BEGIN {print b - a}')"
cd - >/dev/null
rm -rf "$work"
