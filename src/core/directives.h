// Equation directives: comment lines "%%KELVARIN_<KEY>=<value>" by which the
// author of a source sets how formula references are written.
#ifndef KELVARIN_DIRECTIVES_H
#define KELVARIN_DIRECTIVES_H

#include <string>
#include <string_view>

namespace kelvarin {

// How formula references are written. Each field holds exactly the bytes the
// last directive for its key gave it; a new job starts from the defaults.
struct EquationSettings {
    std::string type = "gif";   // image extension of every image name
    std::string scale = "70%";  // size option of each reference
    std::string parameter;      // option written before the scale
    std::string title;          // last option, written only when not empty
    // How images are named: "content" or "number" (core/image_names.h). It
    // holds for the whole page, so the job reads it from the preamble only.
    std::string names;
    bool names_given = false;   // a naming directive was read; the job clears it
};

// Applies the directive in `raw_line` (a line as read, comment included), if
// it holds one, to `settings`. At most one setting changes per line.
void apply_directive(std::string_view raw_line, EquationSettings& settings);

}  // namespace kelvarin

#endif
