#!/usr/bin/env python3
"""How much LaTeX is left on the wiki page, default mode against rich mode.

    bench/residual.py path/to/kelvarin paper.tex ...

For each paper it converts a copy twice, without and with --rich, and counts
on each page the LaTeX commands left outside code blocks (a backslash and a
name, or a backslash and one other byte). It also counts the words of the
default page that the rich page keeps, code blocks included: words are runs of two letters or more
(single letters on the default page are almost all formula text that the
default mode leaves raw, as in align rows, and rich mode makes into images);
the names of commands, labels, citation keys and environments, and the
arguments of \begin (placement, column specifications) are not words of the
paper and are left out, as are image names.
"""
import collections
import os
import re
import shutil
import subprocess
import sys
import tempfile

COMMAND = re.compile(r"\\(?:[A-Za-z]+|[^A-Za-z\s])")
WORD = re.compile(r"[^\W\d_]+")
KEYS = re.compile(r"\\(?:label|[a-zA-Z]*ref|[a-zA-Z]*cite[a-zA-Z]*|begin|end|bibitem)\*?(?:\[[^\]]*\])*\{([^}]*)\}")
BEGIN_ARGUMENTS = re.compile(r"\\begin\{[^}]*\}((?:\[[^\]]*\]|\{[^}]*\})*)")
IMAGE = re.compile(r"[#&]ref\([^)]*\)")


def outside_code(page):
    kept, in_code = [], False
    for line in page.splitlines():
        if line.startswith("#code("):
            in_code = True
        elif in_code and line == "}}":
            in_code = False
        elif not in_code:
            kept.append(line)
    return "\n".join(kept)


def words(page, excluded):
    text = IMAGE.sub(" ", page)
    text = COMMAND.sub(" ", text)
    return collections.Counter(w for w in WORD.findall(text) if len(w) > 1 and w not in excluded)


def convert(kelvarin, source, rich):
    work = tempfile.mkdtemp()
    try:
        shutil.copy(source, os.path.join(work, "paper.tex"))
        args = [kelvarin] + (["--rich"] if rich else []) + ["paper.tex"]
        subprocess.run(args, cwd=work, check=True, capture_output=True)
        with open(os.path.join(work, "paper.wiki.txt"), encoding="utf-8", errors="replace") as f:
            return f.read().replace("\r\n", "\n")
    finally:
        shutil.rmtree(work)


def main():
    kelvarin, papers = os.path.abspath(sys.argv[1]), sys.argv[2:]
    print("| paper | lines | commands left, default | commands left, rich | rich/default | words kept |")
    print("|---|---|---|---|---|---|")
    for paper in papers:
        with open(paper, encoding="utf-8", errors="replace") as f:
            source = f.read()
        excluded = set()
        for keys in KEYS.findall(source) + BEGIN_ARGUMENTS.findall(source):
            excluded.update(WORD.findall(keys))
        default = convert(kelvarin, paper, False)
        rich = convert(kelvarin, paper, True)
        left_default = len(COMMAND.findall(outside_code(default)))
        left_rich = len(COMMAND.findall(outside_code(rich)))
        # Words count on the whole page: code kept as code is kept.
        want, have = words(default, excluded), words(rich, excluded)
        kept = sum(min(n, have[w]) for w, n in want.items())
        total = sum(want.values())
        print("| %s | %d | %d | %d | %.3f | %.1f %% |" % (
            os.path.basename(paper), source.count("\n"), left_default, left_rich,
            left_rich / max(left_default, 1), 100.0 * kept / max(total, 1)))


if __name__ == "__main__":
    main()
