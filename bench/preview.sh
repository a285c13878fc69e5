#!/usr/bin/env bash
# Times kelvarin-preview on long realistic pages: the rich pages of the bench
# papers, their formulas rendered when TeX is installed, put one after the
# other until the page has 20,000 lines (and 200,000, to see that the time
# grows with the page and no faster). Usage: bench/preview.sh [runs]
# (default 5 runs each; the median is reported).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}

cmake -S "$root" -B "$root/build-release" -DCMAKE_BUILD_TYPE=Release -DKELVARIN_TESTS=OFF >/dev/null
cmake --build "$root/build-release" -j2 >/dev/null
bin=$root/build-release

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

cp "$root"/bench/papers/*.tex .
for paper in *.tex; do
  "$bin/kelvarin" --rich "$paper" >/dev/null
  if command -v latex >/dev/null && command -v dvipng >/dev/null; then
    "$bin/kelvarin-render" "${paper%.tex}.eq.tex" >/dev/null 2>&1 || true
  fi
done
images=$(ls ./*.gif 2>/dev/null | wc -l)
pages=(./*.wiki.txt)

# A page of at least $1 lines: the papers' pages one after the other, again
# and again.
make_page() {
  local want=$1 out=$2
  : >"$out"
  while [ "$(wc -l <"$out")" -lt "$want" ]; do cat "${pages[@]}" >>"$out"; done
}

# Median wall time in seconds of $runs runs of kelvarin-preview on "$1".
time_page() {
  local t0 t1 all=()
  for _ in $(seq "$runs"); do
    t0=$(date +%s%N)
    "$bin/kelvarin-preview" "$1" >/dev/null 2>&1 || true
    t1=$(date +%s%N)
    all+=($(( (t1 - t0) / 1000 )))
  done
  printf '%s\n' "${all[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.3f", a[int((NR+1)/2)]/1e6}'
}

echo "formula images on disk: $images"
printf '%-10s %10s %10s %10s %12s\n' lines bytes findings seconds "lines/s"
for want in 20000 200000; do
  page=page$want.wiki.txt
  make_page "$want" "$page"
  lines=$(wc -l <"$page")
  bytes=$(wc -c <"$page")
  findings=$("$bin/kelvarin-preview" "$page" 2>&1 >/dev/null | tail -n 1 | awk '{print $2}' || true)
  t=$(time_page "$page")
  printf '%-10s %10s %10s %10s %12.0f\n' "$lines" "$bytes" "$findings" "$t" "$(awk -v l="$lines" -v t="$t" 'BEGIN {print l/t}')"
done
