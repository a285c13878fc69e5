#include "render/incremental.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <iterator>
#include <map>
#include <set>
#include <string_view>
#include <unordered_set>

#include "render/progress.h"
#include "render/stale_images.h"

namespace kelvarin {

namespace fs = std::filesystem;

namespace {

// Sets `path` to the image's path in the output folder, as fs::path's "/"
// makes it (the name is a plain file name). One string serves thousands of
// images, where a path was built for each.
void set_image_path(std::string& path, const std::string& out_dir, const std::string& name) {
    path = out_dir;
    if (!path.empty() && path.back() != '/') path.push_back('/');
    path.append(name);
}

std::string image_path(const std::string& out_dir, const std::string& name) {
    std::string path;
    set_image_path(path, out_dir, name);
    return path;
}

// Whether anything stands at the path, a dangling link too. (A status too
// large to tell, EOVERFLOW, is something, as for fs::exists.)
bool something_at(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 || errno == EOVERFLOW;
}

// The names of the document's images; views into `doc`.
std::set<std::string_view> image_names(const EquationPages& doc) {
    std::set<std::string_view> named;
    for (const FormulaPage& page : doc.pages) named.insert(page.image_name);
    return named;
}

// "a, b and c".
std::string listed(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    return text;
}

std::string images_count(std::size_t n) { return with_commas(n) + (n == 1 ? " image" : " images"); }

// Lists the images of the folder that the document no longer names, and
// removes those made here when asked to.
void settle_unused(IncrementalRun& run, const EquationPages& doc, const std::set<std::string_view>& named,
                   const std::string& document, const std::string& out_dir, const FolderListing& listing,
                   bool prune, std::vector<std::string>& notes) {
    const std::vector<std::string> unused = unused_images(out_dir, listing, image_prefix(doc, document), named);
    if (unused.empty()) return;
    if (!prune) {
        notes.push_back(images_count(unused.size()) + " no longer used: " + listed(unused) +
                        (unused.size() == 1 ? " (--prune removes it)" : " (--prune removes them)"));
        return;
    }
    const Pruning pruning = prune_images(out_dir, unused, run.manifest);
    if (!pruning.removed.empty())
        notes.push_back(images_count(pruning.removed.size()) + " no longer used, removed: " +
                        listed(pruning.removed));
    if (!pruning.kept.empty())
        notes.push_back(images_count(pruning.kept.size()) + " no longer used, kept: " + listed(pruning.kept) +
                        " (not made by kelvarin-render here, or changed since; remove them yourself)");
    notes.insert(notes.end(), pruning.problems.begin(), pruning.problems.end());
}

// Entries of images that are gone vouch for nothing. The folder's listing
// tells, rather than a look at each of thousands of images; a folder that
// could not be listed to its end is looked at image by image.
void forget_missing(Manifest& manifest, const std::string& out_dir, const FolderListing& listing) {
    std::unordered_set<std::string_view> present;
    if (listing.whole)
        for (const auto& entry : listing.entries) present.insert(entry.first);
    std::string path;
    for (auto it = manifest.images.begin(); it != manifest.images.end();) {
        bool there = present.count(it->first) > 0;
        if (!listing.whole) {
            set_image_path(path, out_dir, it->first);
            there = something_at(path);
        }
        it = there ? std::next(it) : manifest.images.erase(it);
    }
}

// Failures of formulas the document no longer holds say nothing more.
void forget_unnamed_failures(Manifest& manifest, const std::set<std::string_view>& named) {
    for (auto it = manifest.failures.begin(); it != manifest.failures.end();)
        it = named.count(it->first) ? std::next(it) : manifest.failures.erase(it);
}

// Whether `a` and `b` hold the same entry for `name`, or neither holds one.
template <typename Entries>
bool same_entry(const Entries& a, const Entries& b, const std::string& name) {
    const auto in_a = a.find(name);
    const auto in_b = b.find(name);
    if ((in_a == a.end()) != (in_b == b.end())) return false;
    return in_a == a.end() || in_a->second == in_b->second;
}

// What the manifest held before a run wrote its entries: its sizes, and its
// entries for the names the run set (a few, where the whole may hold
// thousands). Since the run adds entries only under those names, and
// otherwise only removes, a manifest of the same sizes that agrees on those
// names is the same.
struct ManifestBefore {
    std::size_t images = 0;
    std::size_t failures = 0;
    Manifest entries;  // for the names set
};

ManifestBefore note_before(const Manifest& manifest, const std::vector<FormulaPage>& set_pages) {
    ManifestBefore before{manifest.images.size(), manifest.failures.size(), {}};
    for (const FormulaPage& page : set_pages) {
        const auto image = manifest.images.find(page.image_name);
        if (image != manifest.images.end()) before.entries.images.insert(*image);
        const auto failure = manifest.failures.find(page.image_name);
        if (failure != manifest.failures.end()) before.entries.failures.insert(*failure);
    }
    return before;
}

bool unchanged_since(const Manifest& manifest, const ManifestBefore& before, const std::vector<FormulaPage>& set_pages) {
    if (manifest.images.size() != before.images || manifest.failures.size() != before.failures) return false;
    for (const FormulaPage& page : set_pages)
        if (!same_entry(manifest.images, before.entries.images, page.image_name) ||
            !same_entry(manifest.failures, before.entries.failures, page.image_name))
            return false;
    return true;
}

}  // namespace

std::vector<Failure> all_failures(const IncrementalRun& run, const RenderOutcome& outcome) {
    std::vector<Failure> all = run.failed_before;
    for (const Failure& f : outcome.failures) all.push_back({run.todo_pages[f.page], f.message, f.of_formula});
    std::stable_sort(all.begin(), all.end(), [](const Failure& a, const Failure& b) { return a.page < b.page; });
    return all;
}

IncrementalRun plan_incremental(const EquationPages& doc, const std::string& document, const RenderJob& job,
                                const IncrementalOptions& incremental, std::vector<std::string>& notes) {
    const std::string& out_dir = job.out_dir;
    IncrementalRun run;
    run.todo.head = doc.head;
    run.manifest_path = manifest_path(out_dir, document);
    const std::string name = fs::path(document).filename().string();
    std::string problem;
    run.manifest = read_manifest(run.manifest_path, name, problem);
    if (!problem.empty())
        notes.push_back(run.manifest_path + ": " + problem + "; not trusted, so every image is made again");
    run.manifest_current = problem.empty() && something_at(run.manifest_path);

    std::string path;
    const Sha256 recipe_start = recipe_digest_start(head_digest(doc, job.options, job.latex.trust_paper));
    for (std::size_t i = 0; i < doc.pages.size(); ++i) {
        const FormulaPage& page = doc.pages[i];
        run.recipes.push_back(recipe_digest(recipe_start, page));
        set_image_path(path, out_dir, page.image_name);
        const auto entry = run.manifest.images.find(page.image_name);
        const bool listed_so = entry != run.manifest.images.end() && entry->second.recipe == run.recipes.back();
        const auto failure = run.manifest.failures.find(page.image_name);
        if (!incremental.force && failure != run.manifest.failures.end() &&
            failure->second.recipe == run.recipes.back()) {
            run.failed_before.push_back({i, failure->second.message + " (as in the last run; --force tries again)"});
            continue;
        }
        // An image untouched since the manifest was written is what it
        // records; only the others are read to find out.
        if (!incremental.force && listed_so && untouched_since(path, run.manifest.written_ns)) {
            ++run.reused;
            continue;
        }
        const std::string digest = file_digest(path);
        if (!incremental.force && listed_so && digest == entry->second.image) {
            ++run.reused;
            continue;
        }
        run.todo.pages.push_back(page);
        run.todo_pages.push_back(i);
        run.before.push_back(digest);
    }
    return run;
}

void finish_incremental(IncrementalRun& run, const EquationPages& doc, const RenderOutcome& outcome,
                        const std::string& document, const RenderJob& job, const IncrementalOptions& incremental,
                        std::vector<std::string>& notes) {
    const std::string& out_dir = job.out_dir;
    std::map<std::size_t, const Failure*> failed;
    for (const Failure& f : outcome.failures) failed[f.page] = &f;
    run.changed.clear();
    const ManifestBefore before = note_before(run.manifest, run.todo.pages);
    for (std::size_t k = 0; k < run.todo.pages.size(); ++k) {
        const std::string& name = run.todo.pages[k].image_name;
        const std::string digest = file_digest(image_path(out_dir, name));
        // A formula that failed vouches for no image, whatever its file
        // still holds. latex's verdict stands until the formula or what
        // makes it changes; an image that could not be written is tried again.
        run.manifest.failures.erase(name);
        const auto failure = failed.find(k);
        if (failure != failed.end() || digest.empty()) {
            run.manifest.images.erase(name);
            if (failure != failed.end() && failure->second->of_formula)
                run.manifest.failures[name] = {run.recipes[run.todo_pages[k]], failure->second->message};
            continue;
        }
        run.manifest.images[name] = {run.recipes[run.todo_pages[k]], digest};
        if (digest != run.before[k]) run.changed.push_back(name);
    }
    const FolderListing listing = list_folder(out_dir);
    forget_missing(run.manifest, out_dir, listing);
    const std::set<std::string_view> named = image_names(doc);
    settle_unused(run, doc, named, document, out_dir, listing, incremental.prune, notes);

    // A document without images gets no manifest, so that it writes
    // nothing at all.
    forget_unnamed_failures(run.manifest, named);
    const bool wanted =
        !run.manifest.images.empty() || !run.manifest.failures.empty() || something_at(run.manifest_path);
    const bool same = unchanged_since(run.manifest, before, run.todo.pages);
    if (wanted && (!run.manifest_current || !same)) {
        const std::string problem = replace_file(run.manifest_path, manifest_text(run.manifest));
        if (!problem.empty()) notes.push_back(problem + "; the next run makes every image again");
    }
}

std::string write_changed_list(const std::string& path, const std::vector<std::string>& changed) {
    std::string list;
    for (const std::string& name : changed) list += name + "\n";
    return replace_file(path, list);
}

}  // namespace kelvarin
