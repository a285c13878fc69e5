#include "render/figure_images.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "core/equation_format.h"
#include "render/child_process.h"
#include "render/equation_pages.h"
#include "render/image_checks.h"

namespace kelvarin {

namespace {

namespace fs = std::filesystem;
namespace fmt = equation_format;

// A figure tool gets this long; a page of a figure takes well under a second.
constexpr double kFigureSeconds = 60;
// pdftoppm renders no more than this many pixels a side (a page of 5 m at
// 120 dpi would take gigabytes): the image is cut there.
constexpr int kMostPixelsPerSide = 8000;

// How each kind of figure file becomes the image the page names: a PDF or
// EPS drawing converted to PNG, a web image copied as it is.
enum class Converter { pdftoppm, ghostscript, copy, none };

struct ConverterOf {
    std::string_view extension;
    Converter converter;
};

constexpr ConverterOf kConverters[] = {
    {".pdf", Converter::pdftoppm},
    {".eps", Converter::ghostscript},
    {".ps", Converter::ghostscript},
    {".png", Converter::copy},
    {".gif", Converter::copy},
    {".jpg", Converter::copy},
    {".jpeg", Converter::copy},
    {".svg", Converter::copy},
};

struct ToolOf {
    Converter converter;
    std::string_view name;     // for messages
    std::string_view package;  // where it comes from
};

constexpr ToolOf kTools[] = {
    {Converter::pdftoppm, "pdftoppm", "poppler-utils"},
    {Converter::ghostscript, "gs", "ghostscript"},
    {Converter::copy, "cp", "coreutils"},
};

const ToolOf& tool_of(Converter converter) {
    for (const ToolOf& tool : kTools)
        if (tool.converter == converter) return tool;
    return kTools[0];
}

const std::string& tool_path(Converter converter, const FigureJob& job) {
    return converter == Converter::pdftoppm ? job.pdftoppm : converter == Converter::ghostscript ? job.gs : job.cp;
}

// "" when `bytes` are a whole image of type `ext`; a copied SVG file is
// published as it is, so it is held to the formula images' rules.
std::string copied_image_problem(const std::string& bytes, const std::string& ext) {
    if (ext == "jpg" || ext == "jpeg") {
        const bool whole = bytes.size() > 4 && bytes.compare(0, 2, "\xFF\xD8") == 0 &&
                           bytes.find("\xFF\xD9", bytes.size() - std::min<std::size_t>(bytes.size(), 64)) !=
                               std::string::npos;
        return whole ? "" : "not a whole JPEG file";
    }
    return image_problem(bytes, ext);
}

Converter converter_of(const std::string& source) {
    std::string ext = fs::path(source).extension().string();
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    for (const ConverterOf& c : kConverters)
        if (c.extension == ext) return c.converter;
    return Converter::none;
}

std::string read_whole(const std::string& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

bool starts_with(std::string_view text, std::string_view lead) {
    return text.compare(0, lead.size(), lead) == 0;
}

// Why `source` may not be read, or "": outside the paper's folder (unless
// the paper is trusted), or no file at all.
std::string source_problem(const std::string& source, const FigureJob& job) {
    std::error_code ec;
    const fs::path path = fs::path(job.paper_folder) / source;
    if (!job.trust_paper) {
        const fs::path normal = fs::path(source).lexically_normal();
        const bool climbs = normal.is_absolute() || (!normal.empty() && normal.begin()->string() == "..");
        const fs::path real = fs::canonical(path, ec);
        const std::string inside = job.paper_folder == "/" ? "/" : job.paper_folder + "/";
        if (climbs || (!ec && !starts_with(real.string(), inside)))
            return source + " lies outside the paper's folder; not converted (--trust-paper allows it)";
    }
    if (!fs::is_regular_file(path, ec)) return source + " not found";
    return "";
}

// The tool's command that writes `made` from `source`.
ChildCommand command_for(Converter converter, const std::string& source, const std::string& made,
                         const FigureJob& job) {
    // "./" in front, so that a file named like an option stays a file.
    const std::string input = fs::path(source).is_absolute() ? source : "./" + source;
    const std::string dpi = std::to_string(job.options.dpi);
    ChildCommand command;
    if (converter == Converter::pdftoppm) {
        // -singlefile writes <prefix>.png; the crop box is what a viewer shows.
        const std::string limit = std::to_string(kMostPixelsPerSide);
        command.argv = {job.pdftoppm, "-q", "-png", "-singlefile", "-f", "1", "-l", "1", "-cropbox",
                        "-r", dpi, "-x", "0", "-y", "0", "-W", limit, "-H", limit, input,
                        made.substr(0, made.size() - 4)};
    } else if (converter == Converter::copy) {
        command.argv = {job.cp, input, made};
    } else {
        command.argv = {job.gs, "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-dEPSCrop",
                        job.options.transparent ? "-sDEVICE=pngalpha" : "-sDEVICE=png16m",
                        "-r" + dpi, "-dFirstPage=1", "-dLastPage=1", "-sOutputFile=" + made, input};
    }
    confine_command(command, job.confinement);
    return command;
}

// Makes one figure's image; returns "" or why not. `changed` is set when
// the image's bytes are new.
std::string make_one(const FigureFile& figure, std::size_t k, const FigureJob& job, bool& changed) {
    const Converter converter = converter_of(figure.source);
    if (converter == Converter::none) return figure.source + ": only PDF, EPS and web images are made";
    // A copy keeps its type; a conversion makes a PNG image.
    std::string ext = image_extension(figure.image);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    const std::string wanted = converter == Converter::copy ? fs::path(figure.source).extension().string() : ".png";
    if (!is_plain_file_name(figure.image) || "." + ext != wanted)
        return "'" + figure.image + "' is not a plain file name of a " + wanted.substr(1) +
               " image; refusing to write it";
    if (std::string problem = source_problem(figure.source, job); !problem.empty()) return problem;
    // PostScript is a program: Ghostscript's safe mode is all that stands
    // between it and the user's files, unless the kernel confines it too.
    if (converter == Converter::ghostscript && job.confinement.active && !job.confinement.by_kernel)
        return figure.source + ": EPS figures of an untrusted paper go through Ghostscript only under the "
                               "kernel's confinement (Landlock), which this system does not offer; convert it "
                               "yourself or use --trust-paper";
    const std::string tool(tool_of(converter).name);
    if (tool_path(converter, job).empty())
        return figure.source + " needs " + tool + ", which is not on PATH; install " +
               std::string(tool_of(converter).package);

    const std::string made = (fs::path(job.work_folder) / ("figure" + std::to_string(k + 1) + "." + ext)).string();
    const ChildCommand command = command_for(converter, figure.source, made, job);
    ChildLimits limits;
    limits.deadline_seconds = kFigureSeconds;
    std::string output;
    const ChildResult result = run_child(command, limits, [&](std::string_view chunk) {
        if (output.size() < 4096) output.append(chunk.substr(0, 4096 - output.size()));
        return OutputVerdict::quiet;
    });
    if (std::string problem = tool_problem(result, tool, output, kFigureSeconds); !problem.empty())
        return figure.source + ": " + problem;
    std::error_code ec;
    if (!fs::is_regular_file(made, ec)) return figure.source + ": " + tool + " made no image";
    const std::string bytes = read_whole(made);
    if (std::string problem = copied_image_problem(bytes, ext); !problem.empty())
        return figure.source + ": " + problem + " (" + tool + ")";
    const std::string target = (fs::path(job.out_dir) / figure.image).string();
    // The same bytes as the image already there: nothing to replace.
    if (!fs::is_symlink(target, ec) && fs::is_regular_file(target, ec) && read_whole(target) == bytes) return "";
    changed = true;
    return move_image_into_place(made, target, bytes);
}

}  // namespace

bool parse_figure_list(const std::string& bytes, std::vector<FigureFile>& figures, std::string& error) {
    bool after_end = false;
    std::size_t number = 0;
    FigureFile pending;
    bool have_image = false;
    // Whether the lines were read to the end: so too when the line that
    // stopped the reading was the last and had no line end.
    bool read_to_end = true;
    for (std::size_t start = 0; start < bytes.size();) {
        const std::size_t newline = bytes.find('\n', start);
        const std::size_t end = newline == std::string::npos ? bytes.size() : newline;
        std::string_view line(bytes.data() + start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!after_end) {
            after_end = line == fmt::kDocumentEnd;
            continue;
        }
        if (starts_with(line, fmt::kFigureLead)) {
            if (have_image) {
                read_to_end = newline == std::string::npos;
                break;
            }
            pending = {std::string(line.substr(fmt::kFigureLead.size())), "", ""};
            have_image = true;
        } else if (starts_with(line, fmt::kFigureFrom) && have_image) {
            const std::size_t row = line.rfind(fmt::kFigureRow);
            if (row == std::string::npos || row < fmt::kFigureFrom.size() || line.back() != ')') {
                read_to_end = newline == std::string::npos;
                break;
            }
            pending.source = line.substr(fmt::kFigureFrom.size(), row - fmt::kFigureFrom.size());
            pending.position = "figure" + std::string(line.substr(row));
            figures.push_back(std::move(pending));
            have_image = false;
        } else if (starts_with(line, fmt::kFigureFrom) || have_image) {
            read_to_end = newline == std::string::npos;
            break;
        }
        // Anything else after \end{document} is no business of ours.
    }
    if (!have_image && read_to_end) return true;
    error = "line " + std::to_string(number) + ": not a line of the figure list";
    return false;
}

void find_figure_tools(const std::vector<FigureFile>& figures, FigureJob& job) {
    for (const FigureFile& figure : figures) {
        const Converter converter = converter_of(figure.source);
        if (converter == Converter::pdftoppm && job.pdftoppm.empty()) job.pdftoppm = find_command("pdftoppm");
        if (converter == Converter::ghostscript && job.gs.empty()) job.gs = find_command("gs");
        if (converter == Converter::copy && job.cp.empty()) job.cp = find_command("cp");
    }
}

FigureOutcome make_figure_images(const std::vector<FigureFile>& figures, const FigureJob& job) {
    FigureOutcome outcome;
    std::error_code ec;
    fs::create_directories(job.work_folder, ec);
    for (std::size_t k = 0; k < figures.size(); ++k) {
        bool changed = false;
        const std::string problem = make_one(figures[k], k, job, changed);
        if (!problem.empty()) {
            outcome.failures.push_back(figures[k].image + ", " + figures[k].position + ": " + problem);
            continue;
        }
        ++outcome.written;
        if (changed) outcome.changed.push_back(figures[k].image);
    }
    return outcome;
}

}  // namespace kelvarin
