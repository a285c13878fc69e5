// Runs latex, dvipng and dvisvgm in a scratch folder on chosen formula pages.
#ifndef KELVARIN_TYPESETTING_H
#define KELVARIN_TYPESETTING_H

#include <cstdint>
#include <string>
#include <vector>

#include "render/equation_pages.h"

namespace kelvarin {

struct TypesetResult {
    bool ok = false;             // latex succeeded with one DVI page per formula page
    std::int64_t dvi_pages = 0;  // pages latex wrote
    std::string message;         // latex's first error, or why the count is off
};

struct RenderOptions {
    int dpi = 120;
    bool transparent = false;
};

// Typesets the head of `doc` with the pages `chosen` (indexes into
// doc.pages) as "<job>.tex" in `scratch`.
TypesetResult typeset_pages(const EquationPages& doc, const std::vector<std::size_t>& chosen,
                            const std::string& scratch, const std::string& job);

// Makes one image per DVI page of "<job>.dvi" in `scratch`; page k (1-based)
// becomes `targets[k-1]`, whose extension picks the format. Returns the
// indexes into `targets` that could not be written.
std::vector<std::size_t> render_dvi(const std::string& scratch, const std::string& job,
                                    const std::vector<std::string>& targets,
                                    const RenderOptions& options);

// Quotes a byte string for the shell, whatever bytes it holds.
std::string shell_quote(const std::string& text);

// Whether a command can be found on the PATH.
bool have_command(const std::string& name);

}  // namespace kelvarin

#endif
