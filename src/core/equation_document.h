// The equation document: the source's preamble, a fixed header and one page
// per formula in number order, each page named by the image to be made of it.
#ifndef KELVARIN_EQUATION_DOCUMENT_H
#define KELVARIN_EQUATION_DOCUMENT_H

#include <string>
#include <string_view>
#include <vector>

#include "core/directives.h"
#include "core/equation_registry.h"
#include "io/line_output.h"
#include "rich/state.h"

namespace kelvarin {

// Writes the whole document to the opened `out`; the caller closes it. Every page
// comment uses `settings.type` as it stands now, at the end of the reading.
// `figures` (rich mode's figure files to convert) follow \end{document}.
void write_equation_document(LineOutput& out,
                             const std::vector<std::string>& preamble_lines,
                             std::string_view equation_prefix,
                             const EquationSettings& settings,
                             const EquationRegistry& registry,
                             const std::vector<FigureToConvert>& figures = {});

}  // namespace kelvarin

#endif
