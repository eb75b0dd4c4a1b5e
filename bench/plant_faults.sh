#!/usr/bin/env bash
# Plants faults in the program one at a time and tells which the test suite catches: each line of
# bench/faults.txt is "file ~ text ~ its replacement ~ what the fault is", texts taken literally. The tree is copied into a
# scratch git worktree; every fault is built and tested there (ctest stops at the first failing
# test), then taken back. Prints one line per fault and the share caught.
#   bash bench/plant_faults.sh [faults file]
set -uo pipefail
cd "$(dirname "$0")/.."
faults=${1:-bench/faults.txt}
scratch=$(mktemp -d /tmp/fractxbm-faults.XXXXXX)
# Runs as another user must reach the program; and a run that would skip fails, as under CI.
chmod 755 "$scratch"
export CI=true
trap 'git worktree remove --force "$scratch/tree" >/dev/null 2>&1; rm -rf "$scratch"' EXIT
git worktree add -q --detach "$scratch/tree" HEAD
: >"$scratch/none"
tree=$scratch/tree
cmake -S "$tree" -B "$tree/build" -DFRACTXBM_TESTS=ON >/dev/null
cmake --build "$tree/build" -j2 >/dev/null || { echo "the tree does not build" >&2; exit 1; }
caught=0 planted=0
while IFS= read -r line; do
  [[ -z "$line" || "$line" == \#* ]] && continue
  IFS=$'\t' read -r file what < <(python3 - "$tree" "$line" <<'PLANT'
import sys
tree, line = sys.argv[1], sys.argv[2]
file, old, new, what = (field.strip() for field in line.split(" ~ "))
text = open(f"{tree}/{file}").read()
if old in text:
    open(f"{tree}/{file}", "w").write(text.replace(old, new))
print(f"{file}\t{what}")
PLANT
)
  if cmp -s "$tree/$file" <(git -C "$tree" show "HEAD:$file" 2>/dev/null || cat "$scratch/none"); then
    echo "NOT PLANTED  $file: $what"
    continue
  fi
  planted=$((planted + 1))
  if ! cmake --build "$tree/build" -j2 >/dev/null 2>&1; then
    verdict="caught (does not build)"
    caught=$((caught + 1))
  elif ! ctest --test-dir "$tree/build" -j2 --stop-on-failure --timeout 120 >"$scratch/log" 2>&1; then
    verdict="caught by $(grep -m1 -oE '[A-Za-z_]+\.[A-Za-z0-9_/]+ \.+\*+(Failed|Exception|Timeout)' "$scratch/log" | awk '{print $1}')"
    caught=$((caught + 1))
  else
    verdict="MISSED"
  fi
  printf '%-48s %s: %s\n' "$verdict" "$file" "$what"
  git -C "$tree" checkout -q -- "$file"
done <"$faults"
cmake --build "$tree/build" -j2 >/dev/null 2>&1
echo "caught $caught of $planted planted faults"
