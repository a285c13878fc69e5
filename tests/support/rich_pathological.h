// Inputs that would make a careless reader of LaTeX slow: unclosed
// constructs repeated a hundred thousand times, nesting a million deep,
// lines of many megabytes. Each must convert in time linear in its size.
// The tests run each with a generous bound of its own; the benchmark
// (bench/rich_pathological.cpp) times them.
#ifndef KELVARIN_TEST_RICH_PATHOLOGICAL_H
#define KELVARIN_TEST_RICH_PATHOLOGICAL_H

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace kelvarin_test {

struct PathologicalCase {
    std::string name;  // a test name: letters, digits and underscores
    std::string body;  // what follows "\begin{document}" and its line end
};

inline std::string repeated(const std::string& piece, std::size_t count) {
    std::string out;
    out.reserve(piece.size() * count);
    while (count-- > 0) out += piece;
    return out;
}

inline std::vector<PathologicalCase> rich_pathological_cases() {
    std::string long_line(16u << 20, 'a');
    for (std::size_t i = 0; i < long_line.size(); i += 97) long_line[i] = ' ';
    std::string formulas;
    for (int i = 1; i <= 20000; ++i) formulas += "$x_{" + std::to_string(i) + "}$,";
    std::string figure_files = "\\graphicspath{";
    for (int i = 0; i < 40; ++i) figure_files += "{f" + std::to_string(i) + "/}";
    figure_files += "}\n";
    for (int i = 1; i <= 50000; ++i) figure_files += "\\includegraphics{x" + std::to_string(i) + "} ";
    std::string noise(1u << 20, '\0');
    std::mt19937 gen(11);
    for (char& c : noise) c = static_cast<char>(gen() & 0xFF);
    return {
        // Lines, formulas and blocks by the hundred thousand.
        {"million_empty_lines", std::string(1000000, '\n')},
        {"hundred_thousand_dollars", std::string(100001, '$')},
        {"twenty_thousand_formulas", formulas},
        {"unclosed_displays", repeated("\\[\n", 100000) + "x\n\\]\n"},
        {"nested_lists", repeated("\\begin{itemize}\n", 100000) + "\\item a\n\\end{itemize}\n\\item b"},
        {"nested_figures", repeated("\\begin{figure}\n", 100000) + "\\end{figure}\nafter"},
        {"heading_of_a_million_braces", "\\section{" + std::string(1000000, '{') + "}"},
        {"hundred_thousand_items", "\\begin{itemize}\n" + repeated("\\item ", 100000)},
        // What rich mode reads across lines.
        {"line_of_16_MiB", long_line},
        {"million_open_braces", std::string(1000000, '{')},
        {"million_closed_groups", std::string(1000000, '{') + std::string(1000000, '}')},
        {"unclosed_emphasis", repeated("\\emph{", 100000)},
        {"unclosed_footnotes_over_lines", repeated("\\footnote{a\n", 100000)},
        {"unclosed_verb", repeated("\\verb|", 100000) + "%"},
        {"unclosed_urls", repeated("\\url{", 100000) + "%"},
        {"unclosed_item_labels", repeated("\\item[", 100000)},
        {"unclosed_inline_formulas", repeated("$x", 100001)},
        {"unclosed_parenthesis_formulas", repeated("\\(", 100000)},
        {"hundred_thousand_displays", repeated("\\[a\\]", 100000)},
        {"items_in_lists_on_one_line", repeated("\\begin{itemize}\n\\item ", 100000)},
        {"figures_with_formula_captions", repeated("\\begin{figure}\\caption{$c$}", 50000)},
        {"figure_files_not_found_in_many_folders", figure_files},
        {"nested_tables", repeated("\\begin{tabular}{l}a&b\\\\", 50000)},
        {"intertexts_in_one_align", "\\begin{align}\n" + repeated("a\\\\\\intertext{t $x$}", 50000) + "\n\\end{align}"},
        {"unclosed_intertexts", "\\begin{align}\n" + repeated("a\\intertext{\n", 3000) + "\\end{align}"},
        {"table_of_a_million_cells", "\\begin{tabular}{" + std::string(1000000, 'c') + "}\n" +
                                         repeated("a&", 1000000) + "\\\\\n" + repeated("\\hline b\\\\\n", 100000) +
                                         "\\end{tabular}"},
        {"column_repeats_inside_each_other", "\\begin{tabular}{" + repeated("*{99999999999}{", 100000) + "c" +
                                                 std::string(100000, '}') + "}\n" + repeated("x\\\\", 100000)},
        {"long_item_labels", "\\begin{enumerate}[label=" + std::string(1000000, 'x') + "\\arabic*]\n" +
                                 repeated("\\item ", 100000)},
        {"many_labelled_items", "\\renewcommand{\\labelenumi}{(\\theenumi)}" +
                                    repeated("\\begin{enumerate}[label=(\\roman*)]\\item\\label{x}\\ref{x}", 20000)},
        {"nested_aligns", repeated("\\begin{align}\n", 10000) + repeated("x\n", 100000)},
        {"labels_references_headings", repeated("\\label{a}\\ref{a}\\section{s}", 50000)},
        {"accents_without_letters", repeated("\\'", 100000) + repeated("\\c{", 100000)},
        // The command table's signatures and the declarations it reads.
        {"unclosed_delimited_definitions", repeated("\\def\\a#1.{", 100000)},
        {"delimited_calls_without_delimiter", "\\def\\p(#1,#2){#1#2}" + repeated("\\p(a ", 200000)},
        {"delimited_calls_in_open_groups", "\\def\\p#1.{#1}" + repeated("\\p{", 200000)},
        {"lets_over_line_ends", repeated("\\let\\a\n", 100000)},
        {"unclosed_new_commands", repeated("\\newcommand{\\x}[1]{", 50000)},
        {"unclosed_hyperref_options", repeated("\\hyperref[", 100000)},
        {"counters_within_sections", repeated("\\numberwithin{equation}{section}\\section{a}", 20000)},
        {"item_labels_referred_to", repeated("\\begin{enumerate}\\item\\label{x}\\ref{x}", 20000)},
        {"skips_with_plus", repeated("\\vskip 1fil plus ", 100000)},
        {"accents_over_open_groups", repeated("\\'{", 100000)},
        {"unclosed_theorem_titles", repeated("\\begin{theorem}[", 100000)},
        {"unclosed_theorem_declarations", repeated("\\newtheorem{t", 100000)},
        // The paper's own macros: expansions without end, doubling, deep
        // conditionals, definitions and flags by the hundred thousand.
        {"macro_calling_itself", "\\newcommand{\\a}{\\a x}" + repeated("\\a ", 100000)},
        {"macro_doubling", "\\newcommand{\\b}{\\b\\b}\\newcommand{\\c}[1]{#1#1#1#1#1#1#1#1}" +
                               repeated("\\b \\c{\\c{\\c{\\c{\\c{\\c{w}}}}}}\n", 2000)},
        {"macro_definitions", repeated("\\newcommand{\\m}[2][d]{#1 and #2}\\m{x}", 50000)},
        {"unclosed_macro_arguments", "\\newcommand{\\m}[2]{#1#2}" + repeated("\\m{", 100000)},
        {"open_conditionals", "\\newif\\ifx" + repeated("\\iffalse ", 100000) + repeated("\\fi ", 100000)},
        {"conditionals_over_lines", "\\newif\\iffoo\n" + repeated("\\iffoo\na\n\\else\nb\n\\fi\n", 50000)},
        {"paper_environments", "\\newenvironment{e}{\\begin{itemize}}{\\end{itemize}}" +
                                   repeated("\\begin{e}\\item x\n", 20000)},
        {"random_megabyte", noise},
    };
}

}  // namespace kelvarin_test

#endif
