#!/usr/bin/env bash
# Times kelvarin against the floor (and pandoc, when installed) on generated
# inputs, and checks that the time grows linearly with the input and with the
# number of formulas.  Usage: bench/run.sh [runs]   (default 5 runs each;
# the median is reported).  Needs about 1.5 GB of free space in $TMPDIR.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}

cmake -S "$root" -B "$root/build-release" -DCMAKE_BUILD_TYPE=Release -DKELVARIN_TESTS=OFF >/dev/null
cmake --build "$root/build-release" -j2 >/dev/null
kelvarin=$root/build-release/kelvarin
floor=$root/build-release/bench/kelvarin_floor
make_input=$root/build-release/bench/kelvarin_make_input

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Median wall time in seconds of "$@" over $runs runs.
median_time() {
  local times=()
  for ((i = 0; i < runs; i++)); do
    local t0 t1
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s%N)
    times+=("$(( (t1 - t0) / 1000 ))")
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.4f", a[int((NR+1)/2)]/1e6}'
}

# Peak resident set size in MiB of one run of "$@".
peak_rss() {
  /usr/bin/time -f "%M" "$@" 2>&1 >/dev/null | tail -n 1 | awk '{printf "%.1f", $1/1024}'
}

mbps() { awk -v b="$1" -v t="$2" 'BEGIN {printf "%.1f", b/1048576/t}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a/b}'; }

echo "kelvarin benchmark, $(date -u +%Y-%m-%d), $(nproc) cores, median of $runs runs"
echo
echo "| input | size | kelvarin MB/s | floor MB/s | kelvarin/floor | floor for both outputs | kelvarin/that | kelvarin RSS MiB | floor RSS MiB | pandoc MB/s |"
echo "|---|---|---|---|---|---|---|---|---|---|"
for kind in mixed plain; do
  for mib in 1 10 100; do
    [ "$kind" = plain ] && [ "$mib" != 100 ] && continue
    f=$kind$mib.tex
    "$make_input" "$kind" $((mib * 1048576)) > "$f"
    bytes=$(stat -c %s "$f")
    tk=$(median_time "$kelvarin" "$f")
    tf=$(median_time "$floor" "$f")
    # The output rules flush every line of both outputs; the floor of that
    # is the floor run over the input and over the equation document.
    "$kelvarin" "$f" >/dev/null
    tq=$(median_time "$floor" "${f%.tex}.eq.tex")
    both=$(awk -v a="$tf" -v b="$tq" 'BEGIN {printf "%.4f", a+b}')
    pandoc_rate="-"
    if command -v pandoc >/dev/null && [ "$mib" -le 1 ]; then
      t0=$(date +%s%N)
      if timeout 300 pandoc -f latex -t mediawiki "$f" -o "$f.pandoc.txt" 2>/dev/null; then
        t1=$(date +%s%N)
        pandoc_rate=$(mbps "$bytes" "$(awk -v d=$((t1 - t0)) 'BEGIN {print d/1e9}')")
      else
        pandoc_rate="failed"
      fi
    fi
    echo "| $kind | $mib MiB | $(mbps "$bytes" "$tk") | $(mbps "$bytes" "$tf") | $(ratio "$tk" "$tf") | $(mbps "$bytes" "$both") | $(ratio "$tk" "$both") | $(peak_rss "$kelvarin" "$f") | $(peak_rss "$floor" "$f") | $pandoc_rate |"
    rm -f "$f".floor.txt "${f%.tex}".eq.tex.floor.txt
  done
done

echo
echo "Scaling with the input (mixed):"
echo
echo "| input | time s | time / time(1x) |"
echo "|---|---|---|"
base=""
for k in 1 2 4 8; do
  f=scale$k.tex
  "$make_input" mixed $((k * 8 * 1048576)) > "$f"
  t=$(median_time "$kelvarin" "$f")
  [ -z "$base" ] && base=$t
  echo "| ${k}x ($((k * 8)) MiB) | $t | $(ratio "$t" "$base") |"
  rm -f "$f" "${f%.tex}".*.t*
done

echo
echo "Scaling with the number of distinct formulas:"
echo
echo "| formulas | time s | time / time(25k) | equation document lines |"
echo "|---|---|---|---|"
base=""
for n in 25000 50000 100000 200000; do
  f=formulas$n.tex
  "$make_input" formulas "$n" > "$f"
  t=$(median_time "$kelvarin" "$f")
  [ -z "$base" ] && base=$t
  echo "| $n | $t | $(ratio "$t" "$base") | $(wc -l < "${f%.tex}.eq.tex") |"
done
