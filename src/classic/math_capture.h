// Formulas of the document body: display formulas captured between their
// opening and closing lines, inline formulas between two "$" on one line.
// Each is registered and replaced on the wiki page by an image reference.
#ifndef KELVARIN_MATH_CAPTURE_H
#define KELVARIN_MATH_CAPTURE_H

#include <cstdint>
#include <string>
#include <string_view>

#include "core/directives.h"

namespace kelvarin {

struct JobState;

// Takes the body line if it is a formula line (a display marker at byte 0,
// a line inside an open display formula, or a line with "$"), writing what it
// calls for. Returns false when the line is not a formula line. `as_written`
// is the line before the escape replacements; it is read only behind a
// display marker, where the bytes are formula text or a line of their own.
bool handle_math_line(JobState& job, std::string_view line,
                      std::string_view as_written);

// Whether the line, before the escape replacements, may start with a display
// marker once they are made; only such lines need to be kept as written.
bool may_begin_display_marker(std::string_view line);

// The parts of a formula reference around its number: a reference is its
// head, the number's digits and its tail. They depend on the settings and
// the job's prefix only, so they are made once and again only after a line
// that may have held a directive.
struct ReferenceParts {
    bool made = false;  // false: to be made before the next reference
    std::string inline_head, inline_tail, block_head, block_tail;
    // What they were made from; empty before they are first made.
    std::string prefix, type, scale, parameter, title;
};

// To be called whenever the settings may have changed.
inline void settings_may_have_changed(ReferenceParts& parts) { parts.made = false; }

// Appends to `out` the reference to the image whose name has `key` between
// the prefix and the type (core/image_names.h): "#ref(" or "&ref(", image
// name, "," parameter, "," scale, ["," title], ")" or ");".
void equation_reference(std::string& out, bool is_inline, std::string_view key,
                        std::string_view equation_prefix,
                        const EquationSettings& settings);

// Appends to `out` the reference to the image of formula `number`, with the
// job's prefix and settings as they stand: the bytes equation_reference
// makes, put together from parts made once per settings.
void append_equation_reference(std::string& out, JobState& job, bool is_inline, std::int64_t number);

}  // namespace kelvarin

#endif
