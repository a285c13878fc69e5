// The equation document's layout, shared by the converter that writes it and
// the renderer that reads it back: what stands between the paper's preamble
// and its first formula, how a page comment names the image and the source
// position, and how a page is framed. Changing anything here changes stored
// documents, so both sides take it from this one place.
//
//   <the paper's preamble, as written>
//   (empty line)
//   % kelvarin
//   \usepackage{txfonts}
//   \pagestyle{empty}
//   (empty line)
//   \begin{document}
//   (empty line)
//   % paper.eq1.gif - inline (row : 5, column : 7 - 11)
//   \[
//   <the formula's lines>
//   \]
//   \newpage
//   (empty line)
//   % paper.eq2.gif - block (row : 12 - 14)
//   ...
//   \end{document}
//   (empty line)
//   % figure paper.fig-decay.png
//   % from figures/decay.pdf (row : 12)
//   ...
//
// The image name's type is the document's, except for a drawing made of
// PostScript (kPostScriptDrawings), which is always png: kelvarin-render
// draws such a page, which has no kPageOpen, through dvips and Ghostscript,
// and Ghostscript writes no GIF.
//
// The figure files that rich mode found and the wiki cannot show (PDF, EPS)
// are listed after \end{document}, where latex reads nothing: two lines each,
// the image to make (a plain file name, made beside the formula images) and
// the file to make it from (relative to the document's folder) with the
// source line that first names it. kelvarin-render converts each.
#ifndef KELVARIN_EQUATION_FORMAT_H
#define KELVARIN_EQUATION_FORMAT_H

#include <array>
#include <string_view>

namespace kelvarin::equation_format {

// The lines after the preamble, up to the first page. The renderer finds the
// end of the preamble by this run of lines.
constexpr std::array<std::string_view, 7> kHeader = {
    "", "% kelvarin", "\\usepackage{txfonts}", "\\pagestyle{empty}", "", "\\begin{document}", ""};

// A page comment: kCommentLead, the image name, then one of the positions.
// Formula lines never hold "%" (the converter cuts every line at its first
// "%"), so a line starting with kCommentLead is always a page comment.
constexpr std::string_view kCommentLead = "% ";
constexpr std::string_view kInlinePosition = " - inline (row : ";  // row ", column : " first " - " last ")"
constexpr std::string_view kBlockPosition = " - block (row : ";    // first " - " last ")"
constexpr std::string_view kColumn = ", column : ";
constexpr std::string_view kRange = " - ";
constexpr std::string_view kPositionEnd = ")";

// Every formula, inline ones too, is set as display math on a page of its
// own; a drawing of rich mode (a tikzpicture, a picture ...) is the one page
// without the display's frame.
constexpr std::string_view kPageOpen = "\\[";
constexpr std::string_view kPageClose = "\\]";
constexpr std::string_view kPageEnd = "\\newpage";
constexpr std::string_view kDocumentEnd = "\\end{document}";

// The drawing environments that draw with PostScript specials, which dvipng
// cannot draw (picture and xy draw with fonts and rules, and dvipng draws
// them). A page of one begins with its "\begin{" line and has no kPageOpen.
constexpr std::array<std::string_view, 4> kPostScriptDrawings = {"tikzpicture", "tikzcd", "circuitikz",
                                                                  "pspicture"};

// The figure list after kDocumentEnd: kFigureLead and the image's name, then
// kFigureFrom, the file's path, kFigureRow, the row and kPositionEnd. The
// row is read from the end, so a path may hold anything but a line end.
constexpr std::string_view kFigureLead = "% figure ";
constexpr std::string_view kFigureFrom = "% from ";
constexpr std::string_view kFigureRow = " (row : ";

}  // namespace kelvarin::equation_format

#endif
