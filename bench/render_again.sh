#!/usr/bin/env bash
# Times kelvarin-render run after run in one folder, as a paper is edited,
# against one plain latex pass and one plain dvipng pass over the same
# pages: a first render with one latex run (-j 1) and with one per core, a
# render of the unchanged document, and a render after one formula changed.
# It checks that the first renders with -j 1 and with every core give the
# same files, byte for byte. Each round runs all of them in turn, so that the
# load of a shared machine falls on each alike; the tables give medians, and
# for the ratios the median of the rounds' own ratios.
#
# Two documents:
#   - render.sh's: N formulas (default 4,000), 1 % of them faulty, one of
#     them a loop; the plain passes run over it without the loop, which a
#     plain latex run cannot get past;
#   - a generated paper of 2N formulas (make_input formulas), converted with
#     --stable-names; the edit changes one formula in the paper.
#
#   Usage: bench/render_again.sh [rounds] [formulas]   (defaults 5 and 4000)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-5}
n=${2:-4000}

cmake -S "$root" -B "$root/build-release" -DCMAKE_BUILD_TYPE=Release -DKELVARIN_TESTS=OFF >/dev/null
cmake --build "$root/build-release" -j2 >/dev/null
render=$root/build-release/kelvarin-render
kelvarin=$root/build-release/kelvarin
make_equations=$root/build-release/bench/kelvarin_make_equations
make_input=$root/build-release/bench/kelvarin_make_input

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# kelvarin-render's scratch folders below the folder the plain passes write
# into, so that both create their files alike: on a file system that places
# new folders of /tmp in crowded block groups, creating 8,000 images there
# costs dvipng seconds of system time, against a few tenths below the
# working folder. BENCH_TMPDIR=/tmp times the default place.
export TMPDIR=${BENCH_TMPDIR:-$work/tmp}
mkdir -p "$TMPDIR"
# The formats kelvarin-render keeps of a preamble: emptied before each
# first render, so that a first render is one (it makes the format), and
# the renders after it start latex from that format, as they would after
# the user's own first render.
export XDG_CACHE_HOME=$work/cache

# Document A, its plain twin and its edit: one formula in the middle changed.
"$make_equations" "$n" > a.eq.tex
"$make_equations" "$n" --no-loop > a-plain.eq.tex
middle=$((n / 2 + 1))
awk -v m="% bench.eq$middle.gif " 'found == 1 && $0 == "\\[" {print; print "x + y = " m; found = 2; next}
     index($0, m) == 1 {found = 1} {print}' a.eq.tex > a-edited.eq.tex
cmp -s a.eq.tex a-edited.eq.tex && { echo "no formula was changed" >&2; exit 1; }

# Document B, from a paper, and the paper with one formula changed.
mkdir paper
"$make_input" formulas $((2 * n)) > paper/b.tex
"$kelvarin" --stable-names paper/b.tex >/dev/null
mv paper/b.eq.tex b.eq.tex
lines=$(wc -l < paper/b.tex)
sed "$((lines / 2))s/\\\$c_{/\$2c_{/" paper/b.tex > paper/b-edited.tex
"$kelvarin" --stable-names paper/b-edited.tex >/dev/null
# The same document name as the first, as after an edit in place.
sed 's/^% b-edited\.eq-/% b.eq-/' paper/b-edited.eq.tex > b-edited.eq.tex
cmp -s b.eq.tex b-edited.eq.tex && { echo "no formula was changed" >&2; exit 1; }
cp b.eq.tex b-plain.eq.tex

now() { date +%s%N; }
secs() { awk -v d="$1" 'BEGIN {printf "%.3f", d/1e9}'; }
median() { sort -n | awk '{a[NR]=$1} END {printf "%.3f", a[int((NR+1)/2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a/b}'; }
fresh() { rm -rf "$@"; sync; }
timed() { local t0; t0=$(now); "$@" >/dev/null 2>&1 || true; secs $(($(now) - t0)); }

declare -A t
add() { t[$1]="${t[$1]:-} $2"; }
declare -A identical=([a]=yes [b]=yes)

for ((i = 0; i < rounds; i++)); do
  for doc in a b; do
    fresh plain && mkdir plain
    t0=$(now)
    latex -interaction=nonstopmode -output-directory=plain "$doc-plain.eq.tex" >/dev/null 2>&1 || true
    add "$doc latex" "$(secs $(($(now) - t0)))"
    dvipng -q -T tight -D 120 --gif -o plain/img%d.gif "plain/$doc-plain.eq.dvi" >/dev/null 2>&1 || true
    plain=$(secs $(($(now) - t0)))
    add "$doc plain" "$plain"
    fresh one all "$XDG_CACHE_HOME"
    cp "$doc.eq.tex" doc.eq.tex
    s=$(timed "$render" -j 1 --out one doc.eq.tex); add "$doc one" "$s"; add "$doc one/" "$(ratio "$s" "$plain")"
    fresh "$XDG_CACHE_HOME"
    s=$(timed "$render" --out all doc.eq.tex); add "$doc all" "$s"; add "$doc all/" "$(ratio "$s" "$plain")"
    # The images; the manifests may differ in a message that gives a time
    # ("no progress on it for 1.1 s").
    diff -r -x '*.manifest' one all >/dev/null ||
      { identical[$doc]=no; echo "round $i, $doc: -j 1 and -j $(nproc) differ" >&2; }
    sync
    s=$(timed "$render" --out all doc.eq.tex); add "$doc again" "$s"; add "$doc again/" "$(ratio "$s" "$plain")"
    cp "$doc-edited.eq.tex" doc.eq.tex
    sync
    s=$(timed "$render" --out all doc.eq.tex); add "$doc edit" "$s"; add "$doc edit/" "$(ratio "$s" "$plain")"
  done
done
# What the runs say, once more, for the record.
fresh all "$XDG_CACHE_HOME" && cp a.eq.tex doc.eq.tex
"$render" --out all doc.eq.tex 2>&1 | grep -v ': bench.eq' | sed 's/^/    first:     /' > said || true
"$render" --out all doc.eq.tex 2>&1 | grep -v ': bench.eq' | sed 's/^/    unchanged: /' >> said || true
cp a-edited.eq.tex doc.eq.tex
"$render" --out all doc.eq.tex 2>&1 | grep -v ': bench.eq' | sed 's/^/    edited:    /' >> said || true

med() { printf '%s\n' ${t[$1]} | median; }
echo "kelvarin-render run after run, $(date -u +%Y-%m-%d), $(nproc) cores (load average $(cut -d' ' -f1-3 /proc/loadavg) at the end), median of $rounds alternating rounds, TMPDIR ${BENCH_TMPDIR:-below the working folder}"
echo
echo "| | A: $n formulas, 1 % faulty, one looping | B: paper of $((2 * n)) formulas, --stable-names |"
echo "|---|---|---|"
echo "| one plain latex + dvipng pass, s | $(med 'a plain') | $(med 'b plain') |"
echo "| of which latex, s | $(med 'a latex') | $(med 'b latex') |"
echo "| first render, -j 1, s (times the plain pass) | $(med 'a one') ($(med 'a one/')×) | $(med 'b one') ($(med 'b one/')×) |"
echo "| first render, -j $(nproc) (the default), s (times the plain pass) | $(med 'a all') ($(med 'a all/')×) | $(med 'b all') ($(med 'b all/')×) |"
echo "| unchanged re-render, s (times the plain pass) | $(med 'a again') ($(med 'a again/')×) | $(med 'b again') ($(med 'b again/')×) |"
echo "| re-render after one formula changed, s (times the plain pass) | $(med 'a edit') ($(med 'a edit/')×) | $(med 'b edit') ($(med 'b edit/')×) |"
echo "| images of -j $(nproc) byte-identical to those of -j 1, every round | ${identical[a]} | ${identical[b]} |"
echo
echo "Document A, rendered once more (failures not shown):"
echo
cat said
