// The paper's own files: a style file beside the paper ("\usepackage{mystyle}"
// with mystyle.sty in the paper's folder) or a file it inputs or includes
// ("\input{macros}") holds definitions the page needs. Their
// declarations are read as the preamble's are. Only files inside the
// paper's folder are read, never the TeX installation's packages, and never
// a file a link leads out of the folder to.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/job_state.h"
#include "io/file_identity.h"
#include "io/text_helpers.h"
#include "rich/commands.h"

namespace kelvarin {

namespace {

namespace fs = std::filesystem;

// Files inside each other deeper than this, or larger, are not read.
constexpr int kDeepestFiles = 8;
constexpr std::uintmax_t kLargestFile = 4u << 20;

// The file `name` (with `extension` when it has none) in the paper's folder,
// as a path; "" when there is none, or it is not inside the folder.
std::string own_file(const std::string& folder, std::string name, std::string_view extension) {
    name = std::string(trim_blanks_and_tabs(name));
    if (name.empty() || name[0] == '/' || name[0] == '~' || name.find('$') != std::string::npos ||
        name.find("..") != std::string::npos)
        return "";
    if (fs::path(name).extension().empty()) name += extension;
    std::error_code ec;
    const fs::path root = fs::canonical(folder, ec);
    if (ec) return "";
    const fs::path real = fs::canonical(root / name, ec);
    if (ec || !fs::is_regular_file(real, ec) || fs::file_size(real, ec) > kLargestFile) return "";
    return lies_within(root.string(), real.string()) ? real.string() : "";
}

// Reads the declarations of a file, its lines joined without their comments.
void read_file_declarations(Walk& w, const std::string& path) {
    RichState& r = w.r;
    if (r.files_loading >= kDeepestFiles) return;
    std::ifstream in(path, std::ios::binary);
    std::string text, line;
    while (std::getline(in, line)) {
        const std::size_t comment = comment_start(line);
        text.append(line, 0, comment == kNoPosition ? line.size() : comment);
        text.push_back(' ');
    }
    LatexIndex index;
    Walk sub(w.job, r, index);
    sub.text = text;
    sub.declarations_only = true;
    index_latex(text, index);
    ++r.files_loading;
    const std::size_t budget = r.vocabulary.budget;
    r.vocabulary.budget = kExpansionFactor * text.size() + kExpansionAllowance;
    read_declarations(sub);
    r.vocabulary.budget = budget;
    --r.files_loading;
}

}  // namespace

// "\usepackage[options]{a,b}": each package that is a style file of the paper's own.
std::size_t own_package_command(CommandCall& call, const CommandArguments& a) {
    if (const std::size_t stop = stop_at(call, a); stop != kNoStop) return stop;
    if (!call.w.declarations_only) return a.next;
    std::stringstream names{std::string(a[1].text)};
    std::string name;
    while (std::getline(names, name, ',')) {
        if (trim_blanks_and_tabs(name) == "enumerate") call.w.r.enumerate_package = true;
        // cleveref's "capitalise" option: \cref prints "Theorem 2", as \Cref does.
        if (trim_blanks_and_tabs(name) == "cleveref" && a[0].found &&
            (a[0].text.find("capitalise") != std::string_view::npos ||
             a[0].text.find("capitalize") != std::string_view::npos))
            call.w.r.cref_capitalised = true;
        const std::string path = own_file(call.w.r.source_folder, name, ".sty");
        if (!path.empty()) read_file_declarations(call.w, path);
    }
    return a.next;
}

// "\input{macros}", "\include{chapter2}": a file of the paper's own, in the
// preamble or the body. Only its declarations are read: the page shows the
// text of the file it is made from, and a book is flattened first for all
// of its chapters to show. What the file defines in the body holds for the
// formulas after it, as a definition written there would.
std::size_t own_input_command(CommandCall& call, const CommandArguments& a) {
    if (const std::size_t stop = stop_at(call, a); stop != kNoStop) return stop;
    if (!call.top() && !call.w.declarations_only) return a.next;
    const std::string path = own_file(call.w.r.source_folder, std::string(a[0].text), ".tex");
    if (!path.empty()) read_file_declarations(call.w, path);
    return a.next;
}

}  // namespace kelvarin
