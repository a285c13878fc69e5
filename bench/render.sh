#!/usr/bin/env bash
# Times kelvarin-render on a generated 4,000-formula equation document with
# 1 % faulty formulas (one of them a loop) against what a plain latex pass
# and a plain dvipng pass over the same pages take. A plain latex pass cannot
# finish with the looping formula in it, so the plain passes run over the
# same document without that one formula.
#   Usage: bench/render.sh [runs] [formulas]   (defaults 3 and 4000; medians)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-3}
n=${2:-4000}

cmake -S "$root" -B "$root/build-release" -DCMAKE_BUILD_TYPE=Release -DKELVARIN_TESTS=OFF >/dev/null
cmake --build "$root/build-release" -j2 >/dev/null
render=$root/build-release/kelvarin-render
make_equations=$root/build-release/bench/kelvarin_make_equations

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$make_equations" "$n" > bench.eq.tex
"$make_equations" "$n" --no-loop > plain.eq.tex
"$make_equations" "$n" --stopping > stopping.eq.tex
"$make_equations" "$n" --loops > loops.eq.tex

now() { date +%s%N; }
secs() { awk -v d="$1" 'BEGIN {printf "%.2f", d/1e9}'; }
median() { sort -n | awk '{a[NR]=$1} END {printf "%.2f", a[int((NR+1)/2)]}'; }

# Every run writes into fresh folders, as a first render does: creating
# thousands of image files is a good part of the cost. The files of the run
# before are removed, and written back to disk, before the clock starts.
fresh() { rm -rf "$@"; sync; }
t_latex=(); t_dvipng=(); t_plain=(); t_render=(); t_stopping=(); t_loops=(); ratios=()
for ((i = 0; i < runs; i++)); do
  fresh plain && mkdir plain
  t0=$(now); latex -interaction=nonstopmode -output-directory=plain plain.eq.tex >/dev/null 2>&1 || true; t1=$(now)
  dvipng -q -T tight -D 120 --gif -o plain/img%d.gif plain/plain.eq.dvi >/dev/null 2>&1 || true; t2=$(now)
  t_latex+=("$(secs $((t1 - t0)))"); t_dvipng+=("$(secs $((t2 - t1)))"); t_plain+=("$(secs $((t2 - t0)))")
  fresh out
  t0=$(now); "$render" --out out bench.eq.tex >render.out 2>render.err || true; t1=$(now)
  t_render+=("$(secs $((t1 - t0)))")
  ratios+=("$(awk -v a="${t_render[-1]}" -v b="${t_plain[-1]}" 'BEGIN {printf "%.2f", a/b}')")
  fresh out2
  t0=$(now); "$render" --out out2 stopping.eq.tex >/dev/null 2>&1 || true; t1=$(now)
  t_stopping+=("$(secs $((t1 - t0)))")
  fresh out3
  t0=$(now); "$render" --out out3 loops.eq.tex >/dev/null 2>loops.err || true; t1=$(now)
  t_loops+=("$(secs $((t1 - t0)))")
done
pages=$(sed -n 's/.*(\([0-9]*\) pages.*/\1/p' plain/plain.eq.log)
latex_s=$(printf '%s\n' "${t_latex[@]}" | median)
dvipng_s=$(printf '%s\n' "${t_dvipng[@]}" | median)
plain_s=$(printf '%s\n' "${t_plain[@]}" | median)
render_s=$(printf '%s\n' "${t_render[@]}" | median)
stopping_s=$(printf '%s\n' "${t_stopping[@]}" | median)
loops_s=$(printf '%s\n' "${t_loops[@]}" | median)

echo "kelvarin-render benchmark, $(date -u +%Y-%m-%d), $(nproc) cores, median of $runs runs, $n formulas"
echo
echo "| what | seconds |"
echo "|---|---|"
echo "| plain latex pass (without the looping formula; $pages pages) | $latex_s |"
echo "| plain dvipng pass over its DVI file | $dvipng_s |"
echo "| plain passes together | $plain_s |"
echo "| kelvarin-render, 1 % faulty formulas, one looping | $render_s |"
echo "| kelvarin-render / plain passes, median of the runs (lowest, highest) | $(printf '%s\n' "${ratios[@]}" | median) ($(printf '%s\n' "${ratios[@]}" | sort -n | head -1), $(printf '%s\n' "${ratios[@]}" | sort -n | tail -1)) |"
echo "| kelvarin-render, with faults that stop latex as well | $stopping_s |"
echo "| kelvarin-render, with a loop that prints and one that ships pages as well | $loops_s |"
echo
echo "kelvarin-render said: $(cat render.out)"
grep -c ': ' render.err | sed 's/^/lines on standard error: /'
grep 'did not finish' render.err || true
grep 'did not finish' loops.err || true
