#include "convert/equation_document.h"

#include "text/text_helpers.h"

namespace kelvarin {

namespace {

// "% paper.eq2.gif - block (row : 12 - 14)" or
// "% paper.eq1.gif - inline (row : 5, column : 7 - 11)".
void write_page(LineOutput& out, const EquationRecord& rec,
                std::string_view equation_prefix,
                const EquationSettings& settings) {
    const std::string number = int_to_string(rec.index + 1);
    const std::string first_row = int_to_string(rec.first_row);
    if (rec.is_inline) {
        write_line(out, {"% ", equation_prefix, number, ".", settings.type,
                         " - inline (row : ", first_row, ", column : ",
                         int_to_string(rec.first_column), " - ",
                         int_to_string(rec.last_column), ")"});
    } else {
        write_line(out, {"% ", equation_prefix, number, ".", settings.type,
                         " - block (row : ", first_row, " - ",
                         int_to_string(rec.last_row), ")"});
    }
    // Inline formulas are set as display math too.
    write_line(out, "\\[");
    for (const std::string& line : rec.lines) write_line(out, line);
    write_line(out, "\\]");
    write_line(out, "\\newpage");
    write_empty_line(out);
}

}  // namespace

void write_equation_document(LineOutput& out,
                             const std::vector<std::string>& preamble_lines,
                             std::string_view equation_prefix,
                             const EquationSettings& settings,
                             const EquationRegistry& registry) {
    for (const std::string& line : preamble_lines) write_line(out, line);
    write_empty_line(out);
    write_line(out, "% kelvarin");
    write_line(out, "\\usepackage{txfonts}");
    write_line(out, "\\pagestyle{empty}");
    write_empty_line(out);
    write_line(out, "\\begin{document}");
    write_empty_line(out);
    // Pages in number order, which is the order formulas were first met.
    for (const EquationRecord* rec : registry.by_index)
        write_page(out, *rec, equation_prefix, settings);
    write_line(out, "\\end{document}");
    write_empty_line(out);
    close_output(out);
}

}  // namespace kelvarin
