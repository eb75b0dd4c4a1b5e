#!/usr/bin/env bash
# Whole-process figures of fractxbm, side by side with an earlier revision, a floor and netpbm's
# pbmtoxbm.
#   bash bench/compare.sh [BASELINE [ROUNDS]]
# BASELINE is a git revision: by default main, or the commit before when the tree is main itself
# with nothing changed. It is built in build-baseline/ from a scratch worktree, the current tree
# (uncommitted changes included) in build-bench/, both configured afresh. Needs git, CMake, a
# C++ compiler, Google Benchmark, netpbm and valgrind, and says which are missing before doing
# anything. Prints medians and ratios from interleaved runs, peak memory and instruction counts,
# then a summary of both builds' figures. Nothing here sets or asserts a target.
#
# The files go to a RAM file system (/dev/shm, or $WORKDIR): on disk, the write-back of the
# hundreds of megabytes that each round writes lands on whichever command runs next, and the
# spread of every figure grows several times over.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
for tool in git:git cmake:cmake c++:g++ pbmtoxbm:netpbm xbmtopbm:netpbm valgrind:valgrind; do
  command -v "${tool%%:*}" >/dev/null || missing+=("${tool#*:}")
done
if [ ${#missing[@]} -gt 0 ]; then
  packages=$(printf '%s\n' "${missing[@]}" | sort -u | tr '\n' ' ')
  echo "compare.sh needs: ${packages% } (on Debian: apt install ${packages}libbenchmark-dev)" >&2
  exit 1
fi

if [ -n "${1:-}" ]; then
  baseline_rev=$1
elif [ "$(git rev-parse main)" != "$(git rev-parse HEAD)" ] || ! git diff --quiet HEAD; then
  baseline_rev=main
else
  baseline_rev=HEAD~1
fi
rounds=${2:-31}
echo "baseline: $baseline_rev ($(git rev-parse --short "$baseline_rev"))"

# Configured afresh, so that a cache left by an earlier configuration cannot give this build
# other flags than the baseline's.
log=$(mktemp)
if ! cmake --fresh -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DFRACTXBM_BENCHMARKS=ON \
  -DFRACTXBM_TESTS=OFF >"$log" 2>&1; then
  cat "$log" >&2
  echo "compare.sh: configuring build-bench failed (Google Benchmark: apt install" \
    "libbenchmark-dev)" >&2
  exit 1
fi
rm "$log"
cmake --build build-bench -j2 >/dev/null
source_tree=$(mktemp -d)
git worktree add -q --detach "$source_tree" "$baseline_rev"
trap 'git worktree remove --force "$source_tree"' EXIT
rm -rf build-baseline  # its cache names the scratch source folder of the last run
cmake -S "$source_tree" -B build-baseline -DCMAKE_BUILD_TYPE=Release -DFRACTXBM_TESTS=OFF >/dev/null
cmake --build build-baseline -j2 --target fractxbm >/dev/null
git worktree remove --force "$source_tree"
trap - EXIT

# The flags that the build folder $1 compiles fractxbm's main with (Makefile generator).
flags() { sed -n 's/^CXX_FLAGS = //p' "$1/CMakeFiles/fractxbm.dir/flags.make"; }
echo "compiler flags: old '$(flags build-baseline)'"
echo "                new '$(flags build-bench)'"

exe=$PWD/build-bench/fractxbm
old=$PWD/build-baseline/fractxbm
floor=$PWD/build-bench/bench/fractxbm_floor
runtimes=$PWD/build-bench/bench/fractxbm_runtimes
lscpu | awk -F': *' '/^Model name/ {print "processor: " $2}'

work=$(mktemp -d "${WORKDIR:-$( [ -d /dev/shm ] && echo /dev/shm || echo /tmp )}/fractxbm.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# The field named $3 (median_ms, peak_kib, ...) of the command labelled $2 in the lines $1 that
# fractxbm_runtimes printed.
field() {
  awk -v label="$2:" -v name="$3=" 'index($0, label) == 1 {
    for (i = 2; i <= NF; i++) if (index($i, name) == 1) print substr($i, length(name) + 1) }' <<<"$1"
}
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
echo "== A triangle of 200000000 points, where the random numbers take most of the time, $long_rounds rounds"
dense=$("$runtimes" "$long_rounds" \
  "old triangle: $old old-dense.xbm triangle 4096 4096 200000000" \
  "new triangle: $exe dense.xbm triangle 4096 4096 200000000")
echo "$dense"

echo
echo "== A picture one pixel wide, where the rows' table outweighs the rows, $big_rounds rounds"
tall=$("$runtimes" "$big_rounds" \
  "old fern: $old old-tall.xbm fern 1 4000000 1" \
  "new fern: $exe tall.xbm fern 1 4000000 1")
echo "$tall"

echo
peak_rounds=5
echo "== Peak memory of: fractxbm big.xbm fern 16384 16384 1 (bitmap 32 MiB), $peak_rounds rounds"
peak=$("$runtimes" "$peak_rounds" \
  "old fern: $old old-big.xbm fern 16384 16384 1" \
  "new fern: $exe big.xbm fern 16384 16384 1")
echo "$peak"

echo
echo "== Instructions (callgrind) of the default runs"
# The count of instructions that callgrind writes into its profile, on the line "summary:".
instructions() {
  valgrind -q --tool=callgrind --callgrind-out-file=profile.out "$@" &&
    sed -n 's/^summary: *//p' profile.out && rm profile.out
}
old_tri=$(instructions "$old" old-tri.xbm)
new_tri=$(instructions "$exe" tri.xbm)
old_fern=$(instructions "$old" old-fern.xbm fern)
new_fern=$(instructions "$exe" fern.xbm fern)
echo "triangle: old $old_tri, new $new_tri; fern: old $old_fern, new $new_fern"

both() {  # the ratios of the old and the new row of table $1 to its row $2
  printf '%s / %s' "$(ratio "$(field "$1" "old $3" median_ms)" "$(field "$1" "$2" median_ms)")" \
    "$(ratio "$(field "$1" "new $3" median_ms)" "$(field "$1" "$2" median_ms)")"
}
echo
echo "== Summary (old = $baseline_rev, new = this tree; medians)"
printf '%-52s %18s\n' figure "old / new"
printf '%-52s %18s\n' "default triangle run / floor" "$(both "$small" floor triangle)"
printf '%-52s %18s\n' "default fern run / floor" "$(both "$small" floor fern)"
printf '%-52s %18s\n' "fern 1000 1000 10000000 / floor" "$(both "$long" floor fern)"
printf '%-52s %18s\n' "fern 16384 16384 / pbmtoxbm" "$(both "$big" "pbmtoxbm same picture" fern)"
printf '%-52s %18s\n' "fern 16384 16384 / floor writing the same bytes" "$(both "$big" floor fern)"
printf '%-52s %18s\n' "peak memory of fern 16384 16384 1 / 32 MiB" \
  "$(ratio "$(field "$peak" "old fern" peak_kib)" 32768) / $(ratio "$(field "$peak" "new fern" peak_kib)" 32768)"
printf '%-52s %18s\n' "triangle 4096 4096 200000000, time / old's" \
  "1.00 / $(ratio "$(field "$dense" "new triangle" median_ms)" "$(field "$dense" "old triangle" median_ms)")"
printf '%-52s %18s\n' "fern 1 4000000 1, time / old's" \
  "1.00 / $(ratio "$(field "$tall" "new fern" median_ms)" "$(field "$tall" "old fern" median_ms)")"
printf '%-52s %18s\n' "fern 1 4000000 1, peak memory / old's" \
  "1.00 / $(ratio "$(field "$tall" "new fern" peak_kib)" "$(field "$tall" "old fern" peak_kib)")"
printf '%-52s %18s\n' "instructions, default triangle (millions)" \
  "$(ratio "$old_tri" 1e6) / $(ratio "$new_tri" 1e6)"
printf '%-52s %18s\n' "instructions, default fern (millions)" \
  "$(ratio "$old_fern" 1e6) / $(ratio "$new_fern" 1e6)"
