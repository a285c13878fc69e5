// Rich mode's environments as one table: for each name what kind of block
// it opens and how its opening reads. Theorem-like environments are the
// paper's own declarations and are looked up among those; a name in neither
// is layout, whose content stays.
#ifndef KELVARIN_RICH_ENVIRONMENTS_H
#define KELVARIN_RICH_ENVIRONMENTS_H

#include <string_view>
#include <vector>

namespace kelvarin {

enum class EnvironmentKind { document, code, display, list, quote, abstract, figure, subfigure, table, tabular, layout };

struct EnvironmentEntry {
    EnvironmentKind kind = EnvironmentKind::layout;
    int arguments = 0;          // brace arguments of the opening (widths, columns), dropped
    char marker = 0;            // list: '-', '+', ':' (description), 'b' (bibliography)
    bool numbered = false;      // display: numbered unless starred
    bool numbers_rows = false;  // display: each row, up to "\\", numbered of its own
    bool inline_math = false;   // display: "math", an inline formula written as an environment
    bool drawing = false;       // display: a picture, typeset as written and shown as an image
    bool postscript = false;    // drawing: drawn with PostScript specials, which only Ghostscript draws
};

// The entry of `name`; an unknown name is layout without arguments.
const EnvironmentEntry& environment_entry(std::string_view name);

// The environments whose lines are taken as they stand (code, and the
// comment environment that hides them).
const std::vector<std::string_view>& code_environments();

}  // namespace kelvarin

#endif
