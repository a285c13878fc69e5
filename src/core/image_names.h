// How the images of a page are named. By number, "paper.eq12.gif": the
// formulas counted in the order they were first met, as pages were always
// made. By content, "paper.eq-3f2a9c01bd.gif": the first 10 hexadecimal
// digits of the SHA-256 of the formula's text as registered, so that an
// edit renames only the images of the formulas it changes, and any tool can
// compute the name of a formula's image.
//
// The type is the document's ("gif" unless a directive says otherwise),
// but a drawing made of PostScript (a tikzpicture, a tikz-cd diagram ...)
// is always "png": only Ghostscript draws it, and Ghostscript writes no GIF,
// and an SVG image of it would lose the drawing (dvisvgm obeys no special).
#ifndef KELVARIN_IMAGE_NAMES_H
#define KELVARIN_IMAGE_NAMES_H

#include <cstdint>
#include <string>
#include <string_view>

#include "core/equation_registry.h"

namespace kelvarin {

// What stands between a page's image prefix ("paper.eq") and the image
// type: the number's digits, or "-" and the content's hexadecimal digits,
// written into `buffer`.
std::string_view image_key(const EquationRegistry& registry, std::int64_t number, char (&buffer)[24]);

// The type of formula `number`'s image: "png" for a drawing made of
// PostScript, `document_type` for everything else.
std::string_view image_type_of(const EquationRegistry& registry, std::int64_t number,
                               std::string_view document_type);

// The 40 bits of a formula text's name by content, the first 10
// hexadecimal digits of its SHA-256.
std::uint64_t content_key_of(std::string_view formula_text);

// How to read a value of %%KELVARIN_EQUATION_NAMES=: true for "content",
// false for "number"; false with `known` false for anything else.
bool names_by_content(std::string_view value, bool& known);

}  // namespace kelvarin

#endif
