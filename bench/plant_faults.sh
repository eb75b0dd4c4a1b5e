#!/usr/bin/env bash
# Plants faults in the program one at a time and tells which the test suite catches: each line of
# bench/faults.txt is "file | perl substitution | what the fault is". The tree is copied into a
# scratch git worktree; every fault is built and tested there (ctest stops at the first failing
# test), then taken back. Prints one line per fault and the share caught.
#   bash bench/plant_faults.sh [faults file]
set -uo pipefail
cd "$(dirname "$0")/.."
faults=${1:-bench/faults.txt}
scratch=$(mktemp -d /tmp/fractxbm-faults.XXXXXX)
trap 'git worktree remove --force "$scratch/tree" >/dev/null 2>&1; rm -rf "$scratch"' EXIT
git worktree add -q --detach "$scratch/tree" HEAD
git diff HEAD | git -C "$scratch/tree" apply --allow-empty
tree=$scratch/tree
cmake -S "$tree" -B "$tree/build" -DFRACTXBM_TESTS=ON >/dev/null
cmake --build "$tree/build" -j2 >/dev/null || { echo "the tree does not build" >&2; exit 1; }
caught=0 planted=0
while IFS='|' read -r file substitution what; do
  file=$(echo "$file" | xargs); substitution=$(echo "$substitution" | xargs)
  [[ -z "$file" || "$file" == \#* ]] && continue
  cp "$tree/$file" "$scratch/original"
  perl -0pi -e "$substitution" "$tree/$file"
  if cmp -s "$tree/$file" "$scratch/original"; then
    echo "NOT PLANTED  $file:$what"
    continue
  fi
  planted=$((planted + 1))
  if ! cmake --build "$tree/build" -j2 >/dev/null 2>&1; then
    verdict="caught (does not build)"
    caught=$((caught + 1))
  elif ! ctest --test-dir "$tree/build" -j2 --stop-on-failure >"$scratch/log" 2>&1; then
    verdict="caught by $(grep -m1 -oE '[A-Za-z_]+\.[A-Za-z0-9_/]+ \.+\*+(Failed|Exception|Timeout)' "$scratch/log" | awk '{print $1}')"
    caught=$((caught + 1))
  else
    verdict="MISSED"
  fi
  printf '%-40s %s:%s\n' "$verdict" "$file" "$what"
  cp "$scratch/original" "$tree/$file"
done <"$faults"
cmake --build "$tree/build" -j2 >/dev/null 2>&1
echo "caught $caught of $planted planted faults"
