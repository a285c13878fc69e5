// The files a paper's \includegraphics names, found as LaTeX finds them, and
// the web image the page refers to for each.
//
// A name is looked for relative to the paper's folder, then in each folder
// of \graphicspath in its order. A name without an extension is tried with
// the extensions pdflatex tries (kFigureExtensions), each extension in every
// folder before the next extension, as graphicx does. Nothing outside the
// paper's folder is looked at: an absolute name, a ".." that climbs out or a
// link that leads out is not followed.
//
// The wiki finds an image among the page's attachments by a plain name (a
// name with a folder is another page's attachment), so every figure image
// stands beside the formula images under a plain name. A PNG, JPEG, GIF or
// SVG file beside the paper keeps its name ("decay.png"). One in a folder
// becomes "<paper>.fig-<stem>.<type>" (figures/plot.png ->
// paper.fig-plot.png), and a PDF or EPS file, which a wiki cannot show,
// "<paper>.fig-<stem>.png" (figures/decay.pdf -> paper.fig-decay.png);
// both are listed in the equation document, for kelvarin-render to copy or
// convert. A second file of the same image name gets "-2", "-3" ... after
// the stem. A file that is not found keeps the name as written, with a
// warning naming the source line.
#ifndef KELVARIN_RICH_FIGURE_FILES_H
#define KELVARIN_RICH_FIGURE_FILES_H

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "rich/commands.h"

namespace kelvarin {

// The extensions tried for a name that has none, in pdflatex's order.
constexpr std::array<std::string_view, 5> kFigureExtensions = {".pdf", ".png", ".jpg", ".jpeg", ".eps"};

// What the page shows for an \includegraphics.
struct FigureReference {
    std::string file;  // the name the wiki reference holds
    bool found = false;
};

// The reference for the figure file `name` of the \includegraphics at `at`.
// Records a file to convert; warns (writing pass only) when it is not found.
FigureReference figure_reference(Walk& w, std::string_view name, std::size_t at);

// The reference's size from \includegraphics's options: a width relative to
// the text's width ("width=0.5\linewidth" -> "50%") or a scale
// ("scale=0.4" -> "40%"); "100%" for anything else.
std::string figure_scale(std::string_view options);

// "\graphicspath{{figures/}{img/}}": the folders figure files are looked in.
std::size_t graphicspath_command(CommandCall& call, const CommandArguments& a);

}  // namespace kelvarin

#endif
