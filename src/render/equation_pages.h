// Reads an equation document written by kelvarin back into its head (the
// source's preamble and the fixed header) and its formula pages, each with
// the image name and source position from its page comment.
#ifndef KELVARIN_EQUATION_PAGES_H
#define KELVARIN_EQUATION_PAGES_H

#include <string>
#include <string_view>
#include <vector>

namespace kelvarin {

struct FormulaPage {
    std::string image_name;          // "paper.eq1.gif"
    std::string position;            // "inline (row : 5, column : 7 - 14)"
    std::vector<std::string> lines;  // the page as written, comment included
};

struct EquationPages {
    std::vector<std::string> head;  // preamble and header, to "\begin{document}" and its empty line
    std::vector<FormulaPage> pages; // in number order
};

// Parses the document's bytes. Returns false, with `error` set, when the
// text is not an equation document of kelvarin's.
bool parse_equation_pages(const std::string& bytes, EquationPages& doc, std::string& error);

// Whether the page is a drawing made of PostScript, whose image dvipng
// cannot draw: a page without the display's frame that begins one of
// equation_format::kPostScriptDrawings, and whose image is png (the type
// kelvarin gives such drawings).
bool is_postscript_drawing(const FormulaPage& page);

// The extension of an image name (after its last "."), or "".
std::string image_extension(const std::string& image_name);

// Whether the name can be written as a file of its own in the output folder:
// not empty, no "/" or NUL, not "." or "..".
bool is_plain_file_name(std::string_view name);

}  // namespace kelvarin

#endif
