#include "render/render_passes.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <functional>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "render/dvi_pages.h"

namespace kelvarin {

namespace fs = std::filesystem;

namespace {

// A run may take a few seconds plus a small allowance per formula; latex
// typesets a formula in about a millisecond.
constexpr double kRunBaseSeconds = 10;
constexpr double kRunSecondsPerFormula = 0.05;
// Silent this long, once past the preamble, and latex is stuck in a formula
// (three times the preamble's time when that is longer). A formula takes
// about a millisecond, and latex prints a marker before and after each.
constexpr double kSilenceSeconds = 1;
// Further runs without the failures, should a run without them still fail.
constexpr int kMostVerifications = 8;
// Below this many formulas per run, a run of its own costs more (latex
// reading the preamble, the tools starting) than it saves.
constexpr std::size_t kFewestFormulasPerRun = 200;
// What a page costs latex beyond its text, in bytes of text.
constexpr std::size_t kPageWeight = 100;

enum class Verdict {
    clean,      // began, ended, no error, one page
    failed,     // it is at fault: an error, a page count off, latex stopped or stuck in it
    suspect,    // went wrong right after a formula that went wrong, maybe its doing
    unreached,  // latex ended before it
};

struct Judged {
    Verdict verdict = Verdict::unreached;
    std::string message;
};

std::string seconds_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

std::string pages_message(int pages) {
    if (pages == 0) return "typeset onto no page of its own";
    return "typeset onto " + std::to_string(pages) + " pages instead of 1";
}

// Judges each formula of a finished run.
std::vector<Judged> judge(const LatexRun& run, const RunLimits& limits) {
    const std::size_t n = run.formulas.size();
    std::size_t last_begun = n;
    for (std::size_t k = 0; k < n; ++k)
        if (run.formulas[k].begun) last_begun = k;

    std::vector<Judged> judged(n);
    bool previous_failed = false;
    for (std::size_t k = 0; k < n; ++k) {
        const FormulaOutcome& f = run.formulas[k];
        Judged& j = judged[k];
        if (!f.begun && (last_begun == n || k > last_begun)) {
            if (run.done) j = {Verdict::failed, "not typeset: latex passed over it"};
            else continue;  // unreached
        } else if (!f.begun) {
            j = {Verdict::failed, "not typeset: latex never got to it (the formula before it swallowed it?)"};
        } else if (!f.ended && k == last_begun && !run.done) {
            // latex ended while in this formula.
            switch (run.child.end) {
                case ChildEnd::stalled:
                    j = {Verdict::failed, "did not finish: latex made no progress on it for " +
                                              seconds_text(run.child.waited) + " (does it loop?)"};
                    break;
                case ChildEnd::out_of_time:
                    j = {Verdict::failed, "did not finish: latex's run ran out of its " +
                                              std::to_string(static_cast<int>(limits.deadline_seconds)) + " s"};
                    break;
                case ChildEnd::crashed:
                    j = {Verdict::failed, "latex crashed in it (signal " + std::to_string(run.child.status) + ")"};
                    break;
                default:
                    j = {Verdict::failed, f.message.empty()
                                              ? "latex stopped in it (\\end{document} or \\stop inside the formula?)"
                                              : f.message};
                    break;
            }
        } else if (!f.ended) {
            j = {Verdict::failed,
                 f.message.empty() ? "its end was never reached (an argument left open swallowed it?)" : f.message};
        } else if (!f.message.empty()) {
            j = {Verdict::failed, f.message};
        } else if (f.pages != 1) {
            j = {Verdict::failed, pages_message(f.pages)};
        } else {
            j.verdict = Verdict::clean;
        }
        if (j.verdict == Verdict::failed && previous_failed && !(k == last_begun && !f.ended))
            j.verdict = Verdict::suspect;
        previous_failed = j.verdict != Verdict::clean;
    }
    return judged;
}

// What the parallel latex runs over one document share: the progress line,
// and how far each of them got.
struct Shared {
    std::mutex lock;
    Progress& progress;
    std::vector<std::size_t> typeset;  // per group: formulas typeset in its first pass so far
    std::size_t total = 0;             // formulas of the document to typeset
};

// One group of consecutive pages of the document, settled by its own latex runs in its own scratch
// folder: every run after the first holds only pages of this group.
struct Passes {
    const EquationPages& doc;
    const RenderJob& job;
    Shared& shared;
    std::vector<std::size_t> pages;  // indexes into doc.pages, in source order
    std::size_t group = 0;
    std::string folder;              // where this group's runs write
    std::string label;               // before its stage lines: "" alone, "group 2 of 4: " otherwise
    RenderOutcome outcome;
    std::map<std::size_t, std::string> failed;  // page -> message
    std::set<std::size_t> rendered;
    std::set<std::size_t> image_failures;  // of `failed`: typeset, but no image made or written
    std::size_t runs = 0;
};

void show_stage_of(Passes& passes, const std::string& text) {
    const std::lock_guard<std::mutex> hold(passes.shared.lock);
    show_stage(passes.shared.progress, passes.label + text);
}

RunLimits limits_for(std::size_t formulas) {
    return {kRunBaseSeconds + kRunSecondsPerFormula * static_cast<double>(formulas), kSilenceSeconds};
}

// A first-pass run counts towards the whole document's count; a later run
// counts on its own.
LatexRun typeset(Passes& passes, const std::vector<std::size_t>& chosen, bool first_pass, std::size_t done_before) {
    const std::string folder = (fs::path(passes.folder) / ("run" + std::to_string(++passes.runs))).string();
    std::error_code ec;
    fs::create_directory(folder, ec);
    const RunLimits limits = limits_for(chosen.size());
    Shared& shared = passes.shared;
    return typeset_formulas(passes.doc, chosen, passes.job.latex, folder, limits, [&](std::size_t ended) {
        const std::lock_guard<std::mutex> hold(shared.lock);
        if (!first_pass) {
            show_count(shared.progress, passes.label + "checked " + with_commas(ended) + " of " +
                                            with_commas(chosen.size()) + " formulas");
            return;
        }
        shared.typeset[passes.group] = done_before + ended;
        std::size_t done = 0;
        for (std::size_t n : shared.typeset) done += n;
        show_count(shared.progress, "typeset " + with_commas(done) + " of " + with_commas(shared.total) + " formulas");
    });
}

// The DVI page that carries formula k's mark and no other formula's, for
// each of `ks`; 0 with a message in `lost` where there is not exactly one.
std::vector<std::size_t> marked_pages(const LatexRun& run, const std::string& nonce,
                                      const std::vector<std::size_t>& ks, std::map<std::size_t, std::string>& lost) {
    std::vector<std::size_t> found(ks.size(), 0);
    std::vector<PageCounts> pages;
    std::string error;
    if (!read_dvi_pages(run.dvi, pages, error)) {
        for (std::size_t i = 0; i < ks.size(); ++i) lost[i] = "typeset, but " + error;
        return found;
    }
    std::map<std::int32_t, std::vector<std::size_t>> by_mark;
    for (std::size_t p = 0; p < pages.size(); ++p) by_mark[pages[p][9]].push_back(p + 1);
    for (std::size_t i = 0; i < ks.size(); ++i) {
        const auto at = by_mark.find(page_mark(nonce, ks[i]));
        const std::size_t count = at == by_mark.end() ? 0 : at->second.size();
        if (count == 1) found[i] = at->second[0];
        else if (count == 0) lost[i] = "typeset, but its page does not carry its mark (does it set \\count9?)";
        else lost[i] = pages_message(static_cast<int>(count)) + " (a page shipped behind the markers' back?)";
    }
    return found;
}

// Makes the images of `pages` (indexes into `chosen`) from the run's DVI
// file, each from the page that carries its formula's mark.
void make_images_of(Passes& passes, const LatexRun& run, const std::vector<std::size_t>& chosen,
                    const std::vector<std::size_t>& ks) {
    if (ks.empty()) return;
    show_stage_of(passes, "making " + with_commas(ks.size()) + " images");
    std::map<std::size_t, std::string> unmarked;
    const std::vector<std::size_t> dvi_pages = marked_pages(run, passes.job.latex.nonce, ks, unmarked);
    std::vector<ImageJob> jobs;
    std::vector<std::size_t> job_of(ks.size(), ks.size());  // index into jobs, per index into ks
    for (std::size_t i = 0; i < ks.size(); ++i) {
        if (unmarked.count(i)) continue;
        job_of[i] = jobs.size();
        const FormulaPage& page = passes.doc.pages[chosen[ks[i]]];
        jobs.push_back(
            {dvi_pages[i], (fs::path(passes.job.out_dir) / page.image_name).string(), is_postscript_drawing(page)});
    }
    const std::string work = (fs::path(passes.folder) / ("images" + std::to_string(passes.runs))).string();
    std::error_code ec;
    fs::create_directory(work, ec);
    std::map<std::size_t, std::string> lost;
    for (const ImageFailure& failure :
         make_images(run.dvi, jobs, passes.job.tools, passes.job.latex.confinement, work, passes.job.options))
        lost[failure.job] = failure.message;
    for (std::size_t i = 0; i < ks.size(); ++i) {
        const std::size_t page = chosen[ks[i]];
        if (unmarked.count(i)) {
            passes.failed[page] = unmarked[i];  // what latex made of the formula: it will again
        } else if (lost.count(job_of[i])) {
            passes.failed[page] = lost[job_of[i]];
            passes.image_failures.insert(page);
        } else {
            passes.rendered.insert(page);
        }
    }
}

// Pass 1: every formula once, picking up after each one latex stops or gets
// stuck in. Returns true when the first run was clean and its images made.
bool find_failures(Passes& passes) {
    const std::size_t total = passes.pages.size();
    std::vector<std::size_t> pending = passes.pages;
    bool first = true;
    while (!pending.empty()) {
        const LatexRun run = typeset(passes, pending, true, total - pending.size());
        if (!run.ready) {
            passes.outcome.blocking_problem = run.blocking_problem;
            return false;
        }
        const std::vector<Judged> judged = judge(run, limits_for(pending.size()));
        const bool clean = run.done && run.child.end == ChildEnd::exited &&
                           std::all_of(judged.begin(), judged.end(),
                                       [](const Judged& j) { return j.verdict == Verdict::clean; });
        if (first && clean) {
            std::vector<std::size_t> all(total);
            for (std::size_t k = 0; k < total; ++k) all[k] = k;
            make_images_of(passes, run, pending, all);
            return true;
        }
        first = false;
        // The formulas before the run's first fault are typeset as in a
        // clean run: their images come from it, when latex went through to
        // the end (so that its DVI file is whole), and the second pass
        // leaves them.
        if (run.done && run.child.end == ChildEnd::exited) {
            std::vector<std::size_t> ks;
            while (ks.size() < pending.size() && judged[ks.size()].verdict == Verdict::clean) ks.push_back(ks.size());
            make_images_of(passes, run, pending, ks);
        }
        std::vector<std::size_t> unreached;
        for (std::size_t k = 0; k < pending.size(); ++k) {
            if (judged[k].verdict == Verdict::failed) passes.failed[pending[k]] = judged[k].message;
            if (judged[k].verdict == Verdict::unreached) unreached.push_back(pending[k]);
        }
        if (unreached.size() == pending.size()) {
            // latex ended before the first formula without a word: count it
            // against that formula, so that every run settles one at least.
            passes.failed[pending[0]] = "latex stopped before it";
            unreached.erase(unreached.begin());
        }
        pending = unreached;
    }
    return false;
}

// Pass 2: everything but the failures, until a run is clean for what is left.
void verify_and_render(Passes& passes) {
    for (int attempt = 0; attempt < kMostVerifications; ++attempt) {
        std::vector<std::size_t> chosen;
        for (std::size_t i : passes.pages)
            if (!passes.failed.count(i) && !passes.rendered.count(i)) chosen.push_back(i);
        if (chosen.empty()) return;
        show_stage_of(passes, with_commas(passes.failed.size()) + " failed; typesetting the other " +
                                  with_commas(chosen.size()) + " without them");
        const LatexRun run = typeset(passes, chosen, false, 0);
        if (!run.ready) {
            for (std::size_t page : chosen) passes.failed[page] = "not typeset: " + run.blocking_problem;
            return;
        }
        const std::vector<Judged> judged = judge(run, limits_for(chosen.size()));
        std::size_t clean_prefix = 0;
        while (clean_prefix < chosen.size() && judged[clean_prefix].verdict == Verdict::clean) ++clean_prefix;
        // Images come only from a run that ended normally, so that its DVI
        // file is whole, and only for formulas before any fault in it.
        if (run.child.end == ChildEnd::exited) {
            std::vector<std::size_t> ks(clean_prefix);
            for (std::size_t k = 0; k < clean_prefix; ++k) ks[k] = k;
            make_images_of(passes, run, chosen, ks);
        }
        for (std::size_t k = clean_prefix; k < chosen.size(); ++k)
            if (judged[k].verdict == Verdict::failed) passes.failed[chosen[k]] = judged[k].message;
        // latex ended cleanly before a formula: count it against that
        // formula, so that every run settles one at least.
        if (clean_prefix < chosen.size() && judged[clean_prefix].verdict == Verdict::unreached)
            passes.failed[chosen[clean_prefix]] = "latex stopped before it";
    }
    // Still no clean run: what is left is reported, not tried for ever.
    for (std::size_t i : passes.pages)
        if (!passes.failed.count(i) && !passes.rendered.count(i))
            passes.failed[i] = "not rendered: latex's runs kept failing near it";
}

// Splits the pages into `groups` runs of consecutive pages, of about the same
// size each: latex's time for a formula grows with its text, over a fixed
// cost per page. Consecutive, so that a formula meets in its run the same
// formulas before it as in one run over all.
std::vector<std::vector<std::size_t>> split_pages(const EquationPages& doc, std::size_t groups) {
    auto weight = [&](std::size_t i) {
        std::size_t bytes = kPageWeight;
        for (const std::string& line : doc.pages[i].lines) bytes += line.size();
        return bytes;
    };
    std::size_t total = 0;
    for (std::size_t i = 0; i < doc.pages.size(); ++i) total += weight(i);
    std::vector<std::vector<std::size_t>> split(1);
    std::size_t so_far = 0;
    for (std::size_t i = 0; i < doc.pages.size(); ++i) {
        // A new group begins once this one holds its share of the whole.
        if (split.size() < groups && !split.back().empty() && so_far * groups >= total * split.size())
            split.emplace_back();
        split.back().push_back(i);
        so_far += weight(i);
    }
    return split;
}

// Settles every formula of the group. What it throws is kept for the
// caller, so that a thread does not end the program unannounced.
void settle(Passes& passes, std::exception_ptr& thrown) {
    try {
        if (!find_failures(passes) && passes.outcome.blocking_problem.empty()) verify_and_render(passes);
    } catch (...) {
        thrown = std::current_exception();
    }
}

}  // namespace

std::size_t latex_runs_for(std::size_t formulas, std::size_t most_runs) {
    const std::size_t worth = formulas / kFewestFormulasPerRun;
    return std::max<std::size_t>(1, std::min(most_runs, worth));
}

RenderOutcome render_formulas(const EquationPages& doc, const RenderJob& job, Progress& progress) {
    RenderOutcome outcome;
    if (doc.pages.empty()) return outcome;
    // dvisvgm writes an image differently after other pages of its run (it
    // shares glyphs between them): svg images are the same bytes only from
    // the same run, so a document with any stays whole.
    const bool any_svg = std::any_of(doc.pages.begin(), doc.pages.end(),
                                     [](const FormulaPage& page) { return image_extension(page.image_name) == "svg"; });
    const std::vector<std::vector<std::size_t>> split =
        split_pages(doc, any_svg ? 1 : latex_runs_for(doc.pages.size(), job.latex_runs));
    Shared shared{{}, progress, std::vector<std::size_t>(split.size(), 0), doc.pages.size()};
    std::vector<Passes> groups;
    for (std::size_t k = 0; k < split.size(); ++k) {
        const bool alone = split.size() == 1;
        const std::string folder =
            alone ? job.scratch : (fs::path(job.scratch) / ("group" + std::to_string(k + 1))).string();
        std::error_code ec;
        fs::create_directory(folder, ec);
        const std::string label =
            alone ? "" : "group " + std::to_string(k + 1) + " of " + std::to_string(split.size()) + ": ";
        groups.push_back(Passes{doc, job, shared, split[k], k, folder, label, {}, {}, {}, {}, 0});
    }
    show_stage(progress, "typesetting " + with_commas(doc.pages.size()) + " formulas" +
                             (split.size() == 1 ? "" : " in " + std::to_string(split.size()) + " latex runs"));
    // Every group but the last in a thread of its own; the last here.
    std::vector<std::exception_ptr> thrown(groups.size());
    std::vector<std::thread> threads;
    for (std::size_t k = 0; k + 1 < groups.size(); ++k) {
        try {
            threads.emplace_back(settle, std::ref(groups[k]), std::ref(thrown[k]));
        } catch (const std::system_error&) {
            settle(groups[k], thrown[k]);  // no thread to be had: this group now, here
        }
    }
    settle(groups.back(), thrown.back());
    for (std::thread& thread : threads) thread.join();
    for (const std::exception_ptr& e : thrown)
        if (e) std::rethrow_exception(e);

    for (const Passes& group : groups) {
        if (outcome.blocking_problem.empty()) outcome.blocking_problem = group.outcome.blocking_problem;
        outcome.written += group.rendered.size();
        for (const auto& [page, message] : group.failed)
            outcome.failures.push_back({page, message, group.image_failures.count(page) == 0});
    }
    // The groups hold consecutive pages, in order: so are their failures.
    return outcome;
}

}  // namespace kelvarin
