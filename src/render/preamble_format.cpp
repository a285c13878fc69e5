#include "render/preamble_format.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>
#include <system_error>
#include <vector>

#include "io/file_identity.h"
#include "io/sha256.h"
#include "render/child_process.h"
#include "render/manifest.h"

namespace kelvarin {

namespace fs = std::filesystem;

namespace {

// The formats kept at once: a few papers, or a book's chapters, being
// edited; each is several megabytes.
constexpr std::size_t kMostFormats = 8;
// A preamble dumps in well under a second; heavy packages take longer.
constexpr double kDumpDeadlineSeconds = 120;
constexpr double kDumpSilenceSeconds = 30;
// The list of what a format was made from is a few hundred lines.
constexpr off_t kLargestInputList = 1 << 20;
const char* const kInputListHeader = "kelvarin-render format inputs 1\n";

// What a file is now, as one line: device, inode, size, modification time
// and, unless left out, change time. A file edited, replaced or touched
// reads otherwise. The kept format's own identity leaves out its change
// time, which each run's second name for it moves.
std::string identity_of(const struct stat& info, bool with_change_time = true) {
    std::ostringstream line;
    line << info.st_dev << ' ' << info.st_ino << ' ' << info.st_size << ' ' << nanoseconds(info.st_mtim);
    if (with_change_time) line << ' ' << nanoseconds(info.st_ctim);
    return line.str();
}

bool write_all(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return !out.fail();
}

std::string today() {
    const std::time_t now = std::time(nullptr);
    struct tm local {};
    char text[16] = "";
    if (localtime_r(&now, &local)) std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

// The files latex read while it made the format, from its recorder's list:
// real paths, each once. False when one cannot be told, or lies in the
// scratch folder (which goes away), other than the dumped preamble itself.
bool recorded_inputs(const std::string& list_path, const std::string& own_input, const std::string& scratch,
                     std::vector<std::string>& inputs) {
    std::ifstream list(list_path, std::ios::binary);
    if (!list) return false;
    std::string line;
    std::string pwd;
    std::set<std::string> seen;
    std::error_code ec;
    const std::string scratch_real = fs::canonical(scratch, ec).string();
    if (ec) return false;
    while (std::getline(list, line)) {
        if (line.compare(0, 4, "PWD ") == 0) {
            pwd = line.substr(4);
            continue;
        }
        if (line.compare(0, 6, "INPUT ") != 0) continue;
        fs::path path = line.substr(6);
        if (path.is_relative()) path = fs::path(pwd) / path;
        const std::string real = fs::canonical(path, ec).string();
        if (ec) return false;
        if (real == own_input) continue;
        if (real.compare(0, scratch_real.size() + 1, scratch_real + "/") == 0) return false;
        if (seen.insert(real).second) inputs.push_back(real);
    }
    return !inputs.empty();
}

// Keeps the newest formats, by when they were last used.
void trim_cache(const std::string& folder) {
    std::vector<std::pair<std::int64_t, std::string>> kept;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.size() <= 7 || name.compare(name.size() - 7, 7, ".inputs") != 0) continue;
            struct stat info {};
            if (lstat((folder + "/" + name).c_str(), &info) == 0 && S_ISREG(info.st_mode))
                kept.emplace_back(nanoseconds(info.st_mtim), name.substr(0, name.size() - 7));
        }
        closedir(dir);
    }
    if (kept.size() <= kMostFormats) return;
    std::sort(kept.begin(), kept.end());
    for (std::size_t i = 0; i + kMostFormats < kept.size(); ++i) {
        unlink((folder + "/" + kept[i].second + ".inputs").c_str());
        unlink((folder + "/" + kept[i].second + ".fmt").c_str());
    }
}

}  // namespace

FormatCache open_format_cache() {
    FormatCache cache;
    std::string base;
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    if (xdg && xdg[0] == '/') base = xdg;
    else if (home && home[0] == '/') base = std::string(home) + "/.cache";
    else return cache;
    mkdir(base.c_str(), 0700);
    const std::string folder = base + "/kelvarin-render";
    mkdir(folder.c_str(), 0700);
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0) return cache;
    if (S_ISDIR(info.st_mode) && info.st_uid == geteuid() && (info.st_mode & 022) == 0) cache.folder = folder;
    return cache;
}

std::string format_key(const EquationPages& doc, const LatexSetup& setup, const std::string& scratch) {
    Sha256 digest;
    const auto field = [&](std::string_view text) { sha256_add_field(digest, text); };
    field("kelvarin-render format " KELVARIN_VERSION);
    field(setup.latex);
    struct stat info {};
    field(stat(setup.latex.c_str(), &info) == 0 ? identity_of(info) : "no latex");
    field(setup.paper_folder);
    field(setup.trust_paper ? "trusted" : "confined");
    field(today());
    // The tools' environment names the scratch folder, which is new each run.
    for (std::string entry : setup.confinement.environment) {
        for (std::size_t at = entry.find(scratch); at != std::string::npos; at = entry.find(scratch, at + 1))
            entry.replace(at, scratch.size(), "<scratch>");
        field(entry);
    }
    const std::size_t end = document_begin_line(doc);
    for (std::size_t i = 0; i < end; ++i) field(doc.head[i]);
    return sha256_finish_hex(digest);
}

std::string kept_format(const FormatCache& cache, const std::string& key, const std::string& scratch) {
    if (cache.folder.empty()) return "";
    const std::string stem = cache.folder + "/" + key;
    struct stat info {};
    std::string list;
    if (!read_regular_file(stem + ".inputs", kLargestInputList, list, info) || info.st_uid != geteuid() ||
        list.compare(0, std::char_traits<char>::length(kInputListHeader), kInputListHeader) != 0)
        return "";
    // "format <identity>" for the format itself, then "<identity> <path>" for
    // each file it was made from: all must be as they were.
    std::istringstream lines(list.substr(std::char_traits<char>::length(kInputListHeader)));
    std::string line;
    std::string format_identity;
    bool any_input = false;
    while (std::getline(lines, line)) {
        if (line.compare(0, 7, "format ") == 0) {
            format_identity = line.substr(7);
            continue;
        }
        std::size_t space = 0;
        for (int fields = 0; fields < 5 && space != std::string::npos; ++fields) space = line.find(' ', space + 1);
        if (space == std::string::npos) return "";
        const std::string path = line.substr(space + 1);
        struct stat now {};
        if (path.empty() || path[0] != '/' || stat(path.c_str(), &now) != 0 ||
            identity_of(now) != line.substr(0, space))
            return "";
        any_input = true;
    }
    if (!any_input || format_identity.empty()) return "";
    // latex reads the format from the scratch folder, which its
    // confinement lets it read: a second name for the file where the two
    // folders share a disk, else a copy. Either way what latex is given is
    // a file of ours whose identity is the one recorded.
    const std::string copy = (fs::path(scratch) / "preamble").string();
    bool ready = false;
    if (link((stem + ".fmt").c_str(), (copy + ".fmt").c_str()) == 0) {
        ready = lstat((copy + ".fmt").c_str(), &info) == 0 && S_ISREG(info.st_mode);
    } else {
        std::string bytes;
        ready = read_regular_file(stem + ".fmt", std::numeric_limits<off_t>::max(), bytes, info) &&
                write_all(copy + ".fmt", bytes);
    }
    if (!ready || info.st_uid != geteuid() || identity_of(info, false) != format_identity) return "";
    // Used now: the last to be dropped from the cache.
    utimensat(AT_FDCWD, (stem + ".inputs").c_str(), nullptr, AT_SYMLINK_NOFOLLOW);
    return copy;
}

std::string make_format(const EquationPages& doc, const LatexSetup& setup, const FormatCache& cache,
                        const std::string& key, const std::string& folder, const std::string& scratch) {
    if (cache.folder.empty()) return "no cache folder";
    const std::size_t end = document_begin_line(doc);
    if (end == doc.head.size()) return "the preamble does not end in a \\begin{document} line of its own";
    std::error_code ec;
    fs::create_directory(folder, ec);
    const std::string input = (fs::path(folder) / (std::string(kLatexJobName) + ".tex")).string();
    std::string text;
    for (std::size_t i = 0; i < end; ++i) text += doc.head[i] + "\n";
    if (!write_all(input, text + "\\dump\n")) return "cannot write " + input;

    // latex in its making mode, from its own base format, recording every
    // file it reads; it stops at the first error, which leaves no format.
    const std::string base = "&" + fs::path(setup.latex).filename().string();
    ChildCommand command = latex_command(setup, folder, {"-ini", "-recorder", "-halt-on-error"},
                                         std::string(kLatexJobName) + ".tex");
    command.argv.insert(command.argv.end() - 1, base);
    ChildLimits limits;
    limits.deadline_seconds = kDumpDeadlineSeconds;
    limits.silence_seconds = kDumpSilenceSeconds;
    const ChildResult result = run_child(command, limits, [](std::string_view) { return OutputVerdict::quiet; });
    if (result.end != ChildEnd::exited || result.status != 0) return "latex did not dump the preamble cleanly";
    const std::string made = (fs::path(folder) / (std::string(kLatexJobName) + ".fmt")).string();
    std::vector<std::string> inputs;
    if (!recorded_inputs((fs::path(folder) / (std::string(kLatexJobName) + ".fls")).string(),
                         fs::canonical(input, ec).string(), scratch, inputs))
        return "the files the preamble read cannot all be told";

    std::string list = kInputListHeader;
    for (const std::string& path : inputs) {
        struct stat info {};
        if (stat(path.c_str(), &info) != 0) return "cannot look at " + path;
        list += identity_of(info) + " " + path + "\n";
    }
    struct stat info {};
    std::string bytes;
    if (!read_regular_file(made, std::numeric_limits<off_t>::max(), bytes, info))
        return "cannot read the format latex made";
    const std::string stem = cache.folder + "/" + key;
    std::string problem = replace_file(stem + ".fmt", bytes);
    if (!problem.empty()) return problem;
    if (lstat((stem + ".fmt").c_str(), &info) != 0) return "the kept format is gone";
    problem = replace_file(stem + ".inputs", list + "format " + identity_of(info, false) + "\n");
    if (!problem.empty()) return problem;
    trim_cache(cache.folder);
    return "";
}

}  // namespace kelvarin
