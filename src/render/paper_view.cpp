#include "render/paper_view.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <set>
#include <system_error>

#include "render/landlock.h"

extern char** environ;

namespace kelvarin {

namespace fs = std::filesystem;

namespace {

// What the tools may read besides the paper's folder and the TeX
// installation: the programs and their libraries, and the few files of /etc
// they read. Not /etc as a whole (its passwd file is what "~user" looks up),
// not /proc, not any home folder.
const char* const kSystemReadable[] = {
    "/usr", "/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32", "/nix/store", "/gnu/store",
    "/etc/ld.so.cache", "/etc/localtime", "/etc/papersize", "/etc/fonts", "/etc/texmf", "/etc/ghostscript",
    "/var/lib/ghostscript", "/dev/zero", "/dev/urandom", "/dev/random",
};

// The variables of the user's environment the tools still get: where
// programs are, the time, and TeX's own search paths, which the user chose.
const char* const kKeptVariables[] = {
    "PATH", "TZ", "SOURCE_DATE_EPOCH", "FORCE_SOURCE_DATE",
    "TEXINPUTS", "TEXFONTS", "TFMFONTS", "VFFONTS", "PKFONTS", "GFFONTS", "GLYPHFONTS", "T1FONTS",
    "AFMFONTS", "TTFONTS", "OPENTYPEFONTS", "ENCFONTS", "TEXFONTMAPS", "TEXPSHEADERS", "MFINPUTS",
    "MPINPUTS", "BIBINPUTS", "BSTINPUTS", "TEXFORMATS", "TEXPOOL", "TEXMFCNF", "TEXMF", "TEXMFDIST",
    "TEXMFMAIN", "TEXMFLOCAL", "TEXMFSYSVAR", "TEXMFSYSCONFIG", "TEXMFROOT", "TEXMFDBS",
};

// A view walks at most this many entries of the paper's folder; folders
// beyond are left out of it (and said so when latex asks for them).
constexpr std::size_t kMostEntries = 1000000;

std::string parent_of(const std::string& rel) {
    const std::size_t slash = rel.rfind('/');
    return slash == std::string::npos ? "" : rel.substr(0, slash);
}

std::string joined(const std::string& rel, const std::string& name) { return rel.empty() ? name : rel + "/" + name; }

// `path` relative to `folder` when it lies in it ("" for the folder itself),
// or false.
bool inside(const std::string& path, const std::string& folder, std::string& rel) {
    if (path == folder) return rel.clear(), true;
    const std::string lead = folder == "/" ? folder : folder + "/";
    if (path.compare(0, lead.size(), lead) != 0) return false;
    rel = path.substr(lead.size());
    return true;
}

// A user's TeX search path with its leading "~/" spelled out, since the
// tools' HOME is another.
std::string with_home_spelled_out(const std::string& value, const std::string& home) {
    std::string out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = value.find(':', start);
        std::string element = value.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        const std::size_t bangs = element.compare(0, 2, "!!") == 0 ? 2 : 0;
        if (element.compare(bangs, 2, "~/") == 0 || element.substr(bangs) == "~")
            element = element.substr(0, bangs) + home + element.substr(bangs + 1);
        out += element;
        if (colon == std::string::npos) return out;
        out += ':';
        start = colon + 1;
    }
}

// What kpsewhich prints for `argument`, run in our own environment; "" when
// it cannot be run.
std::string ask_kpsewhich(const std::string& kpsewhich, const std::vector<std::string>& arguments) {
    ChildCommand command;
    command.argv = {kpsewhich};
    command.argv.insert(command.argv.end(), arguments.begin(), arguments.end());
    std::string output;
    ChildLimits limits;
    limits.deadline_seconds = 20;
    const ChildResult result = run_child(command, limits, [&](std::string_view chunk) {
        output.append(chunk);
        return OutputVerdict::quiet;
    });
    if (result.end != ChildEnd::exited || result.status != 0) return "";
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
    return output;
}

// The folders of a kpathsea path list, as plain absolute paths.
void add_folders_of(const std::string& list, std::vector<std::string>& folders) {
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        std::string element = list.substr(start, end - start);
        if (element.compare(0, 2, "!!") == 0) element = element.substr(2);
        while (element.size() > 1 && element.back() == '/') element.pop_back();
        if (!element.empty() && element[0] == '/' && element.find_first_of("${}") == std::string::npos)
            folders.push_back(element);
        start = end + 1;
    }
}

// The tools' environment, and the TeX folders they may read.
void prepare_environment(const std::string& scratch, const std::string& latex, PaperConfinement& c,
                         std::vector<std::string>& tex_folders) {
    const char* home_variable = std::getenv("HOME");
    const std::string home = home_variable ? home_variable : "";
    std::set<std::string> kept(std::begin(kKeptVariables), std::end(kKeptVariables));
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string text = *entry;
        const std::size_t equals = text.find('=');
        if (equals == std::string::npos || !kept.count(text.substr(0, equals))) continue;
        c.environment.push_back(text.substr(0, equals + 1) + with_home_spelled_out(text.substr(equals + 1), home));
    }
    // kpsewhich beside latex, asked in the user's own environment, says where
    // the TeX installation and the user's personal tree are.
    const std::string kpsewhich = (fs::path(latex).parent_path() / "kpsewhich").string();
    // One run answers both questions, a line each (the variable first);
    // should it not give exactly two lines, each is asked alone.
    const std::string home_question = "--expand-var=$TEXMFHOME";
    const std::string trees_question =
        "--expand-braces=$TEXMF:$TEXMFCNF:$TEXMFROOT:$TEXMFSYSVAR:$TEXMFSYSCONFIG:$TEXMFLOCAL:$TEXMFDIST:$TEXMFMAIN";
    std::string personal = ask_kpsewhich(kpsewhich, {home_question, trees_question});
    std::string trees;
    const std::size_t line_end = personal.find('\n');
    if (line_end != std::string::npos && personal.find('\n', line_end + 1) == std::string::npos) {
        trees = personal.substr(line_end + 1);
        personal.resize(line_end);
    } else {
        personal = ask_kpsewhich(kpsewhich, {home_question});
        trees = ask_kpsewhich(kpsewhich, {trees_question});
    }
    if (!personal.empty() && personal.find_first_of("{}$:") == std::string::npos)
        c.environment.push_back("TEXMFHOME=" + personal);
    add_folders_of(trees, tex_folders);
    for (const std::string& entry : c.environment) {
        const std::size_t equals = entry.find('=');
        if (entry.compare(0, equals, "PATH") != 0) add_folders_of(entry.substr(equals + 1), tex_folders);
    }
    std::error_code ec;
    tex_folders.push_back(fs::canonical(latex, ec).parent_path().string());
    tex_folders.push_back(fs::path(latex).parent_path().string());

    const fs::path own = scratch;
    for (const char* folder : {"home", "tmp", "texmf-var", "texmf-config", "texfonts", "cache"})
        fs::create_directories(own / folder, ec);
    c.environment.insert(c.environment.end(),
                         {"HOME=" + (own / "home").string(), "TMPDIR=" + (own / "tmp").string(),
                          "TEXMFVAR=" + (own / "texmf-var").string(), "TEXMFCONFIG=" + (own / "texmf-config").string(),
                          "TEXMFCACHE=" + (own / "texmf-var").string(), "VARTEXFONTS=" + (own / "texfonts").string(),
                          "XDG_CACHE_HOME=" + (own / "cache").string(), "XDG_CONFIG_HOME=" + (own / "home").string(),
                          // messages in one language, so that they can be read
                          "LC_ALL=C"});
}

// Whether `folder` is "/" or holds the user's home folder: never a reason
// to let a tool read it.
bool too_wide(const std::string& folder) {
    const char* home = std::getenv("HOME");
    std::string rel;
    return folder == "/" || (home && *home && inside(fs::weakly_canonical(home).string(), folder, rel));
}

}  // namespace

// The view: what a walk of the paper's folder found.
struct FolderWalk {
    std::string root;                                  // the paper's folder (real path)
    std::map<std::string, std::string> bad_links;      // link -> where it leads, outside or nowhere
    std::map<std::string, std::string> inner_folders;  // link -> the folder inside it leads to
    std::map<std::string, std::string> inner_files;    // link -> the real path of the file inside it leads to
    std::set<std::string> unwalked;                    // folders not looked at
    std::set<std::string> unclean;                     // folders from which a link leads out
};

namespace {

// Where a link in the paper's folder leads, when that is outside it.
std::string link_leading_out(const std::string& folder, const std::string& rel) {
    std::error_code ec;
    const fs::path path = fs::path(folder) / rel;
    if (fs::symlink_status(path, ec).type() != fs::file_type::symlink) return "";
    const fs::path real = fs::canonical(path, ec);
    std::string target_rel;
    if (ec) return "it is a link that leads nowhere (to a missing file, or round in a loop)";
    if (inside(real.string(), folder, target_rel)) return "";
    const std::string written = fs::read_symlink(path, ec).string();
    return "it is a link to " + (written != real.string() && !ec ? written + ", which leads to " : "") +
           real.string() + ", outside the paper's folder";
}

// `folder` and `name` joined by one "/", as fs::path's "/" joins them.
std::string path_in(const std::string& folder, const char* name) {
    std::string path = folder;
    if (!path.empty() && path.back() != '/') path += '/';
    return path += name;
}

// Notes the link `entry` (at `path`) and where it leads.
void note_link(FolderWalk& walk, const std::string& entry, const std::string& path) {
    std::error_code ec;
    const fs::path real = fs::canonical(path, ec);
    std::string target_rel;
    if (ec) {
        walk.bad_links[entry] = "";
    } else if (!inside(real.string(), walk.root, target_rel)) {
        walk.bad_links[entry] = real.string();
    } else if (fs::is_directory(real, ec)) {
        walk.inner_folders[entry] = target_rel;
    } else {
        walk.inner_files[entry] = real.string();
    }
}

// Reads the names of the paper's folder and below, breadth first, noting
// every link and where it leads. A folder that cannot be opened or read to
// its end is unwalked.
void walk_folder(FolderWalk& walk) {
    std::deque<std::string> pending{""};
    std::size_t seen = 0;
    while (!pending.empty()) {
        const std::string rel = pending.front();
        pending.pop_front();
        if (seen > kMostEntries) {
            walk.unwalked.insert(rel);
            continue;
        }
        const std::string folder_path = rel.empty() ? walk.root : path_in(walk.root, rel.c_str());
        DIR* folder = opendir(folder_path.c_str());
        for (;;) {
            errno = 0;
            const struct dirent* entry = folder ? readdir(folder) : nullptr;
            if (!entry) {
                // A listing that fails part way is as one not read: what
                // it did not show may lead out.
                if (!folder || errno != 0) walk.unwalked.insert(rel);
                break;
            }
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
            if (++seen > kMostEntries) {
                walk.unwalked.insert(rel);
                break;
            }
            // The entry's own type as the folder's listing gives it: no call
            // per entry, so a folder of 100,000 files is read in a blink.
            bool link = entry->d_type == DT_LNK;
            bool subfolder = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat info {};
                if (lstat(path_in(folder_path, name).c_str(), &info) == 0) {
                    link = S_ISLNK(info.st_mode);
                    subfolder = S_ISDIR(info.st_mode);
                }
            }
            if (subfolder) pending.push_back(joined(rel, name));
            else if (link) note_link(walk, joined(rel, name), path_in(folder_path, name));
        }
        if (folder) closedir(folder);
    }
}

// Marks `rel` and the folders above it as holding a way out.
void mark_unclean(FolderWalk& walk, std::string rel) {
    while (walk.unclean.insert(rel).second && !rel.empty()) rel = parent_of(rel);
}

// A folder is rebuilt in the view when it holds a link, or a folder that is
// rebuilt: every link is then replaced by one to where it led when looked
// at, so that a link changed later cannot lead the tools out; the links
// leading out are left out. Folders without links are shown as they are.
void find_unclean(FolderWalk& walk) {
    for (const auto* links : {&walk.bad_links, &walk.inner_folders, &walk.inner_files})
        for (const auto& [link, target] : *links) mark_unclean(walk, parent_of(link));
    for (const std::string& folder : walk.unwalked) mark_unclean(walk, folder);
}

// Rebuilds the unclean folder `rel` of the paper's folder at `view_root/rel`.
// Entries that changed since the walk are left out.
void mirror(const FolderWalk& walk, const std::string& view_root, const std::string& rel) {
    std::error_code ec;
    const fs::path from = fs::path(walk.root) / rel;
    const fs::path to = fs::path(view_root) / rel;
    fs::create_directory(to, ec);
    for (fs::directory_iterator it(from, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const std::string entry = joined(rel, name);
        std::error_code type_ec;
        const fs::file_type type = it->symlink_status(type_ec).type();
        std::string target;
        if (type == fs::file_type::symlink) {
            if (walk.inner_files.count(entry)) {
                target = walk.inner_files.at(entry);
            } else if (walk.inner_folders.count(entry)) {
                const std::string& folder = walk.inner_folders.at(entry);
                target = ((walk.unclean.count(folder) ? fs::path(view_root) : fs::path(walk.root)) / folder).string();
            }
        } else if (type == fs::file_type::directory) {
            if (walk.unclean.count(entry) && !walk.unwalked.count(entry)) mirror(walk, view_root, entry);
            else if (!walk.unclean.count(entry)) target = (from / name).string();
        } else {
            target = (from / name).string();
        }
        if (!target.empty()) fs::create_symlink(target, to / name, type_ec);
    }
}

// Builds the view, or says that none is needed (no link leads out).
void build_view(const std::string& scratch, PaperConfinement& c) {
    FolderWalk walk;
    walk.root = c.paper_folder;
    walk_folder(walk);
    find_unclean(walk);
    for (const auto& [link, target] : walk.bad_links) {
        const std::string why = link_leading_out(walk.root, link);
        c.left_out[link] = !why.empty() ? why : "it is a link that led out of the paper's folder when looked at";
    }
    for (const std::string& folder : walk.unwalked)
        c.left_out[folder] = "it was not looked at (the paper's folder holds more than " +
                             std::to_string(kMostEntries) + " entries, or it cannot be read)";
    if (!walk.unclean.count("")) return;  // nothing leads out: the folder is its own view
    c.run_folder = (fs::path(scratch) / "view").string();
    mirror(walk, c.run_folder, "");
}

}  // namespace

bool confine_paper(const std::string& paper_folder, const std::string& scratch, const std::string& latex,
                   bool trust_paper, PaperConfinement& c, std::string& error) {
    std::error_code ec;
    c.paper_folder = fs::canonical(paper_folder, ec).string();
    if (ec) {
        error = "cannot find the paper's folder " + paper_folder + ": " + ec.message();
        return false;
    }
    c.run_folder = c.paper_folder;
    c.active = !trust_paper;
    if (!c.active) return true;

    std::vector<std::string> readable;
    prepare_environment(scratch, latex, c, readable);
    for (const char* folder : kSystemReadable) readable.push_back(folder);
    std::vector<std::string> allowed{c.paper_folder};
    for (const std::string& folder : readable)
        if (!too_wide(folder)) allowed.push_back(folder);

    std::string why;
    const char* choice = std::getenv("KELVARIN_RENDER_LANDLOCK");
    if (choice && std::string(choice) == "off") why = "KELVARIN_RENDER_LANDLOCK=off";
    else c.landlock = make_landlock_ruleset(allowed, {scratch, "/dev/null"}, why);
    c.by_kernel = c.landlock >= 0;
    if (!c.by_kernel) {
        build_view(scratch, c);
        c.note = "no confinement by the kernel here (" + why +
                 "): latex reads the paper's folder through a view that leaves out links leading out of it, but "
                 "\"~user\" file names, kpathsea's own variables and pictures named in DVI specials can still "
                 "reach other files; render only papers you trust";
    }
    if (access(c.run_folder.c_str(), X_OK) != 0) {
        error = "cannot enter " + c.run_folder;
        return false;
    }
    return true;
}

void confine_command(ChildCommand& command, const PaperConfinement& c) {
    command.directory = c.run_folder;
    if (!c.active) return;
    std::vector<std::string> environment = c.environment;
    for (const std::string& own : command.environment) {
        const std::string name = own.substr(0, own.find('=') + 1);
        bool replaced = false;
        for (std::string& entry : environment)
            if (entry.compare(0, name.size(), name) == 0) entry = own, replaced = true;
        if (!replaced) environment.push_back(own);
    }
    command.environment = environment;
    command.whole_environment = true;
    command.landlock_ruleset = c.landlock;
}

std::string why_confined(const std::string& name, const PaperConfinement& c) {
    if (!c.active || name.empty()) return "";
    if (name[0] == '~' || name.find('$') != std::string::npos)
        return "\"~\" and \"$\" in file names do not lead out of the paper's folder";
    std::string rel = name;
    while (rel.compare(0, 2, "./") == 0) rel = rel.substr(2);
    if (rel[0] == '/') {
        std::string own;
        if (!inside(fs::path(rel).lexically_normal().string(), c.paper_folder, own))
            return "it lies outside the paper's folder";
        rel = own;
    }
    // The first part of the name that is left out, or a link leading out.
    for (std::size_t slash = 0; slash != std::string::npos;) {
        slash = rel.find('/', slash + 1);
        const std::string part = rel.substr(0, slash);
        for (const std::string& candidate : {part, part + ".tex"}) {
            std::string why = c.left_out.count(candidate) ? c.left_out.at(candidate)
                                                          : link_leading_out(c.paper_folder, candidate);
            if (why.empty()) continue;
            if (candidate != rel && candidate != rel + ".tex") why = "'" + candidate + "' " + why.substr(3);
            return why;
        }
    }
    return "";
}

}  // namespace kelvarin
