// The passes that settle every formula of an equation document and make the
// images of the good ones.
//
// 1. Typeset everything in one latex run that does not stop at errors, and
//    read from it which formulas failed: an error while latex was in a
//    formula, or a formula that did not get exactly one page of its own.
//    When latex stops in a formula (\end{document} in it, a fatal error) or
//    makes no progress in it (a formula that loops), that formula failed and
//    a new run picks up after it. When the first run is clean, its images
//    are made and that is all.
//    Each run's formulas before its first failure get their images from it.
// 2. Typeset again without the failures. A clean run is the one the images
//    come from. Should that run still hold a fault, the formulas before it
//    (clean in that run) get their images from it, the fault is a failure,
//    and the rest is typeset once more: a last resort that each time settles
//    at least one formula, never the normal path.
//
// A large document is split into groups of consecutive pages, as many as the
// job allows, of about the same size; each group goes through both passes in
// latex runs of its own, in a scratch folder of its own, all groups at once.
// The images are the same, name for name and byte for byte, as from one
// run over all. Not so for svg, whose images dvisvgm writes differently
// after other pages of its run: a document with svg images is one group.
#ifndef KELVARIN_RENDER_PASSES_H
#define KELVARIN_RENDER_PASSES_H

#include <cstddef>
#include <string>
#include <vector>

#include "render/equation_pages.h"
#include "render/image_making.h"
#include "render/progress.h"
#include "render/typesetting.h"

namespace kelvarin {

struct RenderJob {
    LatexSetup latex;
    ImageTools tools;
    RenderOptions options;
    std::string scratch;  // the folder all runs write into
    std::string out_dir;  // where the images go
    std::size_t latex_runs = 1;  // the most latex runs at once (each with its image tools after it)
};

struct Failure {
    std::size_t page;     // index into the document's pages
    std::string message;
    bool of_formula = true;  // latex failed on it, as it will again; false: its image could not be made or written
};

struct RenderOutcome {
    std::string blocking_problem;   // why no formula could be tried (the preamble does not typeset)
    std::size_t written = 0;        // images made
    std::vector<Failure> failures;  // in source order
};

RenderOutcome render_formulas(const EquationPages& doc, const RenderJob& job, Progress& progress);

// How many groups a document of `formulas` is split into, at most
// `most_runs`: none smaller than is worth a run of its own.
std::size_t latex_runs_for(std::size_t formulas, std::size_t most_runs);

}  // namespace kelvarin

#endif
