// One latex run over chosen formula pages of an equation document, read as
// it goes: which formulas began, ended, shipped how many pages, and what
// latex said while in each.
//
// latex runs in the paper's folder, so that it finds the paper's own style
// and macro files exactly as when the paper is compiled there, and writes
// only into a scratch folder. It runs confined: no shell escape, and unless
// the paper is trusted, kpathsea's paranoid setting (openin_any=p,
// openout_any=p: no absolute paths, no "..", no hidden files) and, since
// that setting looks at names only, the confinement of paper_view.h, which
// looks at where files really are.
#ifndef KELVARIN_TYPESETTING_H
#define KELVARIN_TYPESETTING_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "render/child_process.h"
#include "render/equation_pages.h"
#include "render/paper_view.h"

namespace kelvarin {

struct LatexSetup {
    std::string latex;         // full path of the latex program
    std::string paper_folder;  // the equation document's folder, where latex runs
    std::string document;      // the equation document's name, for messages
    std::string nonce;         // letters and digits that latex's own echo of the source cannot hold
    bool trust_paper = false;  // let latex read any file the user can
    PaperConfinement confinement;  // where latex runs and what it may reach (see confine_paper)
    std::string format;        // the preamble dumped (see preamble_format.h), as latex's -fmt takes it; "" none
};

struct FormulaOutcome {
    bool begun = false;       // its begin marker was printed
    bool ended = false;       // its end marker was printed while it was the current formula
    int pages = 0;            // pages shipped while it was the current formula
    std::string message;      // the first thing latex said went wrong in it
};

struct LatexRun {
    std::vector<FormulaOutcome> formulas;  // one per chosen page, in the same order
    bool ready = false;                    // got past \begin{document}
    bool done = false;                     // got past the last formula
    ChildResult child;                     // how latex ended
    std::string blocking_problem;          // why no formula could be tried: what and where
    std::string dvi;                       // the DVI file this run wrote
    double preamble_seconds = 0;           // from the start to the ready marker
};

struct RunLimits {
    double deadline_seconds;  // for the whole run
    double silence_seconds;   // once past the preamble, the longest time a formula may keep latex,
                              // printing or not, raised to three times the preamble's own time
                              // when that is more
};

// A formula may ship this many pages before latex is stopped in it: one is
// right, a few are a formula that spills, more are a loop.
constexpr int kMostPagesPerFormula = 4;

// The mark that formula `k` (an index into the chosen pages) of a run with
// this nonce puts into \count9 of its page, so that its image is named from
// its own page whatever else was shipped. Never 0, which no page then holds.
std::int32_t page_mark(const std::string& nonce, std::size_t k);

// The name latex is given for the document it typesets.
extern const char* const kLatexJobName;

// The index of the head's "\begin{document}" line, where the preamble
// ends; the head's size when it has no such line of its own.
std::size_t document_begin_line(const EquationPages& doc);

// latex as `setup` says, confined, writing into `run_folder`, with
// `options` before the file it reads (found in `run_folder`).
ChildCommand latex_command(const LatexSetup& setup, const std::string& run_folder,
                           const std::vector<std::string>& options, const std::string& file);

// Typesets the head of `doc` and the pages `chosen` (indexes into doc.pages)
// in `run_folder`, which receives every file latex writes. `on_ended` is
// called with the number of chosen formulas ended so far, as they end.
// With a format, latex starts from it and reads the head from its
// "\begin{document}" on; should it not get there, as from a format that
// this latex cannot load, the run is made again without it.
LatexRun typeset_formulas(const EquationPages& doc, const std::vector<std::size_t>& chosen,
                          const LatexSetup& setup, const std::string& run_folder, const RunLimits& limits,
                          const std::function<void(std::size_t)>& on_ended);

}  // namespace kelvarin

#endif
