// Makes the images from the DVI file of a clean latex run: gif and png
// through dvipng, svg through dvisvgm, each started without a shell.
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
};

struct ImageJob {
    std::size_t dvi_page;  // physical page of the DVI file, from 1
    std::string target;    // where the image goes; its extension picks the format
};

struct ImageTools {
    std::string dvipng;   // full paths; empty when not needed
    std::string dvisvgm;
};

struct ImageFailure {
    std::size_t job;      // index into the jobs
    std::string message;  // why there is no image
};

// Makes `jobs` from `dvi`, running the tools confined to the paper's folder
// (pictures the DVI file names are relative to it; see paper_view.h) and
// writing into `work_folder` first. Returns the jobs whose image could not
// be made or written.
std::vector<ImageFailure> make_images(const std::string& dvi, const std::vector<ImageJob>& jobs,
                                     const ImageTools& tools, const PaperConfinement& confinement,
                                     const std::string& work_folder, const RenderOptions& options);

}  // namespace kelvarin

#endif
