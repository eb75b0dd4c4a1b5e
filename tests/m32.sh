#!/usr/bin/env bash
# The program built for 32 bits (g++ -m32, as Debian's i386 builds it), without a warning, and
# run under qemu-i386: the default fern and triangle write the same bytes as the 64-bit build
# given as argument; a bitmap beyond the address space is refused before any file is made; a
# text over 4 GiB written in place keeps its whole length. Needs g++-multilib, qemu-user and
# about 4.4 GB free in the temporary folder.
#   usage: tests/m32.sh [64-bit build folder, default build]
set -euo pipefail
cd "$(dirname "$0")/.."
build64="$(realpath "${1:-build}")"
build32="$PWD/build-m32"

cmake -S . -B "$build32" -DFRACTXBM_TESTS=OFF -DCMAKE_CXX_FLAGS=-m32 \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build "$build32" -j2 --target fractxbm
run32() { qemu-i386 "$build32/fractxbm" "$@"; }

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

# The triangle's seed, the clock, is pinned for both builds.
export SOURCE_DATE_EPOCH=1234567
for type in triangle fern; do
  run32 "$type.32.xbm" "$type" && "$build64/fractxbm" "$type.64.xbm" "$type"
  cmp "$type.32.xbm" "$type.64.xbm"
  echo "m32: default $type the same as the 64-bit build's"
done

# 5 GB of bitmap: within what many machines hold, beyond what a 32-bit process can address.
status=0
message="$(run32 refused.xbm fern 200000 200000 1 2>&1)" || status=$?
if [[ "$status" != 1 || -e refused.xbm ||
  "$message" != "ERREUR: Memoire insuffisante"*" adressables "* ]]; then
  printf 'm32: fern 200000 200000 1 not refused (status %s): %s\n' "$status" "$message" >&2
  exit 1
fi
echo "m32: $message"

# A hard-linked file is rewritten in place, its length set by ftruncate: 4,303,355,980 bytes of
# text (8,388,684 once cut to 32 bits), from a bitmap of 0.7 GB.
expected=4303355980
free="$(df -B1 --output=avail . | tail -n 1)"
if ((free < expected + 100000000)); then
  echo "m32: $free bytes free in $scratch, too few for a text of $expected bytes" >&2 && exit 1
fi
echo old >linked.xbm && ln linked.xbm other_name && run32 linked.xbm fern 16777216 342 1
size="$(stat -c %s other_name)"
if [[ "$size" != "$expected" ]]; then
  echo "m32: the text rewritten in place has $size bytes instead of $expected" >&2 && exit 1
fi
echo "m32: text over 4 GiB rewritten in place: $size bytes"
