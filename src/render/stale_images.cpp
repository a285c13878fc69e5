#include "render/stale_images.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

namespace kelvarin {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kContentKeyDigits = 10;

bool all_of_set(std::string_view text, const char* set) {
    return !text.empty() && text.find_first_not_of(set) == std::string_view::npos;
}

// What stands between the prefix and the extension: a number, or "-" and
// the content key.
bool is_image_key(std::string_view key) {
    if (all_of_set(key, "0123456789")) return true;
    return key.size() == kContentKeyDigits + 1 && key[0] == '-' &&
           all_of_set(key.substr(1), "0123456789abcdef");
}

// The name without its extension and its key, or "" when it has none.
std::string_view prefix_of(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return "";
    const std::string_view stem = name.substr(0, dot);
    const std::size_t key_size = kContentKeyDigits + 1;
    if (stem.size() > key_size && stem[stem.size() - key_size] == '-' && is_image_key(stem.substr(stem.size() - key_size)))
        return stem.substr(0, stem.size() - key_size);
    const std::size_t digits = stem.find_last_not_of("0123456789");
    if (digits == std::string_view::npos || digits + 1 == stem.size()) return "";
    return stem.substr(0, digits + 1);
}

// Whether the entry at `path` is a folder, a link followed: the listing's
// own type when it says, else the file's status.
bool is_folder(const std::string& path, unsigned char listed_type) {
    if (listed_type != DT_UNKNOWN && listed_type != DT_LNK) return listed_type == DT_DIR;
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::string image_prefix(const EquationPages& doc, const std::string& document) {
    if (doc.pages.empty()) {
        std::string name = fs::path(document).filename().string();
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tex") == 0) name.resize(name.size() - 4);
        return name;
    }
    const std::string_view prefix = prefix_of(doc.pages.front().image_name);
    for (const FormulaPage& page : doc.pages)
        if (prefix_of(page.image_name) != prefix) return "";
    return std::string(prefix);
}

bool follows_naming(std::string_view name, std::string_view prefix) {
    if (prefix.empty() || name.compare(0, prefix.size(), prefix) != 0) return false;
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot < prefix.size()) return false;
    const std::string_view type = name.substr(dot + 1);
    return (type == "gif" || type == "png" || type == "svg") &&
           is_image_key(name.substr(prefix.size(), dot - prefix.size()));
}

FolderListing list_folder(const std::string& dir) {
    FolderListing listing;
    DIR* folder = opendir(dir.empty() ? "." : dir.c_str());
    if (!folder) return listing;
    for (;;) {
        errno = 0;
        const struct dirent* entry = readdir(folder);
        if (!entry) {
            listing.whole = errno == 0;
            break;
        }
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") listing.entries.emplace_back(name, entry->d_type);
    }
    closedir(folder);
    return listing;
}

std::vector<std::string> unused_images(const std::string& out_dir, const FolderListing& listing,
                                       const std::string& prefix, const std::set<std::string_view>& named) {
    std::vector<std::string> unused;
    const std::string lead = out_dir.empty() || out_dir.back() == '/' ? out_dir : out_dir + "/";
    for (const auto& [name, type] : listing.entries)
        if (follows_naming(name, prefix) && !named.count(name) && !is_folder(lead + name, type))
            unused.push_back(name);
    std::sort(unused.begin(), unused.end());
    return unused;
}

Pruning prune_images(const std::string& out_dir, const std::vector<std::string>& unused, Manifest& manifest) {
    Pruning pruning;
    for (const std::string& name : unused) {
        const auto entry = manifest.images.find(name);
        const std::string path = (fs::path(out_dir) / name).string();
        if (entry == manifest.images.end() || file_digest(path) != entry->second.image) {
            pruning.kept.push_back(name);
            continue;
        }
        std::error_code ec;
        if (fs::remove(path, ec)) {
            pruning.removed.push_back(name);
            manifest.images.erase(entry);
        } else {
            pruning.problems.push_back("cannot remove " + path + ": " + ec.message());
        }
    }
    return pruning;
}

}  // namespace kelvarin
