// Writes a generated LaTeX source to standard output, for the benchmarks.
//
//   make_input mixed BYTES     a paper-like mix of every construct
//   make_input plain BYTES     the same mix without any formula
//   make_input formulas N      N distinct inline formulas, four to a line
//
// The mix follows the proportions of real papers: mostly prose, a heading
// every few dozen lines, lists, now and then a figure, a code block or a
// quotation, inline formulas that often repeat, some display formulas, and
// comments. The output depends only on the arguments.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

std::mt19937_64 rng(20261206);

std::size_t pick(std::size_t n) { return static_cast<std::size_t>(rng() % n); }

const char* const kWords[] = {
    "the", "plate", "heat", "flow", "model", "we", "show", "that", "is", "of", "a", "scheme",
    "boundary", "grid", "step", "stable", "when", "and", "in", "time", "results", "error",
    "converges", "solution", "method", "for", "with", "small", "large", "values", "measured",
    "thin", "surface", "temperature", "constant", "equation", "order", "term", "this", "by"};

const char* const kCommonFormulas[] = {"x", "n", "T(x,t)", "\\alpha", "h", "\\tau", "O(n)",
                                       "x_i", "d", "\\Delta t", "k", "e^{-t}"};

std::string prose_words(std::size_t count) {
    std::string s;
    for (std::size_t i = 0; i < count; ++i) {
        if (i) s += ' ';
        s += kWords[pick(sizeof kWords / sizeof *kWords)];
    }
    return s;
}

// A formula that repeats often, or a new one now and then.
std::string inline_formula(std::uint64_t& fresh) {
    if (pick(4) != 0) return kCommonFormulas[pick(sizeof kCommonFormulas / sizeof *kCommonFormulas)];
    return "a_{" + std::to_string(fresh++) + "} + b";
}

std::string prose_line(bool formulas, std::uint64_t& fresh) {
    std::string s = prose_words(8 + pick(8));
    if (formulas && pick(3) == 0) s += " $" + inline_formula(fresh) + "$ " + prose_words(3 + pick(5));
    if (formulas && pick(8) == 0) s += " and $" + inline_formula(fresh) + "$";
    if (pick(12) == 0) s += " % " + prose_words(3);
    return s + (pick(2) ? "." : ",");
}

void emit(std::string& out, const std::string& line) {
    out += line;
    out += '\n';
}

std::string mixed(std::size_t target, bool formulas) {
    std::string out;
    out.reserve(target + 4096);
    std::uint64_t fresh = 0, section = 0;
    emit(out, "\\documentclass[a4paper,11pt]{article}");
    emit(out, "\\usepackage{amsmath}");
    emit(out, "%%KELVARIN_EQUATION_SCALE=80%");
    emit(out, "\\begin{document}");
    while (out.size() < target) {
        emit(out, (pick(3) ? "\\section{" : "\\subsection{") + prose_words(3) + " " +
                      std::to_string(++section) + "}");
        const std::size_t paragraphs = 2 + pick(4);
        for (std::size_t p = 0; p < paragraphs; ++p) {
            const std::size_t lines = 3 + pick(8);
            for (std::size_t l = 0; l < lines; ++l) emit(out, prose_line(formulas, fresh));
            emit(out, "");
            switch (pick(14)) {
            case 0:
            case 1: {
                const bool numbered = pick(2);
                emit(out, numbered ? "\\begin{enumerate}" : "\\begin{itemize}");
                for (std::size_t i = 0, n = 2 + pick(4); i < n; ++i)
                    emit(out, "  \\item " + prose_line(formulas, fresh));
                emit(out, numbered ? "\\end{enumerate}" : "\\end{itemize}");
                break;
            }
            case 2:
            case 3:
                if (formulas) {
                    const bool env = pick(2);
                    emit(out, env ? "\\begin{equation}" : "\\[");
                    emit(out, "  \\frac{\\partial T}{\\partial t} = \\alpha \\nabla^2 T + " +
                                  std::to_string(pick(50)));
                    emit(out, env ? "\\end{equation}" : "\\]");
                }
                break;
            case 4:
                emit(out, "\\begin{figure}[htbp]");
                emit(out, "\\centering");
                emit(out, "\\includegraphics[width=8cm]{plot" + std::to_string(section) + ".png}");
                emit(out, "\\caption{" + prose_words(5) + "}");
                emit(out, "\\end{figure}");
                break;
            case 5:
                emit(out, "\\begin{verbatim}");
                for (std::size_t i = 0, n = 3 + pick(6); i < n; ++i)
                    emit(out, "    next[i] = t[i] + r * (t[i-1] - 2*t[i] + t[i+1]); // " + prose_words(2));
                emit(out, "\\end{verbatim}");
                break;
            case 6:
                emit(out, "\\begin{quote}");
                emit(out, prose_line(false, fresh) + " \\\\ " + prose_words(4));
                emit(out, "\\end{quote}");
                break;
            case 7:
                emit(out, "\\paragraph{" + prose_words(2) + "} " + prose_words(10));
                break;
            default:
                break;
            }
        }
    }
    emit(out, "\\bibliographystyle{plain}");
    emit(out, "\\bibliography{refs}");
    emit(out, "\\end{document}");
    return out;
}

std::string distinct_formulas(std::uint64_t n) {
    std::string out = "\\documentclass{article}\n\\begin{document}\n";
    for (std::uint64_t i = 0; i < n; i += 4) {
        out += "Terms";
        for (std::uint64_t k = i; k < i + 4 && k < n; ++k)
            out += " $c_{" + std::to_string(k) + "} x^{" + std::to_string(k % 7) + "}$,";
        out += " and so on.\n";
    }
    return out + "\\end{document}\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: make_input mixed|plain BYTES | make_input formulas N\n", stderr);
        return 2;
    }
    const std::uint64_t amount = std::strtoull(argv[2], nullptr, 10);
    std::string out;
    if (std::strcmp(argv[1], "mixed") == 0)
        out = mixed(amount, true);
    else if (std::strcmp(argv[1], "plain") == 0)
        out = mixed(amount, false);
    else if (std::strcmp(argv[1], "formulas") == 0)
        out = distinct_formulas(amount);
    else {
        std::fputs("make_input: unknown kind\n", stderr);
        return 2;
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
