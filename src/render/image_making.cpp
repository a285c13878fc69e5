#include "render/image_making.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>

#include "render/child_process.h"
#include "render/drawing_images.h"
#include "render/equation_pages.h"
#include "render/image_checks.h"

namespace kelvarin {

namespace fs = std::filesystem;

namespace {

// "1-3,7,9-12" for dvisvgm's --page.
std::string page_ranges(std::vector<std::size_t> pages) {
    std::string text;
    for (std::size_t i = 0; i < pages.size();) {
        std::size_t j = i;
        while (j + 1 < pages.size() && pages[j + 1] == pages[j] + 1) ++j;
        text += (text.empty() ? "" : ",") + std::to_string(pages[i]);
        if (j > i) text += "-" + std::to_string(pages[j]);
        i = j + 1;
    }
    return text;
}

std::string read_whole(const fs::path& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

// The mode a new file gets here: what the umask leaves of rw-rw-rw-.
mode_t new_file_mode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Writes `bytes` to a new file beside `target` and renames it over the
// target when whole. Returns "" or why it could not (nothing changed then).
std::string write_beside(const std::string& bytes, const std::string& target) {
    const fs::path place = fs::path(target).parent_path().empty() ? fs::path(".") : fs::path(target).parent_path();
    std::string temporary =
        (place / ("." + fs::path(target).filename().string() + ".kelvarin-" + std::to_string(getpid()) + "-XXXXXX"))
            .string();
    const int fd = mkstemp(temporary.data());
    if (fd < 0) return std::strerror(errno);
    int failure = fchmod(fd, new_file_mode()) == 0 ? 0 : errno;
    for (std::size_t done = 0; failure == 0 && done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) failure = n < 0 ? errno : EIO;
        else done += static_cast<std::size_t>(n);
    }
    if (close(fd) != 0 && failure == 0) failure = errno;
    if (failure == 0 && rename(temporary.c_str(), target.c_str()) != 0) failure = errno;
    if (failure != 0) unlink(temporary.c_str());
    return failure == 0 ? "" : std::strerror(failure);
}

// Checks a made image and gives it its name: renamed into place, which
// replaces whatever the name held (a link too, which is not followed); when
// the tools wrote on another file system, copied to a new file beside the
// target first. Returns "" or why the image is not there; the old image, if
// any, is then kept as it was.
std::string place_image(const fs::path& made, const std::string& target, const std::string& ext,
                        const std::string& tool) {
    const std::string bytes = read_whole(made);
    const std::string problem = image_problem(bytes, ext);
    if (!problem.empty()) return "typeset, but " + problem + " (" + tool + ")";
    return move_image_into_place(made, target, bytes);
}

}  // namespace

std::string move_image_into_place(const std::string& made, const std::string& target, const std::string& bytes) {
    if (rename(made.c_str(), target.c_str()) == 0) return "";
    const int rename_errno = errno;
    const std::string why = rename_errno == EXDEV ? write_beside(bytes, target) : std::strerror(rename_errno);
    return why.empty() ? "" : "cannot write " + target + ": " + why + " (an image already there is kept)";
}

std::vector<ImageFailure> make_images(const std::string& dvi, const std::vector<ImageJob>& jobs,
                                     const ImageTools& tools, const PaperConfinement& confinement,
                                     const std::string& work_folder, const RenderOptions& options) {
    std::map<std::string, std::vector<std::size_t>> by_format;
    std::vector<ImageFailure> failed;
    for (std::size_t k = 0; k < jobs.size(); ++k) {
        if (!jobs[k].drawing) {
            by_format[image_extension(jobs[k].target)].push_back(k);
        } else if (std::string problem = make_drawing_image(dvi, jobs[k], tools, confinement, work_folder, options);
                   !problem.empty()) {
            failed.push_back({k, problem});
        }
    }
    for (const auto& [ext, indexes] : by_format) {
        std::vector<std::size_t> pages;
        for (std::size_t k : indexes) pages.push_back(jobs[k].dvi_page);
        const std::string stem = (fs::path(work_folder) / ext).string() + "-";
        ChildCommand command;
        if (ext == "svg") {
            // %1p: the page number without the zeros dvisvgm would pad it with.
            // No special at all: dvisvgm 3.0's list of sets to leave out
            // ("--no-specials=ps,...") leaves PostScript on for some lists.
            command.argv = {tools.dvisvgm, "--no-fonts", "--no-specials", "--page=" + page_ranges(pages),
                            "--output=" + stem + "%1p.svg", dvi};
        } else {
            // dvipng picks pages by their \count0 only, which a formula may
            // set; every page is made, and the wanted ones taken.
            command.argv = {tools.dvipng, "-q", options.postscript ? "--nogssafer0" : "--nogs",
                            "-T", "tight", "-D", std::to_string(options.dpi)};
            if (options.transparent) command.argv.insert(command.argv.end(), {"-bg", "Transparent"});
            if (ext == "gif") command.argv.push_back("--gif");
            command.argv.insert(command.argv.end(), {"-o", stem + "%d." + ext, dvi});
        }
        confine_command(command, confinement);
        ChildLimits limits;
        limits.deadline_seconds = 60 + 0.05 * static_cast<double>(pages.size());
        // dvipng may die (a floating point exception on an odd page) after
        // writing every image it was asked for: the files that exist say
        // what was made, not its exit status.
        const ChildResult result = run_child(command, limits, [](std::string_view) { return OutputVerdict::quiet; });
        if (result.end == ChildEnd::out_of_time) {
            // Killed while writing: the last page it got to may be cut short.
            for (auto k = indexes.rbegin(); k != indexes.rend(); ++k) {
                std::error_code ec;
                if (fs::remove(stem + std::to_string(jobs[*k].dvi_page) + "." + ext, ec)) break;
            }
        }
        for (std::size_t k : indexes) {
            const fs::path made = stem + std::to_string(jobs[k].dvi_page) + "." + ext;
            std::error_code ec;
            if (!fs::is_regular_file(made, ec)) {
                failed.push_back({k, "typeset, but " + fs::path(command.argv[0]).filename().string() +
                                         " made no image of its page"});
            } else {
                const std::string problem =
                    place_image(made, jobs[k].target, ext, fs::path(command.argv[0]).filename().string());
                if (!problem.empty()) failed.push_back({k, problem});
            }
        }
    }
    return failed;
}

}  // namespace kelvarin
