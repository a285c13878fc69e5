// Makes the images of drawings made of PostScript: the pages of a tikzpicture,
// a tikz-cd diagram, a pspicture or a circuitikz drawing, which rich mode
// writes bare (no display frame) and names with the png type.
//
// pgf and PSTricks draw with PostScript specials that rely on each other and
// on a header of their own; dvipng draws each special alone, so a TikZ
// drawing comes out as a 1 by 1 image and a diagram as its labels without
// arrows. Such a page goes another way:
// 1. dvips writes the page, alone, as a PostScript program;
// 2. Ghostscript's bbox device measures what it draws (dvips's own -E counts
//    characters and rules only, not the drawing);
// 3. Ghostscript draws it on a page cut to that box, with a point of margin
//    so that smoothed edges are not cut, into a PNG image (Ghostscript
//    writes no GIF).
// Both run confined as latex does. PostScript is a program: Ghostscript runs
// in its safe mode always, and for an untrusted paper only under the
// kernel's confinement (Landlock), as the figures' EPS files do.
#ifndef KELVARIN_DRAWING_IMAGES_H
#define KELVARIN_DRAWING_IMAGES_H

#include <string>

#include "render/image_making.h"
#include "render/paper_view.h"

namespace kelvarin {

// Makes the image of the drawing on physical page `job.dvi_page` of `dvi`
// and gives it its name `job.target` once checked, working in
// `work_folder`. Returns "" or why there is no image; an image already at
// the name is then kept as it was.
std::string make_drawing_image(const std::string& dvi, const ImageJob& job, const ImageTools& tools,
                               const PaperConfinement& confinement, const std::string& work_folder,
                               const RenderOptions& options);

}  // namespace kelvarin

#endif
