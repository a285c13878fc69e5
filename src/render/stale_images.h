// Images left in the output folder that the equation document no longer
// names: after an edit, numbered names past the last formula, or names by
// content of formulas that changed. They look current and are not; they are
// listed after each run, and removed on request when kelvarin-render made
// them and they are as it made them.
#ifndef KELVARIN_STALE_IMAGES_H
#define KELVARIN_STALE_IMAGES_H

#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "render/equation_pages.h"
#include "render/manifest.h"

namespace kelvarin {

// The part every image name of the document starts with ("paper.eq"): what
// the names of its pages share before their number or content key, or, for
// a document without pages, its file name without ".tex". "" when the
// pages do not agree, and no name can be told to be the document's.
std::string image_prefix(const EquationPages& doc, const std::string& document);

// Whether `name` is the name of an image of a document with that prefix:
// the prefix, then a number or "-" and 10 hexadecimal digits, then ".gif",
// ".png" or ".svg".
bool follows_naming(std::string_view name, std::string_view prefix);

// The names in a folder, each with the type its listing gives (a dirent
// d_type), read once for all that is asked of the folder after a run.
struct FolderListing {
    std::vector<std::pair<std::string, unsigned char>> entries;  // "." and ".." left out
    bool whole = false;  // opened and read to its end
};

FolderListing list_folder(const std::string& dir);

// The files of the listed `out_dir` that follow the naming and are not in
// `named`, in name order. A listing that failed part way gives the names
// read until then.
std::vector<std::string> unused_images(const std::string& out_dir, const FolderListing& listing,
                                       const std::string& prefix, const std::set<std::string_view>& named);

struct Pruning {
    std::vector<std::string> removed;
    std::vector<std::string> kept;  // not made here, or changed since: never removed
    std::vector<std::string> problems;
};

// Removes those of `unused` that `manifest` lists and that still hold the
// bytes it made, and takes them out of the manifest.
Pruning prune_images(const std::string& out_dir, const std::vector<std::string>& unused, Manifest& manifest);

}  // namespace kelvarin

#endif
