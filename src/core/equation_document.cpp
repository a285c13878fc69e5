#include "core/equation_document.h"

#include "core/equation_format.h"
#include "core/image_names.h"
#include "io/text_helpers.h"

namespace kelvarin {

namespace {

namespace fmt = equation_format;

// "% paper.eq2.gif - block (row : 12 - 14)" or
// "% paper.eq1.gif - inline (row : 5, column : 7 - 11)", put together in
// place in the output's line.
void write_page(LineOutput& out, const EquationRegistry& registry,
                const KeptEquation& rec, std::int64_t number,
                std::string_view equation_prefix, const EquationSettings& settings) {
    char digits[24];
    start_line(out);
    add_to_line(out, fmt::kCommentLead);
    add_to_line(out, equation_prefix);
    add_to_line(out, image_key(registry, number, digits));
    add_to_line(out, ".");
    add_to_line(out, image_type_of(registry, number, settings.type));
    if (rec.is_inline) {
        add_to_line(out, fmt::kInlinePosition);
        add_to_line(out, decimal_digits(rec.first_row, digits));
        add_to_line(out, fmt::kColumn);
        add_to_line(out, decimal_digits(rec.first_column, digits));
        add_to_line(out, fmt::kRange);
        add_to_line(out, decimal_digits(rec.last_column, digits));
    } else {
        add_to_line(out, fmt::kBlockPosition);
        add_to_line(out, decimal_digits(rec.first_row, digits));
        add_to_line(out, fmt::kRange);
        add_to_line(out, decimal_digits(rec.last_row, digits));
    }
    add_to_line(out, fmt::kPositionEnd);
    finish_line(out);
    // Inline formulas are set as display math too; a drawing (a picture
    // environment) is typeset as it stands.
    if (!rec.bare) write_line(out, fmt::kPageOpen);
    for (std::size_t k = 0, n = equation_line_count(rec); k < n; ++k)
        write_line(out, equation_line(registry, rec, k));
    if (!rec.bare) write_line(out, fmt::kPageClose);
    write_line(out, fmt::kPageEnd);
    write_empty_line(out);
}

}  // namespace

void write_equation_document(LineOutput& out,
                             const std::vector<std::string>& preamble_lines,
                             std::string_view equation_prefix,
                             const EquationSettings& settings,
                             const EquationRegistry& registry,
                             const std::vector<FigureToConvert>& figures) {
    for (const std::string& line : preamble_lines) write_line(out, line);
    for (std::string_view line : equation_format::kHeader) write_line(out, line);
    // Pages in number order, which is the order formulas were first met.
    std::int64_t number = 0;
    for (const KeptEquation& rec : registry.formulas)
        write_page(out, registry, rec, ++number, equation_prefix, settings);
    write_line(out, equation_format::kDocumentEnd);
    write_empty_line(out);
    char digits[24];
    for (const FigureToConvert& figure : figures) {
        start_line(out);
        add_to_line(out, fmt::kFigureLead);
        add_to_line(out, figure.image);
        finish_line(out);
        start_line(out);
        add_to_line(out, fmt::kFigureFrom);
        add_to_line(out, figure.source);
        add_to_line(out, fmt::kFigureRow);
        add_to_line(out, decimal_digits(figure.row, digits));
        add_to_line(out, fmt::kPositionEnd);
        finish_line(out);
    }
}

}  // namespace kelvarin
