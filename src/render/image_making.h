// Makes the images from the DVI file of a clean latex run: gif and png
// through dvipng, svg through dvisvgm, each started without a shell; the
// png image of a drawing made of PostScript through dvips and Ghostscript
// (drawing_images.h).
//
// A formula can put \special commands into its page, which the tools obey:
// PostScript, which Ghostscript runs (dvisvgm without Ghostscript's safe
// mode, so a PostScript special can run any command), and raw SVG or HTML
// links, which end up in a published SVG file. So dvisvgm obeys no special
// (colour included); dvipng runs no Ghostscript at all unless the paper is
// trusted, and then always in Ghostscript's safe mode (-dSAFER). Each image
// is checked before it takes its name (image_checks.h), and takes it by a
// rename, so that a link at its name is replaced, never written through, and
// a failed write leaves the old image as it was.
#ifndef KELVARIN_IMAGE_MAKING_H
#define KELVARIN_IMAGE_MAKING_H

#include <cstddef>
#include <string>
#include <vector>

#include "render/paper_view.h"

namespace kelvarin {

struct RenderOptions {
    int dpi = 120;
    bool transparent = false;
    bool postscript = false;  // dvipng draws PostScript specials (through Ghostscript in its safe mode)
};

struct ImageJob {
    std::size_t dvi_page;  // physical page of the DVI file, from 1
    std::string target;    // where the image goes; its extension picks the format
    bool drawing = false;  // a drawing made of PostScript, made by drawing_images.h
};

struct ImageTools {
    std::string dvipng;   // full paths; empty when not needed
    std::string dvisvgm;
    std::string dvips;    // drawings; empty when not needed or not installed (each drawing then fails)
    std::string gs;
};

struct ImageFailure {
    std::size_t job;      // index into the jobs
    std::string message;  // why there is no image
};

// Gives the checked image `made` (its bytes `bytes`) the name `target` by a
// rename, which replaces a link at the name rather than writing through it;
// across file systems, through a new file beside the target. Returns "" or
// why not, the old image then kept as it was.
std::string move_image_into_place(const std::string& made, const std::string& target, const std::string& bytes);

// Makes `jobs` from `dvi`, running the tools confined to the paper's folder
// (pictures the DVI file names are relative to it; see paper_view.h) and
// writing into `work_folder` first. Returns the jobs whose image could not
// be made or written.
std::vector<ImageFailure> make_images(const std::string& dvi, const std::vector<ImageJob>& jobs,
                                     const ImageTools& tools, const PaperConfinement& confinement,
                                     const std::string& work_folder, const RenderOptions& options);

}  // namespace kelvarin

#endif
