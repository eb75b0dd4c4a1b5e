#!/usr/bin/env bash
# Whole-process figures of fractxbm, side by side with a floor and with netpbm's pbmtoxbm.
#   bash bench/compare.sh [ROUNDS]
# Builds a release tree in build-bench/, installs netpbm and GNU time when missing, and prints
# medians and ratios from one interleaved run of each group, then peak memory and instruction
# counts. Figures are read on this machine only; nothing here asserts a target.
#
# The files go to a RAM file system (/dev/shm, or $WORKDIR): on disk, the write-back of the
# hundreds of megabytes that each round writes lands on whichever command runs next, and the
# spread of every figure grows several times over.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-31}

need=()
command -v pbmtoxbm >/dev/null || need+=(netpbm)
[ -x /usr/bin/time ] || need+=(time)
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq && apt-get install -y -qq "${need[@]}" >/dev/null
fi

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DFRACTXBM_BENCHMARKS=ON \
  -DFRACTXBM_TESTS=OFF >/dev/null
cmake --build build-bench -j2 >/dev/null
exe=$PWD/build-bench/fractxbm
floor=$PWD/build-bench/bench/fractxbm_floor
runtimes=$PWD/build-bench/bench/fractxbm_runtimes

work=$(mktemp -d "${WORKDIR:-$( [ -d /dev/shm ] && echo /dev/shm || echo /tmp )}/fractxbm.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# The median of the row labelled $2 in the table $1.
median() { awk -v label="$2" 'substr($0, 1, length(label)) == label && substr($0, length(label) + 1, 2) == "  " {
  print $(NF - 4) }' <<<"$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "== Default runs against the floor (750073 bytes), $rounds rounds"
small=$("$runtimes" "$rounds" \
  "floor: $floor floor.out 750073" \
  "fractxbm out.xbm: $exe tri.xbm" \
  "same, 0 iterations: $exe tri0.xbm triangle 1000 1000 0" \
  "fractxbm out.xbm fern: $exe fern.xbm fern" \
  "floor, whole text held: $floor floor.out 750073 whole")
echo "$small"

echo
"$exe" big.xbm fern 16384 16384 100000
xbmtopbm big.xbm > big.pbm
size=$(stat -c %s big.xbm)
big_rounds=$(( rounds / 3 > 5 ? rounds / 3 : 5 ))
echo "== 16384 x 16384 fern ($size bytes of text) against pbmtoxbm and the floor, $big_rounds rounds"
big=$("$runtimes" "$big_rounds" \
  "fractxbm big fern: $exe big.xbm fern 16384 16384 100000" \
  "pbmtoxbm same picture: pbmtoxbm <big.pbm >peer.xbm" \
  "floor: $floor floor.out $size" \
  "floor, whole text held: $floor floor.out $size whole")
echo "$big"

echo
echo "== Peak memory of: fractxbm big.xbm fern 16384 16384 1"
peak_kib=$(/usr/bin/time -v "$exe" big.xbm fern 16384 16384 1 2>&1 >/dev/null |
  awk -F': ' '/Maximum resident set size/ {print $2}')
bitmap_bytes=$((2048 * 16384))
text_bytes=$(stat -c %s big.xbm)
awk -v peak="$peak_kib" -v bitmap="$bitmap_bytes" -v text="$text_bytes" 'BEGIN {
  printf "peak %d KiB; bitmap %d + text %d bytes = %d KiB; ratio %.3f\n",
         peak, bitmap, text, (bitmap + text) / 1024, peak * 1024 / (bitmap + text) }'

peak_ratio=$(awk -v peak="$peak_kib" -v sum=$((bitmap_bytes + text_bytes)) 'BEGIN {
  printf "%.3f", peak * 1024 / sum }')

echo
echo "== Instructions (callgrind) of the default runs"
instructions() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$exe" "$@" 2>&1 |
    awk '/refs:/ {gsub(",", "", $NF); print $NF}'
}
tri_refs=$(instructions tri.xbm)
fern_refs=$(instructions fern.xbm fern)
echo "fractxbm out.xbm: $tri_refs; fractxbm out.xbm fern: $fern_refs"

floor_small=$(median "$small" "floor")
floor_big=$(median "$big" "floor")
big_run=$(median "$big" "fractxbm big fern")
echo
echo "== Figures against targets"
printf '%-48s %10s %8s\n' figure measured target
printf '%-48s %10s %8s\n' "default triangle run / floor" \
  "$(ratio "$(median "$small" "fractxbm out.xbm")" "$floor_small")" "<= 2.0"
printf '%-48s %10s %8s\n' "default fern run / floor" \
  "$(ratio "$(median "$small" "fractxbm out.xbm fern")" "$floor_small")" "<= 2.0"
printf '%-48s %10s %8s\n' "16384 x 16384 fern run / pbmtoxbm" \
  "$(ratio "$big_run" "$(median "$big" "pbmtoxbm same picture")")" "<= 0.15"
printf '%-48s %10s %8s\n' "16384 x 16384 fern run / floor" "$(ratio "$big_run" "$floor_big")" "<= 1.2"
printf '%-48s %10s %8s\n' "16384 x 16384 fern run / floor, whole text held" \
  "$(ratio "$big_run" "$(median "$big" "floor, whole text held")")" "-"
printf '%-48s %10s %8s\n' "peak memory / (bitmap + text)" "$peak_ratio" "<= 1.05"
printf '%-48s %10s %8s\n' "instructions, default triangle run" "$tri_refs" "<= 1e7"
printf '%-48s %10s %8s\n' "instructions, default fern run" "$fern_refs" "<= 9e6"
