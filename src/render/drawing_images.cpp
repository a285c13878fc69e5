#include "render/drawing_images.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include "render/child_process.h"
#include "render/image_checks.h"

namespace kelvarin {

namespace {

namespace fs = std::filesystem;

// Each tool gets this long for one drawing; a drawing takes well under a second.
constexpr double kToolSeconds = 60;
// Room around the drawing, in points, for the smoothed pixels of its edges.
constexpr double kMargin = 1;
// The most pixels a side of a drawing's image: a drawing of metres would
// take gigabytes. Such a drawing fails rather than being cut.
constexpr double kMostPixelsPerSide = 8000;
// The measuring page: the drawing is moved this many points right and up
// on a page three times as large, so that what dvips put left of or below
// its own page (a drawing wider than the text, say) is measured too; the
// bbox device counts only what falls on its page.
constexpr double kShift = 5000;
// What Ghostscript's bbox device prints for the page it measured.
constexpr std::string_view kBoxLine = "%%HiResBoundingBox:";

struct Box {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

std::string read_whole(const std::string& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

// "%.3f": Ghostscript reads it whatever our locale would write.
std::string points(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

// Runs a confined tool; returns "" or why it failed, with the end of what it
// said. `said` gets the last of its output (a drawing's PostScript may
// print without end; what matters comes last).
std::string run_tool(ChildCommand command, const PaperConfinement& confinement, std::string& said) {
    const std::string tool = fs::path(command.argv[0]).filename().string();
    confine_command(command, confinement);
    ChildLimits limits;
    limits.deadline_seconds = kToolSeconds;
    said.clear();
    const ChildResult result = run_child(command, limits, [&](std::string_view chunk) {
        said.append(chunk);
        if (said.size() > 16384) said.erase(0, said.size() - 8192);
        return OutputVerdict::quiet;
    });
    return tool_problem(result, tool, said, kToolSeconds);
}

// The box from the bbox device's last "%%HiResBoundingBox: x0 y0 x1 y1".
bool read_box(const std::string& said, Box& box) {
    const std::size_t at = said.rfind(kBoxLine);
    if (at == std::string::npos) return false;
    const char* p = said.c_str() + at + kBoxLine.size();
    double v[4];
    for (double& value : v) {
        char* end = nullptr;
        value = std::strtod(p, &end);
        if (end == p) return false;
        p = end;
    }
    box = {v[0] - kShift, v[1] - kShift, v[2] - kShift, v[3] - kShift};
    return true;
}

// Ghostscript in its safe mode, its output quiet, one page after another.
std::vector<std::string> ghostscript(const ImageTools& tools) {
    return {tools.gs, "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE"};
}

}  // namespace

std::string make_drawing_image(const std::string& dvi, const ImageJob& job, const ImageTools& tools,
                               const PaperConfinement& confinement, const std::string& work_folder,
                               const RenderOptions& options) {
    if (confinement.active && !confinement.by_kernel)
        return "typeset, but a drawing made of PostScript goes through Ghostscript only under the kernel's "
               "confinement (Landlock) for an untrusted paper, which is not in use here; use "
               "--trust-paper for a paper you trust";
    if (tools.dvips.empty() || tools.gs.empty())
        return "typeset, but a drawing made of PostScript needs dvips and gs, which are not both on PATH; "
               "install texlive-binaries and ghostscript";
    // Absolute paths: the tools run in the paper's folder or its view. An
    // output name of dvips's starting with "!" would be a command; this one
    // starts with "/".
    const std::string stem = fs::absolute(fs::path(work_folder) / ("drawing" + std::to_string(job.dvi_page))).string();
    const std::string ps = stem + ".ps", made = stem + ".png";
    const std::string page = "=" + std::to_string(job.dvi_page);
    std::string said;

    // 1. The page alone. An untrusted paper's dvips opens no absolute file
    // name (nor runs a command, which dvips never does for us).
    ChildCommand dvips;
    dvips.argv = {tools.dvips, "-q", confinement.active ? "-R2" : "-R1", "-p", page, "-l", page, "-o", ps, dvi};
    if (std::string problem = run_tool(dvips, confinement, said); !problem.empty()) return "typeset, but " + problem;
    std::error_code ec;
    if (!fs::is_regular_file(ps, ec)) return "typeset, but dvips wrote no PostScript for its page";

    // 2. What it draws, measured on a page large enough to hold it.
    ChildCommand measure;
    measure.argv = ghostscript(tools);
    const std::string side = points(3 * kShift);
    measure.argv.insert(measure.argv.end(),
                        {"-sDEVICE=bbox", "-dDEVICEWIDTHPOINTS=" + side, "-dDEVICEHEIGHTPOINTS=" + side,
                         "-dFIXEDMEDIA", "-c",
                         "<</BeginPage {pop " + points(kShift) + " " + points(kShift) + " translate}>> setpagedevice",
                         "-f", ps});
    if (std::string problem = run_tool(measure, confinement, said); !problem.empty())
        return "typeset, but measuring the drawing: " + problem;
    Box box;
    if (!read_box(said, box)) return "typeset, but Ghostscript did not measure the drawing (gs -sDEVICE=bbox)";
    if (box.x1 <= box.x0 || box.y1 <= box.y0) return "typeset, but the drawing draws nothing";
    box = {box.x0 - kMargin, box.y0 - kMargin, box.x1 + kMargin, box.y1 + kMargin};
    const double width = box.x1 - box.x0, height = box.y1 - box.y0;
    const double most = kMostPixelsPerSide * 72.0 / options.dpi;
    if (width > most || height > most || box.x0 <= -kShift || box.y0 <= -kShift || box.x1 >= 2 * kShift ||
        box.y1 >= 2 * kShift)
        return "typeset, but the drawing is " + points(width) + " by " + points(height) +
               " points, more than " + std::to_string(static_cast<int>(kMostPixelsPerSide)) +
               " pixels a side at " + std::to_string(options.dpi) + " dpi";

    // 3. Drawn on a page of the box's size, moved onto it.
    ChildCommand draw;
    draw.argv = ghostscript(tools);
    draw.argv.insert(draw.argv.end(),
                     {options.transparent ? "-sDEVICE=pngalpha" : "-sDEVICE=png16m", "-r" + std::to_string(options.dpi),
                      "-dTextAlphaBits=4", "-dGraphicsAlphaBits=4", "-dDEVICEWIDTHPOINTS=" + points(width),
                      "-dDEVICEHEIGHTPOINTS=" + points(height), "-dFIXEDMEDIA", "-sOutputFile=" + made, "-c",
                      "<</BeginPage {pop " + points(-box.x0) + " " + points(-box.y0) + " translate}>> setpagedevice",
                      "-f", ps});
    if (std::string problem = run_tool(draw, confinement, said); !problem.empty()) return "typeset, but " + problem;
    if (!fs::is_regular_file(made, ec)) return "typeset, but gs made no image of the drawing";
    const std::string bytes = read_whole(made);
    if (std::string problem = image_problem(bytes, "png"); !problem.empty())
        return "typeset, but " + problem + " (gs)";
    return move_image_into_place(made, job.target, bytes);
}

}  // namespace kelvarin
