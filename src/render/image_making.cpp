#include "render/image_making.h"

#include <filesystem>
#include <map>
#include <system_error>

#include "render/child_process.h"
#include "render/equation_pages.h"

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

// Moves a made image to its place; copies when that is on another file
// system. Returns "" or why it could not.
std::string move_image(const fs::path& made, const std::string& target) {
    std::error_code ec;
    fs::rename(made, target, ec);
    if (!ec) return "";
    ec.clear();
    fs::copy_file(made, target, fs::copy_options::overwrite_existing, ec);
    return ec ? "cannot write " + target + ": " + ec.message() : "";
}

}  // namespace

std::vector<ImageFailure> make_images(const std::string& dvi, const std::vector<ImageJob>& jobs,
                                     const ImageTools& tools, const PaperConfinement& confinement,
                                     const std::string& work_folder, const RenderOptions& options) {
    std::map<std::string, std::vector<std::size_t>> by_format;
    for (std::size_t k = 0; k < jobs.size(); ++k) by_format[image_extension(jobs[k].target)].push_back(k);

    std::vector<ImageFailure> failed;
    for (const auto& [ext, indexes] : by_format) {
        std::vector<std::size_t> pages;
        for (std::size_t k : indexes) pages.push_back(jobs[k].dvi_page);
        const std::string stem = (fs::path(work_folder) / ext).string() + "-";
        ChildCommand command;
        if (ext == "svg") {
            // %1p: the page number without the zeros dvisvgm would pad it with.
            command.argv = {tools.dvisvgm, "--no-fonts", "--page=" + page_ranges(pages), "--output=" + stem + "%1p.svg",
                            dvi};
        } else {
            // dvipng picks pages by their \count0 only, which a formula may
            // set; every page is made, and the wanted ones taken.
            command.argv = {tools.dvipng, "-q", "-T", "tight", "-D", std::to_string(options.dpi)};
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
                const std::string problem = move_image(made, jobs[k].target);
                if (!problem.empty()) failed.push_back({k, problem});
            }
        }
    }
    return failed;
}

}  // namespace kelvarin
