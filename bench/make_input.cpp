// Writes a generated LaTeX source to standard output, for the benchmarks.
//
//   make_input mixed BYTES     a paper-like mix of every construct
//   make_input plain BYTES     the same mix without any formula
//   make_input formulas N      N distinct inline formulas, four to a line
//   make_input dense BYTES     formula-dense mathematical writing: most lines
//                              hold inline formulas, a few hundred of them
//                              recur with Zipf-like frequencies, and a long
//                              tail of formulas is met only once or twice
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
#include <vector>

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

// The few hundred formulas a mathematical text keeps coming back to, made
// from templates so that many share long prefixes ("\\frac{\\partial u_{3}"
// ...), as the formulas of one paper do.
std::vector<std::string> recurring_formulas() {
    const char* const letters[] = {"x", "y", "u", "v", "f", "g", "\\lambda", "\\mu", "\\phi", "\\xi"};
    std::vector<std::string> pool;
    for (int i = 0; i < 40; ++i) {
        const std::string a = letters[i % 10];
        const std::string k = std::to_string(i);
        if (i < 10) pool.push_back(a);
        pool.push_back(a + "_{" + k + "}");
        pool.push_back(a + "^{" + std::to_string(i / 10 + 2) + "}");
        pool.push_back("\\frac{\\partial " + a + "_{" + k + "}}{\\partial t}");
        pool.push_back("\\frac{\\partial " + a + "_{" + k + "}}{\\partial x}");
        pool.push_back("\\sum_{k=1}^{n} " + a + "_{k}^{" + k + "}");
        pool.push_back("\\int_{0}^{1} " + a + "(t)\\,dt + " + k);
        pool.push_back("\\|" + a + "_{" + k + "}\\|_{L^2(\\Omega)}");
        pool.push_back("\\mathcal{O}(h^{" + k + "})");
        pool.push_back(a + " \\in \\mathbb{R}^{" + k + "}");
    }
    return pool;
}

// Picks a rank of the recurring pool with probability proportional to
// 1 / (rank + 1), as word and formula frequencies roughly go. Uses only the
// generator's raw output, so that every library gives the same input.
std::size_t zipf_rank(const std::vector<double>& cumulative) {
    const double u = static_cast<double>(rng() >> 11) * 0x1.0p-53 * cumulative.back();
    std::size_t lo = 0, hi = cumulative.size() - 1;
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (cumulative[mid] <= u)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

std::string dense(std::size_t target) {
    const std::vector<std::string> pool = recurring_formulas();
    std::vector<double> cumulative;
    double sum = 0;
    for (std::size_t r = 0; r < pool.size(); ++r) cumulative.push_back(sum += 1.0 / static_cast<double>(r + 1));
    std::vector<std::string> tail;  // formulas met once, some of them again later
    std::uint64_t fresh = 0, section = 0;
    auto formula = [&]() -> std::string {
        const std::size_t roll = pick(100);
        if (roll < 88) return pool[zipf_rank(cumulative)];
        if (roll < 91 && !tail.empty()) return tail[pick(tail.size())];
        ++fresh;
        std::string f = "\\frac{\\partial u_{" + std::to_string(fresh % 97) + "}}{\\partial x} + c_{" +
                        std::to_string(fresh) + "}";
        if (tail.size() < 4096)
            tail.push_back(f);
        else
            tail[pick(tail.size())] = f;
        return f;
    };
    std::string out;
    out.reserve(target + 4096);
    emit(out, "\\documentclass[a4paper,11pt]{article}");
    emit(out, "\\usepackage{amsmath,amssymb}");
    emit(out, "\\begin{document}");
    while (out.size() < target) {
        emit(out, "\\section{" + prose_words(3) + " " + std::to_string(++section) + "}");
        for (std::size_t p = 0, paragraphs = 3 + pick(4); p < paragraphs; ++p) {
            for (std::size_t l = 0, lines = 4 + pick(8); l < lines; ++l) {
                std::string s = prose_words(3 + pick(6));
                // Most lines hold formulas, often several.
                for (std::size_t k = 0, n = pick(10) < 8 ? 1 + pick(4) : 0; k < n; ++k)
                    s += " $" + formula() + "$ " + prose_words(1 + pick(5));
                emit(out, s + (pick(2) ? "." : ","));
            }
            emit(out, "");
            if (pick(4) == 0) {
                emit(out, "\\begin{equation}");
                emit(out, "  " + formula() + " = " + formula());
                emit(out, "\\end{equation}");
            }
        }
    }
    emit(out, "\\end{document}");
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: make_input mixed|plain|dense BYTES | make_input formulas N\n", stderr);
        return 2;
    }
    const std::uint64_t amount = std::strtoull(argv[2], nullptr, 10);
    std::string out;
    if (std::strcmp(argv[1], "mixed") == 0)
        out = mixed(amount, true);
    else if (std::strcmp(argv[1], "plain") == 0)
        out = mixed(amount, false);
    else if (std::strcmp(argv[1], "dense") == 0)
        out = dense(amount);
    else if (std::strcmp(argv[1], "formulas") == 0)
        out = distinct_formulas(amount);
    else {
        std::fputs("make_input: unknown kind\n", stderr);
        return 2;
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
