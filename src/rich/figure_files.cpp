// Figure files found as LaTeX finds them, inside the paper's folder only,
// and the web images the page refers to (see figure_files.h).
#include "rich/figure_files.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "core/job_state.h"
#include "io/file_identity.h"
#include "io/text_helpers.h"

namespace kelvarin {

namespace {

namespace fs = std::filesystem;

// What becomes of a file by its extension: shown as it is, or converted to
// a PNG image by kelvarin-render.
enum class FigureKind { web, converted, unknown };

struct ExtensionKind {
    std::string_view extension;
    FigureKind kind;
};

constexpr ExtensionKind kExtensionKinds[] = {
    {".png", FigureKind::web},       {".jpg", FigureKind::web},       {".jpeg", FigureKind::web},
    {".gif", FigureKind::web},       {".svg", FigureKind::web},       {".pdf", FigureKind::converted},
    {".eps", FigureKind::converted}, {".ps", FigureKind::converted},
};

// The widths a figure's size is relative to.
constexpr std::string_view kTextWidths[] = {"\\linewidth", "\\textwidth", "\\columnwidth", "\\hsize"};

// Folders deeper than this in \graphicspath are not all tried.
constexpr std::size_t kMostGraphicsFolders = 32;
// Figure files named on standard error, at most; a source naming thousands
// that are not there gets one line for the rest.
constexpr int kMostFigureWarnings = 100;

FigureKind kind_of(const fs::path& name) {
    const std::string ext = ascii_lower(name.extension().string());
    for (const ExtensionKind& k : kExtensionKinds)
        if (k.extension == ext) return k.kind;
    return FigureKind::unknown;
}

// Where a path relative to the paper's folder leads.
enum class Place { nowhere, inside, outside };

// Where `relative` (lexically normal) leads from `root`, the paper's
// folder's real path: to a regular file inside it, to one outside it
// (an absolute path, a ".." that climbs out, a link that leads out), or to
// no file.
Place file_place(const fs::path& root, const fs::path& relative) {
    if (relative.empty()) return Place::nowhere;
    std::error_code ec;
    const fs::path real = fs::canonical(root / relative, ec);
    if (ec || !fs::is_regular_file(real, ec)) return Place::nowhere;
    if (relative.is_absolute() || relative.begin()->string() == "..") return Place::outside;
    return lies_within(root.string(), real.string()) ? Place::inside : Place::outside;
}

// The folders a name is looked in: the paper's own, then \graphicspath's.
std::vector<std::string> search_folders(const RichState& r) {
    std::vector<std::string> folders = {""};
    for (const std::string& folder : r.graphics_folders) {
        if (folders.size() > kMostGraphicsFolders) break;
        folders.push_back(folder);
    }
    return folders;
}

// Whether `relative` may name a file: its folder, when inside the paper's,
// is read once and the name looked up there, so that a paper naming many
// files in many folders costs a look-up each, not a call to the system per
// folder and extension. A folder outside is not read; the name then goes to
// file_place, which tells it.
bool may_exist(RichState& r, const fs::path& root, const std::string& relative) {
    const std::size_t slash = relative.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : relative.substr(0, slash);
    if (relative[0] == '/' || relative.compare(0, 2, "..") == 0) return true;
    auto listing = r.figure_folders.find(folder);
    if (listing == r.figure_folders.end()) {
        std::unordered_set<std::string> names;
        std::error_code ec;
        const fs::path real = fs::canonical(root / folder, ec);
        if (!ec && lies_within(root.string(), real.string()))
            for (fs::directory_iterator it(real, ec), end; !ec && it != end; it.increment(ec))
                names.insert(it->path().filename().string());
        listing = r.figure_folders.emplace(folder, std::move(names)).first;
    }
    return listing->second.count(slash == std::string::npos ? relative : relative.substr(slash + 1)) != 0;
}

// "folder" and "file" joined as a path in the paper's folder, "." and ".."
// steps resolved as far as they go; cheap when there are none.
std::string joined(const std::string& folder, const std::string& file) {
    std::string path = folder;
    if (!path.empty() && path.back() != '/') path.push_back('/');
    path += file;
    const bool plain = path.find("./") == std::string::npos && path.find("//") == std::string::npos &&
                       path != "." && path != ".." && path.back() != '.' && path.back() != '/';
    return plain ? path : fs::path(path).lexically_normal().generic_string();
}

// The file in the paper's folder that `name` names, as a lexically normal
// relative path, or "" when there is none there; `outside` tells whether a
// file was met that lies outside the folder.
std::string find_figure_file(RichState& r, const std::string& name, bool& outside) {
    std::error_code ec;
    const fs::path root = fs::canonical(r.source_folder.empty() ? "." : r.source_folder, ec);
    if (ec) return "";
    const std::vector<std::string> folders = search_folders(r);
    auto in_folder = [&](const std::string& folder, const std::string& file) {
        const std::string relative = joined(folder, file);
        if (relative.empty() || !may_exist(r, root, relative)) return std::string();
        const Place place = file_place(root, relative);
        if (place == Place::outside) outside = true;
        return place == Place::inside ? relative : std::string();
    };
    if (kind_of(name) != FigureKind::unknown) {
        for (const std::string& folder : folders)
            if (std::string found = in_folder(folder, name); !found.empty()) return found;
        return "";
    }
    for (std::string_view extension : kFigureExtensions)
        for (const std::string& folder : folders)
            if (std::string found = in_folder(folder, name + std::string(extension)); !found.empty()) return found;
    return "";
}

// "the paper's folder, figures/ and img/": the folders looked in, for a warning.
std::string folders_text(const RichState& r) {
    const std::vector<std::string> folders = search_folders(r);
    std::string text;
    for (std::size_t k = 0; k < folders.size(); ++k) {
        text += k == 0 ? "" : k + 1 == folders.size() ? " and " : ", ";
        text += k == 0 ? "the paper's folder" : folders[k];
    }
    return text;
}

std::string extensions_text() {
    std::string text;
    for (std::string_view extension : kFigureExtensions) text += (text.empty() ? "" : ", ") + std::string(extension);
    return text;
}

// The stem of a figure file as a part of an image name: letters, digits,
// "-", "_" and "." kept, anything else (a "," would end the wiki
// reference's file name) made "-".
std::string plain_stem(const fs::path& file) {
    std::string stem = file.stem().string();
    for (char& c : stem)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
              c == '.'))
            c = '-';
    return stem.empty() ? "figure" : stem;
}

// The image that `source` becomes beside the page, recorded once per
// source: a PNG image of a PDF or EPS file, a web image under its own type.
std::string image_for(Walk& w, const std::string& source, std::size_t at) {
    std::vector<FigureToConvert>& list = w.r.figures_to_convert;
    for (const FigureToConvert& figure : list)
        if (figure.source == source) return figure.image;
    // "paper.eq" -> "paper.fig-".
    std::string prefix = w.job.equation_prefix;
    if (prefix.size() >= 3 && prefix.compare(prefix.size() - 3, 3, ".eq") == 0) prefix.resize(prefix.size() - 3);
    const std::string stem = prefix + ".fig-" + plain_stem(source);
    const std::string type =
        kind_of(source) == FigureKind::converted ? ".png" : ascii_lower(fs::path(source).extension().string());
    std::string image = stem + type;
    for (int n = 2; std::any_of(list.begin(), list.end(), [&](const FigureToConvert& f) { return f.image == image; });
         ++n)
        image = stem + "-" + std::to_string(n) + type;
    list.push_back({image, source, row_of(w, at)});
    return image;
}

void warn(Walk& w, std::size_t at, const std::string& text) {
    RichState& r = w.r;
    if (r.pass != &kWritingPass || r.figure_warnings > kMostFigureWarnings) return;
    const std::string row = std::to_string(row_of(w, at));
    if (++r.figure_warnings > kMostFigureWarnings)
        r.vocabulary.warnings.push_back(row + ": more figure files not found or not used; not named one by one");
    else
        r.vocabulary.warnings.push_back(row + ": " + text);
}

// The number before a text width ("0.5", ".8", "" for 1), as a percentage;
// -1 when it is not a plain number.
long percent_of(std::string_view number) {
    if (number.empty()) return 100;
    const std::string text(number);
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !(value > 0) || value > 100) return -1;
    return std::max(1L, std::lround(value * 100));
}

// The value of `key` in a key=value list, trimmed; "" without it.
std::string_view option_value(std::string_view options, std::string_view key) {
    std::size_t start = 0;
    while (start <= options.size()) {
        std::size_t comma = options.find(',', start);
        if (comma == std::string_view::npos) comma = options.size();
        const std::string_view entry = options.substr(start, comma - start);
        const std::size_t equals = entry.find('=');
        if (equals != std::string_view::npos && trim_blanks_and_tabs(entry.substr(0, equals)) == key)
            return trim_blanks_and_tabs(entry.substr(equals + 1));
        start = comma + 1;
    }
    return {};
}

}  // namespace

FigureReference figure_reference(Walk& w, std::string_view name, std::size_t at) {
    const std::string written(name);
    if (written.empty()) return {written, false};
    // Each name is looked for once under the same \graphicspath.
    auto lookup = w.r.figure_lookups.find(written);
    if (lookup == w.r.figure_lookups.end()) {
        bool outside_met = false;
        std::string file = find_figure_file(w.r, written, outside_met);
        lookup = w.r.figure_lookups.emplace(written, std::make_pair(std::move(file), outside_met)).first;
    }
    const std::string& found = lookup->second.first;
    const bool outside = lookup->second.second;
    if (found.empty()) {
        const bool has_extension = kind_of(written) != FigureKind::unknown;
        warn(w, at,
             outside ? "figure file " + written + " not used: it lies outside the paper's folder"
                     : "figure file " + written + " not found (looked in " + folders_text(w.r) +
                           (has_extension ? "" : " for " + extensions_text()) + ")");
        return {written, false};
    }
    // A web image beside the paper is named as it is; one in a folder, which
    // the wiki would read as another page's attachment, gets a plain name
    // of its own, under which kelvarin-render copies it beside the page.
    if (kind_of(found) == FigureKind::converted || found.find('/') != std::string::npos)
        return {image_for(w, found, at), true};
    return {found, true};
}

std::string figure_scale(std::string_view options) {
    const std::string_view width = option_value(options, "width");
    for (std::string_view text_width : kTextWidths) {
        if (width.size() < text_width.size() ||
            width.compare(width.size() - text_width.size(), text_width.size(), text_width) != 0)
            continue;
        const long percent = percent_of(trim_blanks_and_tabs(width.substr(0, width.size() - text_width.size())));
        if (percent > 0) return std::to_string(percent) + "%";
    }
    const std::string_view scale = option_value(options, "scale");
    if (width.empty() && !scale.empty()) {
        const long percent = percent_of(scale);
        if (percent > 0) return std::to_string(percent) + "%";
    }
    return "100%";
}

std::size_t graphicspath_command(CommandCall& call, const CommandArguments& a) {
    if (const std::size_t stop = stop_at(call, a); stop != kNoStop) return stop;
    // Each folder is a brace group of its own: "{figures/}{img/}".
    std::vector<std::string> folders;
    const std::string_view list = a[0].text;
    for (std::size_t p = 0; p < list.size();) {
        if (list[p] != '{') {
            ++p;
            continue;
        }
        int depth = 0;
        std::size_t q = p;
        for (; q < list.size(); ++q) {
            if (list[q] == '{') ++depth;
            if (list[q] == '}' && --depth == 0) break;
        }
        if (q >= list.size()) break;
        const std::string_view folder = trim_blanks_and_tabs(list.substr(p + 1, q - p - 1));
        if (!folder.empty()) folders.emplace_back(folder);
        p = q + 1;
    }
    call.w.r.graphics_folders = std::move(folders);
    call.w.r.figure_lookups.clear();
    call.w.r.figure_folders.clear();
    return a.next;
}

}  // namespace kelvarin
