#!/usr/bin/env bash
# Whole-process figures of fractxbm, side by side with an earlier revision, a floor and netpbm's
# pbmtoxbm.
#   bash bench/compare.sh [BASELINE [ROUNDS]]
# BASELINE is a git revision: by default main, or the commit before when the tree is main itself
# with nothing changed. It is built in build-baseline/ from a scratch worktree, the current tree
# (uncommitted changes included) in build-bench/. Installs netpbm, GNU time and valgrind when missing, then prints medians and
# ratios from interleaved runs, peak memory and instruction counts, and ends with a table of
# both builds' figures against the targets. Figures are read on this machine only; nothing here
# asserts a target.
#
# The files go to a RAM file system (/dev/shm, or $WORKDIR): on disk, the write-back of the
# hundreds of megabytes that each round writes lands on whichever command runs next, and the
# spread of every figure grows several times over.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -n "${1:-}" ]; then
  baseline_rev=$1
elif [ "$(git rev-parse main)" != "$(git rev-parse HEAD)" ] || ! git diff --quiet HEAD; then
  baseline_rev=main
else
  baseline_rev=HEAD~1
fi
rounds=${2:-31}
echo "baseline: $baseline_rev ($(git rev-parse --short "$baseline_rev"))"

need=()
command -v pbmtoxbm >/dev/null || need+=(netpbm)
[ -x /usr/bin/time ] || need+=(time)
command -v valgrind >/dev/null || need+=(valgrind)
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq && apt-get install -y -qq "${need[@]}" >/dev/null
fi

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DFRACTXBM_BENCHMARKS=ON \
  -DFRACTXBM_TESTS=OFF >/dev/null
cmake --build build-bench -j2 >/dev/null
source_tree=$(mktemp -d)
git worktree add -q --detach "$source_tree" "$baseline_rev"
trap 'git worktree remove --force "$source_tree"' EXIT
rm -rf build-baseline  # its cache names the scratch source folder of the last run
cmake -S "$source_tree" -B build-baseline -DCMAKE_BUILD_TYPE=Release -DFRACTXBM_TESTS=OFF >/dev/null
cmake --build build-baseline -j2 --target fractxbm >/dev/null
git worktree remove --force "$source_tree"
trap - EXIT

exe=$PWD/build-bench/fractxbm
old=$PWD/build-baseline/fractxbm
floor=$PWD/build-bench/bench/fractxbm_floor
runtimes=$PWD/build-bench/bench/fractxbm_runtimes
lscpu | awk -F': *' '/^Model name/ {print "processor: " $2}'

work=$(mktemp -d "${WORKDIR:-$( [ -d /dev/shm ] && echo /dev/shm || echo /tmp )}/fractxbm.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# The median of the row labelled $2 in the table $1.
median() { awk -v label="$2" 'substr($0, 1, length(label)) == label && substr($0, length(label) + 1, 2) == "  " {
  print $(NF - 4) }' <<<"$1"; }
# The median peak memory of the row labelled $2 in the table $1.
median_peak() { awk -v label="$2" 'substr($0, 1, length(label)) == label && substr($0, length(label) + 1, 2) == "  " {
  print $(NF - 1) }' <<<"$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# The floor holds its whole text before it opens the file, as the baseline did.
echo "== Default runs against the floor (750073 bytes), $rounds rounds"
small=$("$runtimes" "$rounds" \
  "floor: $floor floor.out 750073 whole" \
  "old triangle: $old old-tri.xbm" \
  "new triangle: $exe tri.xbm" \
  "old fern: $old old-fern.xbm fern" \
  "new fern: $exe fern.xbm fern")
echo "$small"

echo
long_rounds=$(( rounds / 4 > 5 ? rounds / 4 : 5 ))
echo "== fern 1000 1000 10000000 against the same floor, $long_rounds rounds"
long=$("$runtimes" "$long_rounds" \
  "floor: $floor floor.out 750073 whole" \
  "old fern: $old old-fern.xbm fern 1000 1000 10000000" \
  "new fern: $exe fern.xbm fern 1000 1000 10000000")
echo "$long"

echo
"$exe" big.xbm fern 16384 16384 100000
xbmtopbm big.xbm > big.pbm
size=$(stat -c %s big.xbm)
big_rounds=$(( rounds / 3 > 5 ? rounds / 3 : 5 ))
echo "== 16384 x 16384 fern ($size bytes of text) against pbmtoxbm and the floor, $big_rounds rounds"
big=$("$runtimes" "$big_rounds" \
  "floor: $floor floor.out $size whole" \
  "old fern: $old old-big.xbm fern 16384 16384 100000" \
  "new fern: $exe big.xbm fern 16384 16384 100000" \
  "pbmtoxbm same picture: pbmtoxbm <big.pbm >peer.xbm")
echo "$big"

echo
echo "== A picture one pixel wide, where the rows' table outweighs the rows, $big_rounds rounds"
tall=$("$runtimes" "$big_rounds" \
  "old fern: $old old-tall.xbm fern 1 4000000 1" \
  "new fern: $exe tall.xbm fern 1 4000000 1")
echo "$tall"

echo
echo "== Peak memory of: fractxbm big.xbm fern 16384 16384 1 (bitmap 32 MiB)"
peak() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ {print $2}'
}
old_peak=$(peak "$old" old-big.xbm fern 16384 16384 1)
new_peak=$(peak "$exe" big.xbm fern 16384 16384 1)
echo "old $old_peak KiB, new $new_peak KiB"

echo
echo "== Instructions (callgrind) of the default runs"
instructions() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 |
    awk '/refs:/ {gsub(",", "", $NF); print $NF}'
}
old_tri=$(instructions "$old" old-tri.xbm)
new_tri=$(instructions "$exe" tri.xbm)
old_fern=$(instructions "$old" old-fern.xbm fern)
new_fern=$(instructions "$exe" fern.xbm fern)
echo "triangle: old $old_tri, new $new_tri; fern: old $old_fern, new $new_fern"

both() {  # the ratios of the old and the new row of table $1 to its row $2
  printf '%s / %s' "$(ratio "$(median "$1" "old $3")" "$(median "$1" "$2")")" \
    "$(ratio "$(median "$1" "new $3")" "$(median "$1" "$2")")"
}
echo
echo "== Figures against targets (old = $baseline_rev, new = this tree)"
printf '%-52s %18s %12s\n' figure "old / new" target
printf '%-52s %18s %12s\n' "default triangle run / floor" "$(both "$small" floor triangle)" "<= 2.05"
printf '%-52s %18s %12s\n' "default fern run / floor" "$(both "$small" floor fern)" "<= 1.5"
printf '%-52s %18s %12s\n' "fern 1000 1000 10000000 / floor" "$(both "$long" floor fern)" "<= 48"
printf '%-52s %18s %12s\n' "fern 16384 16384 / pbmtoxbm" \
  "$(both "$big" "pbmtoxbm same picture" fern)" "<= 0.10"
printf '%-52s %18s %12s\n' "fern 16384 16384 / floor writing the same bytes" \
  "$(both "$big" floor fern)" "<= 0.70"
printf '%-52s %18s %12s\n' "peak memory of fern 16384 16384 1 / 32 MiB" \
  "$(ratio "$old_peak" 32768) / $(ratio "$new_peak" 32768)" "<= 1.07"
printf '%-52s %18s %12s\n' "fern 1 4000000 1, time / old's" \
  "1.00 / $(ratio "$(median "$tall" "new fern")" "$(median "$tall" "old fern")")" "<= 0.5"
printf '%-52s %18s %12s\n' "fern 1 4000000 1, peak memory / old's" \
  "1.00 / $(ratio "$(median_peak "$tall" "new fern")" "$(median_peak "$tall" "old fern")")" "<= 0.6"
printf '%-52s %18s %12s\n' "instructions, default triangle (millions)" \
  "$(ratio "$old_tri" 1e6) / $(ratio "$new_tri" 1e6)" "<= 9.2"
printf '%-52s %18s %12s\n' "instructions, default fern (millions)" \
  "$(ratio "$old_fern" 1e6) / $(ratio "$new_fern" 1e6)" "<= 5.9"
