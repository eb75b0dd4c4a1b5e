#!/usr/bin/env bash
# Whole-process figures of fractxbm, side by side with a floor and with netpbm's pbmtoxbm.
#   bash bench/compare.sh [ROUNDS]
# Builds a release tree in build-bench/, installs netpbm and GNU time when missing, and prints
# medians and ratios from one interleaved run of each group, then peak memory and instruction
# counts. Figures are read on this machine only; nothing here asserts a target.
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

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

echo "== Default runs against the floor (750073 bytes), $rounds rounds"
"$runtimes" "$rounds" \
  "floor: $floor floor.out 750073" \
  "fractxbm out.xbm: $exe tri.xbm" \
  "fractxbm out.xbm fern: $exe fern.xbm fern" \
  "floor, whole text held: $floor floor.out 750073 whole"

echo
"$exe" big.xbm fern 16384 16384 100000
xbmtopbm big.xbm > big.pbm
size=$(stat -c %s big.xbm)
big_rounds=$(( rounds / 3 > 5 ? rounds / 3 : 5 ))
echo "== 16384 x 16384 fern ($size bytes of text) against pbmtoxbm and the floor, $big_rounds rounds"
"$runtimes" "$big_rounds" \
  "fractxbm big fern: $exe big.xbm fern 16384 16384 100000" \
  "pbmtoxbm same picture: pbmtoxbm <big.pbm >peer.xbm" \
  "floor: $floor floor.out $size" \
  "floor, whole text held: $floor floor.out $size whole"

echo
echo "== Peak memory of: fractxbm big.xbm fern 16384 16384 1"
peak_kib=$(/usr/bin/time -v "$exe" big.xbm fern 16384 16384 1 2>&1 >/dev/null |
  awk -F': ' '/Maximum resident set size/ {print $2}')
bitmap_bytes=$((2048 * 16384))
text_bytes=$(stat -c %s big.xbm)
awk -v peak="$peak_kib" -v bitmap="$bitmap_bytes" -v text="$text_bytes" 'BEGIN {
  printf "peak %d KiB; bitmap %d + text %d bytes = %d KiB; ratio %.3f\n",
         peak, bitmap, text, (bitmap + text) / 1024, peak * 1024 / (bitmap + text) }'

echo
echo "== Instructions (callgrind) of the default runs"
for args in "tri.xbm" "fern.xbm fern"; do
  # shellcheck disable=SC2086
  refs=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null "$exe" $args 2>&1 |
    awk '/refs:/ {print $NF}')
  echo "fractxbm $args: $refs instructions"
done
