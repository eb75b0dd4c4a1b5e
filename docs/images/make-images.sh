#!/usr/bin/env bash
# Makes the two pictures shown in README.md from the program's own output, with netpbm's
# xbmtopbm and pnmtopng. Run from the repository's root after building:
#     bash docs/images/make-images.sh [path/to/fractxbm]
# The triangle is seeded with SOURCE_DATE_EPOCH in place of the clock, so that every run makes
# the same picture.
set -euo pipefail
cd "$(dirname "$0")/../.."
exe="${1:-build/fractxbm}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

SOURCE_DATE_EPOCH=1 "$exe" "$work/triangle.xbm" triangle 600 600 200000
"$exe" "$work/fern.xbm" fern 500 600 300000

for name in triangle fern; do
    xbmtopbm "$work/$name.xbm" | pnmtopng -compression 9 > "docs/images/$name.png"
done
