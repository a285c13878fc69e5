// Everything one conversion owns, from the opening of its input to the
// return of convert_file. Nothing of it survives from one file to the next.
#ifndef KELVARIN_JOB_STATE_H
#define KELVARIN_JOB_STATE_H

#include <cstdint>
#include <string>
#include <vector>

#include "classic/body_translator.h"
#include "core/directives.h"
#include "core/equation_registry.h"
#include "classic/math_capture.h"
#include "rich/state.h"
#include "io/line_output.h"

namespace kelvarin {

struct JobState {
    std::string equation_prefix;  // last component of stem + ".eq"
    EquationSettings settings;    // changed by directives, read by references
    LineOutput wiki;              // the wiki page, written while reading
    EquationRegistry registry;    // the formulas found so far
    BodyState body;               // modes of the body translator
    std::string graphic;          // image of the current or last figure
    std::string caption;          // caption of the current or last figure
    std::string formula_text;     // display formula being captured
    EquationRecord pending_record;  // filled before each registration
    std::vector<std::string> preamble_lines;  // lines before the body
    std::int64_t line_number = 0;  // lines read so far; the first is 1
    bool in_document = false;      // "\begin{document}" seen
    bool rich_mode = false;        // --rich: the page translated construct by construct
    RichState rich;                // rich mode's state and outline
    bool names_by_content = false; // the preamble asks for images named by content
    std::string naming_problem;    // why a naming directive was not followed

    // Buffers reused from line to line so that no line allocates.
    std::string group;                          // a brace group's content
    std::string as_written;                     // a display marker line before
                                                // the escape replacements
    std::string own_line;                       // text behind a display marker
    std::string reference;                      // one formula reference
    ReferenceParts reference_parts;             // of the references written
};

}  // namespace kelvarin

#endif
