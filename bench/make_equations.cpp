// Writes a generated equation document (as kelvarin writes them) to standard
// output, for the render benchmark.
//
//   make_equations N [--no-loop] [--stopping] [--loops] [--clean]
//
// N distinct formulas of the kinds papers hold (fractions, sums, integrals,
// matrices, aligned equations, inline symbols), with 1 % of them faulty:
// undefined control sequences, double superscripts, unbalanced braces, a
// \left without \right, an unknown environment, a stray "&", a formula that
// spills onto a second page, and one that makes latex loop. latex gets
// through all of those but the loop; --no-loop leaves the loop out (a plain
// latex run cannot finish with it), so that a plain run over the same pages
// can be timed. --stopping adds faults that end latex's run where they are
// (\end{document} in a formula, a refused \input). --loops adds, a quarter
// and three quarters of the way in, a loop that prints and one that ships
// pages, which latex keeps busy without ever getting to the next formula.
// --clean writes the N formulas without any fault, as a paper that typesets
// is.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string formula(std::size_t i) {
    const std::string n = std::to_string(i);
    switch (i % 10) {
        case 0: return "\\frac{\\partial u_{" + n + "}}{\\partial t} = \\alpha \\nabla^2 u_{" + n + "}";
        case 1: return "\\sum_{k=0}^{" + n + "} \\binom{" + n + "}{k} x^k y^{" + n + "-k}";
        case 2: return "\\int_0^{\\infty} e^{-" + n + " t^2} \\, dt = \\frac{1}{2}\\sqrt{\\frac{\\pi}{" + n + "}}";
        case 3:
            return "\\begin{pmatrix} a_{" + n + "} & b \\\\ c & d_{" + n + "} \\end{pmatrix} "
                   "\\begin{pmatrix} x \\\\ y \\end{pmatrix}";
        case 4: return "x_{" + n + "}";
        case 5: return "\\left( \\frac{a+b}{" + n + "} \\right)^{2} \\le \\frac{a^2+b^2}{" + n + "}";
        case 6:
            return "\\begin{aligned} f(x) &= x^{" + n + "} + 1 \\\\ f'(x) &= " + n + " x^{" + n +
                   "-1} \\end{aligned}";
        case 7: return "\\lim_{n \\to \\infty} \\left(1 + \\frac{" + n + "}{n}\\right)^n = e^{" + n + "}";
        case 8: return "\\| v_{" + n + "} \\|_2 = \\sqrt{\\sum_i v_i^2}";
        default: return "\\alpha_{" + n + "} \\beta \\gamma";
    }
}

// The faults latex gets through, in turn.
const char* const kFaults[] = {
    "\\undefinedmacro x",            // Undefined control sequence
    "x^2^3",                         // Double superscript
    "x^{2",                          // a brace left open
    "\\left( x",                     // \left without \right
    "\\begin{nosuchenv} x \\end{nosuchenv}",
    "a & b",                         // Misplaced alignment tab
    "x \\] \\newpage \\[ y",         // two pages
};

const char* const kStoppingFaults[] = {
    "a \\end{document} b",
    "\\input{/etc/hostname}",
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: make_equations N [--no-loop] [--stopping] [--loops] [--clean]\n", stderr);
        return 2;
    }
    const std::size_t n = std::strtoul(argv[1], nullptr, 10);
    bool loop = true, stopping = false, loops = false, clean = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-loop") == 0) loop = false;
        if (std::strcmp(argv[i], "--stopping") == 0) stopping = true;
        if (std::strcmp(argv[i], "--loops") == 0) loops = true;
        if (std::strcmp(argv[i], "--clean") == 0) clean = true;
    }
    std::string out =
        "\\documentclass[12pt]{article}\n\\usepackage{amsmath}\n\n% kelvarin\n\\usepackage{txfonts}\n"
        "\\pagestyle{empty}\n\n\\begin{document}\n\n";
    const std::size_t every = 100;  // 1 % faulty
    std::size_t fault = 0;
    for (std::size_t i = 0; i < n; ++i) {
        std::string body = formula(i);
        if (i % every == every / 2 && !clean) {
            const std::size_t kinds = sizeof kFaults / sizeof *kFaults;
            const std::size_t stops = stopping ? sizeof kStoppingFaults / sizeof *kStoppingFaults : 0;
            const std::size_t pick = fault++ % (kinds + stops);
            body = pick < kinds ? kFaults[pick] : kStoppingFaults[pick - kinds];
        }
        // The loop sits in the middle, where a run that redid everything
        // after it would cost most.
        if (i == n / 2 + 7 && !clean) {
            if (!loop) continue;
            body = "\\def\\x{\\x}\\x";
        }
        if (loops && i == n / 4 + 3) body = "\\loop\\message{x}\\iftrue\\repeat";
        if (loops && i == 3 * n / 4 + 5) body = "\\loop\\shipout\\hbox{x}\\iftrue\\repeat";
        out += "% bench.eq" + std::to_string(i + 1) + ".gif - block (row : " + std::to_string(i + 10) + " - " +
               std::to_string(i + 10) + ")\n\\[\n" + body + "\n\\]\n\\newpage\n\n";
    }
    out += "\\end{document}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
