// Rendering only what changed. Before the passes: the manifest beside the
// images says which of them are still what the document asks for, and only
// the others are typeset. After them: the manifest is brought up to date,
// images the document no longer names are listed (and pruned on request),
// and the images new or changed in this run are written out for an upload
// script.
#ifndef KELVARIN_INCREMENTAL_H
#define KELVARIN_INCREMENTAL_H

#include <cstddef>
#include <string>
#include <vector>

#include "render/equation_pages.h"
#include "render/image_making.h"
#include "render/manifest.h"
#include "render/render_passes.h"

namespace kelvarin {

struct IncrementalOptions {
    bool force = false;        // typeset every formula, whatever the manifest says
    bool prune = false;        // remove unused images made here
    std::string changed_file;  // where to list the images new or changed; "" none
};

struct IncrementalRun {
    EquationPages todo;                   // the head and the pages to typeset
    std::vector<std::size_t> todo_pages;  // todo.pages[k] is doc.pages[todo_pages[k]]
    std::size_t reused = 0;               // images kept as they are
    std::vector<Failure> failed_before;   // unchanged formulas that failed last time (pages of doc), not tried
    std::vector<std::string> recipes;     // per page of the document
    std::vector<std::string> before;      // per page of todo: digest of its file before the run
    std::string manifest_path;
    Manifest manifest;                    // what the manifest vouched for
    bool manifest_current = false;        // the file holds exactly `manifest` (no rewrite needed)
    std::vector<std::string> changed;     // after the run: images new or changed in it
};

// Reads the manifest of `document` in the job's output folder and chooses the pages to
// typeset. Adds to `notes` what the user should know (a manifest not
// trusted).
IncrementalRun plan_incremental(const EquationPages& doc, const std::string& document, const RenderJob& job,
                                const IncrementalOptions& incremental, std::vector<std::string>& notes);

// Every failure of the document in source order, its pages those of the
// document: the run's own and those of the last run that stand.
std::vector<Failure> all_failures(const IncrementalRun& run, const RenderOutcome& outcome);

// After the passes over run.todo: updates and writes the manifest, lists
// and prunes the unused images, and sets run.changed. Adds to `notes` what
// the user should know.
void finish_incremental(IncrementalRun& run, const EquationPages& doc, const RenderOutcome& outcome,
                        const std::string& document, const RenderJob& job, const IncrementalOptions& incremental,
                        std::vector<std::string>& notes);

// Writes the names of the images new or changed, one per line, for an
// upload script (an empty file when there are none). Returns "" or why it
// could not.
std::string write_changed_list(const std::string& path, const std::vector<std::string>& changed);

}  // namespace kelvarin

#endif
