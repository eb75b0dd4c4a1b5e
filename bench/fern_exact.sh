#!/usr/bin/env bash
# Checks that two builds draw the same fern, byte for byte, over sizes and counts chosen to reach
# the corners: one-pixel and one-row bitmaps, odd sizes, 16384 x 16384, counts from none to
# the largest, 2^32 - 1, and across the generator's batches of 64 points. A small bitmap fills up
# long before a billion points, so a billion also go into the large one, where a point that
# strays from the old orbit still shows.
#   bash bench/fern_exact.sh OLD_EXE NEW_EXE [quick]
# "quick" leaves out the three longest runs. Prints each case, then the number that differ.
set -euo pipefail
old=$1
new=$2
quick=${3:-}
work=$(mktemp -d "${WORKDIR:-$( [ -d /dev/shm ] && echo /dev/shm || echo /tmp )}/fern_exact.XXXXXX")
trap 'rm -rf "$work"' EXIT

cases=("")
for size in "1 1" "1 9" "7 7" "13 2" "1000 1000" "999 1001" "4096 3" "3 4096"; do
  for count in 0 1 2 3 63 64 65 129 100000 10000000; do
    cases+=("$size $count")
  done
done
cases+=("16384 16384 100000" "16384 16384 3000000")
[ "$quick" = quick ] || cases+=("64 64 1000000000" "64 64 4294967295" "16384 16384 1000000000")

differ=0
for c in "${cases[@]}"; do
  # An empty case is the default run: "fern" and no more arguments.
  # shellcheck disable=SC2086
  "$old" "$work/old.xbm" fern $c
  # shellcheck disable=SC2086
  "$new" "$work/new.xbm" fern $c
  a=$(sha256sum <"$work/old.xbm" | cut -c1-16)
  b=$(sha256sum <"$work/new.xbm" | cut -c1-16)
  if [ "$a" = "$b" ]; then
    echo "same    fern ${c:-(default)}  $a"
  else
    echo "DIFFER  fern ${c:-(default)}  $a $b"
    differ=$((differ + 1))
  fi
done
echo "$differ case(s) differ"
[ "$differ" -eq 0 ]
