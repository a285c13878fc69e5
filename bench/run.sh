#!/usr/bin/env bash
# Times kelvarin against the floor (and pandoc, when installed) on generated
# inputs, and checks that the time grows linearly with the input and with the
# number of formulas.  Usage: bench/run.sh [runs]   (default 5 runs each;
# the median is reported).  Needs about 2 GB of free space in $TMPDIR.
# KELVARIN=/path/to/kelvarin times that binary instead of the one built here,
# against the same floor: an earlier build, for a before-and-after table.
#
# The runs alternate: each round times kelvarin, then the floor over the
# input, then the floor over the equation document, so that a change in the
# machine's load between rounds touches all three alike.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}

cmake -S "$root" -B "$root/build-release" -DCMAKE_BUILD_TYPE=Release -DKELVARIN_TESTS=OFF >/dev/null
cmake --build "$root/build-release" -j2 >/dev/null
kelvarin=${KELVARIN:-$root/build-release/kelvarin}
floor=$root/build-release/bench/kelvarin_floor
make_input=$root/build-release/bench/kelvarin_make_input

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Wall time in microseconds of one run of "$@".
time_once() {
  local t0 t1
  t0=$(date +%s%N)
  "$@" >/dev/null 2>&1
  t1=$(date +%s%N)
  echo $(( (t1 - t0) / 1000 ))
}

# Median, in seconds, of microsecond counts.
median() {
  printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {printf "%.4f", a[int((NR+1)/2)]/1e6}'
}

# Peak resident set size in MiB of one run of "$@".
peak_rss() {
  /usr/bin/time -f "%M" "$@" 2>&1 >/dev/null | tail -n 1 | awk '{printf "%.1f", $1/1024}'
}

mbps() { awk -v b="$1" -v t="$2" 'BEGIN {printf "%.1f", b/1048576/t}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a/b}'; }

# Median of the ratios a/b of paired counts: "a1 a2 ..." "b1 b2 ...".
paired_ratio() {
  paste -d ' ' <(printf '%s\n' $1) <(printf '%s\n' $2) |
    awk '{print $1 / $2}' | sort -g | awk '{a[NR]=$1} END {printf "%.2f", a[int((NR+1)/2)]}'
}

# Times kelvarin, the floor over the input and the floor over the equation
# document on "$1", in alternating rounds; sets tk, tf and tq (medians, s),
# and rf and rb, the medians of the rounds' ratios of kelvarin to the floor
# and to the floor for both outputs: a round's three runs share the load the
# machine had at the time, so its ratios are steadier than ratios of medians.
time_family() {
  local f=$1 eq=${1%.tex}.eq.tex
  "$kelvarin" "$f" >/dev/null
  # The floor reads a copy: kelvarin writes the equation document anew in
  # every round.
  cp "$eq" floor_eq.tex
  local ks=() fs=() qs=() bs=()
  for ((i = 0; i < runs; i++)); do
    ks+=("$(time_once "$kelvarin" "$f")")
    fs+=("$(time_once "$floor" "$f")")
    qs+=("$(time_once "$floor" floor_eq.tex)")
    bs+=("$((fs[i] + qs[i]))")
  done
  tk=$(median "${ks[@]}")
  tf=$(median "${fs[@]}")
  tq=$(median "${qs[@]}")
  rf=$(paired_ratio "${ks[*]}" "${fs[*]}")
  rb=$(paired_ratio "${ks[*]}" "${bs[*]}")
}

echo "kelvarin benchmark, $(date -u +%Y-%m-%d), $(nproc) cores, median of $runs alternating runs"
echo
echo "| input | size | kelvarin MB/s | floor MB/s | kelvarin/floor | floor for both outputs | kelvarin/that | kelvarin RSS MiB | floor RSS MiB | pandoc MB/s |"
echo "|---|---|---|---|---|---|---|---|---|---|"
for row in "mixed 1" "mixed 10" "mixed 100" "plain 100" "dense 10" "dense 100" "formulas 200000"; do
  set -- $row
  kind=$1 amount=$2
  if [ "$kind" = formulas ]; then
    f=formulas$amount.tex size="$amount formulas"
    "$make_input" formulas "$amount" > "$f"
  else
    f=$kind$amount.tex size="$amount MiB"
    "$make_input" "$kind" $((amount * 1048576)) > "$f"
  fi
  bytes=$(stat -c %s "$f")
  time_family "$f"
  # The output rules flush every line of both outputs; the floor of that
  # is the floor run over the input and over the equation document.
  both=$(awk -v a="$tf" -v b="$tq" 'BEGIN {printf "%.4f", a+b}')
  pandoc_rate="-"
  if command -v pandoc >/dev/null && [ "$kind" = mixed ] && [ "$amount" -le 1 ]; then
    t0=$(date +%s%N)
    if timeout 300 pandoc -f latex -t mediawiki "$f" -o "$f.pandoc.txt" 2>/dev/null; then
      t1=$(date +%s%N)
      pandoc_rate=$(mbps "$bytes" "$(awk -v d=$((t1 - t0)) 'BEGIN {print d/1e9}')")
    else
      pandoc_rate="failed"
    fi
  fi
  echo "| $kind | $size | $(mbps "$bytes" "$tk") | $(mbps "$bytes" "$tf") | $rf | $(mbps "$bytes" "$both") | $rb | $(peak_rss "$kelvarin" "$f") | $(peak_rss "$floor" "$f") | $pandoc_rate |"
  [ "$f" = mixed100.tex ] || rm -f "${f%.tex}".* "$f".*
  rm -f floor_eq.tex*
done

echo
echo "Rich mode against the default mode (mixed, 100 MiB):"
echo
echo "| mode | time s | time / time(default) | RSS MiB |"
echo "|---|---|---|---|"
ds=() rs=()
for ((i = 0; i < runs; i++)); do
  ds+=("$(time_once "$kelvarin" mixed100.tex)")
  rs+=("$(time_once "$kelvarin" --rich mixed100.tex)")
done
echo "| default | $(median "${ds[@]}") | 1.00 | $(peak_rss "$kelvarin" mixed100.tex) |"
echo "| --rich | $(median "${rs[@]}") | $(paired_ratio "${rs[*]}" "${ds[*]}") | $(peak_rss "$kelvarin" --rich mixed100.tex) |"
rm -f mixed100.*

# The time at 8, 16, 32 and 64 MiB of one family, and against the floor for
# both outputs at each size: the system's own cost per written line is not
# quite constant as the files grow, and the floor shows how much of the
# growth is that.
scaling() {
  local kind=$1 base=""
  echo
  echo "Scaling with the input ($kind):"
  echo
  echo "| input | time s | time / time(1x) | kelvarin / floor for both outputs | equation document pages |"
  echo "|---|---|---|---|---|"
  for k in 1 2 4 8; do
    local f=scale$k.tex
    "$make_input" "$kind" $((k * 8 * 1048576)) > "$f"
    time_family "$f"
    [ -z "$base" ] && base=$tk
    echo "| ${k}x ($((k * 8)) MiB) | $tk | $(ratio "$tk" "$base") | $rb | $(grep -c '^% .* (row : ' "${f%.tex}.eq.tex") |"
    rm -f "$f" "${f%.tex}".* "$f".* floor_eq.tex*
  done
}
scaling mixed
scaling dense

echo
echo "Scaling with the number of distinct formulas:"
echo
echo "| formulas | time s | time / time(25k) | kelvarin / floor for both outputs | equation document lines |"
echo "|---|---|---|---|---|"
base=""
for n in 25000 50000 100000 200000; do
  f=formulas$n.tex
  "$make_input" formulas "$n" > "$f"
  time_family "$f"
  [ -z "$base" ] && base=$tk
  echo "| $n | $tk | $(ratio "$tk" "$base") | $rb | $(wc -l < "${f%.tex}.eq.tex") |"
  rm -f "$f" "${f%.tex}".* "$f".* floor_eq.tex*
done
