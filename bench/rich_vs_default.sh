#!/usr/bin/env bash
# Times kelvarin with and without --rich on generated inputs, in alternating
# rounds so that a change in the machine's load falls on both alike, and
# prints the median wall time of each, their ratio, and the peak resident
# memory of each.  Usage: bench/rich_vs_default.sh [rounds] [bytes]
# (defaults 7 and 8000000).  KELVARIN=/path/to/kelvarin times that binary.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-7}
bytes=${2:-8000000}

cmake -S "$root" -B "$root/build-release" -DCMAKE_BUILD_TYPE=Release -DKELVARIN_TESTS=OFF >/dev/null
cmake --build "$root/build-release" -j2 >/dev/null
kelvarin=${KELVARIN:-$root/build-release/kelvarin}
make_input=$root/build-release/bench/kelvarin_make_input

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

ms() { local t0; t0=$(date +%s%N); "$@" >/dev/null 2>&1; echo $((($(date +%s%N) - t0) / 1000000)); }
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
peak_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }

echo "| input | default ms | --rich ms | --rich / default | peak KiB default, --rich |"
echo "|---|---|---|---|---|"
for kind in dense mixed plain; do
  "$make_input" "$kind" "$bytes" > "$kind.tex"
  d=() r=()
  for ((i = 0; i < rounds; i++)); do
    d+=("$(ms "$kelvarin" "$kind.tex")")
    r+=("$(ms "$kelvarin" --rich "$kind.tex")")
  done
  md=$(median "${d[@]}") mr=$(median "${r[@]}")
  echo "| $kind | $md | $mr | $(awk -v a="$mr" -v b="$md" 'BEGIN {printf "%.2f", a/b}') |" \
       "$(peak_kib "$kelvarin" "$kind.tex"), $(peak_kib "$kelvarin" --rich "$kind.tex") |"
done
