// Makes the images of a paper's figure files beside the formula images:
// rich mode lists, after the equation document's \end{document}
// (equation_format.h), each PDF or EPS figure, which the wiki cannot show,
// and each web image in a folder, which the wiki would look for among
// another page's attachments, with the plain name its page gives it.
//
// A web image is copied (by cp, confined as the other tools) and checked
// as a formula image is: a whole file, and an SVG file without script.
// A PDF file goes through pdftoppm (poppler-utils), its first page cropped
// to its crop box; an EPS file through Ghostscript in its safe mode
// (-dSAFER), cropped to its bounding box; both at the render's dpi. An EPS
// file is a PostScript program: for an untrusted paper it is run only where
// the kernel confines Ghostscript (Landlock), never under the view alone. The
// tools run as latex does (paper_view.h): in the paper's folder or its
// view, confined to it unless the paper is trusted, without a shell, in a
// process group of their own killed at a deadline, writing only into the
// scratch folder. Each image is checked before it takes its name by a
// rename. A figure is made on every run, being quick to make; an image
// whose bytes come out as they were is left untouched and not counted as
// changed.
#ifndef KELVARIN_FIGURE_IMAGES_H
#define KELVARIN_FIGURE_IMAGES_H

#include <cstddef>
#include <string>
#include <vector>

#include "render/image_making.h"
#include "render/paper_view.h"

namespace kelvarin {

struct FigureFile {
    std::string image;     // "paper.fig-decay.png"
    std::string source;    // "figures/decay.pdf", relative to the document's folder
    std::string position;  // "figure (row : 12)", for messages
};

// The figure list of an equation document's bytes (none when it has no
// list). Returns false, with `error` set, when the list is malformed.
bool parse_figure_list(const std::string& bytes, std::vector<FigureFile>& figures, std::string& error);

struct FigureJob {
    std::string pdftoppm;  // full paths; empty when not on PATH
    std::string gs;
    std::string cp;
    std::string paper_folder;  // the real path of the document's folder
    std::string out_dir;       // where the images go
    std::string work_folder;   // in the scratch folder: where the tools write
    bool trust_paper = false;  // a figure file may lie anywhere the user can read
    PaperConfinement confinement;
    RenderOptions options;
};

struct FigureOutcome {
    std::size_t written = 0;            // images made (unchanged ones included)
    std::vector<std::string> failures;  // "paper.fig-decay.png, figure (row : 12): why"
    std::vector<std::string> changed;   // images new or changed in this run
};

// Finds the tools `figures` need on PATH.
void find_figure_tools(const std::vector<FigureFile>& figures, FigureJob& job);

// Makes every figure's image; a figure that cannot be made is a failure and
// the others are still made.
FigureOutcome make_figure_images(const std::vector<FigureFile>& figures, const FigureJob& job);

}  // namespace kelvarin

#endif
