#include "render/typesetting.h"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>

namespace kelvarin {

namespace fs = std::filesystem;

namespace {

// A formula that makes latex loop must not hang the whole run.
constexpr int kLatexSeconds = 120;

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream buf;
    buf << in.rdbuf();
    return buf.str();
}

// Runs a shell command; returns its exit status, or -1 when it did not exit.
int run(const std::string& command) {
    const int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// "Output written on x.dvi (12 pages, 3456 bytes)." or "No pages of output."
std::int64_t pages_written(const std::string& log) {
    const std::size_t at = log.find("Output written on ");
    if (at == std::string::npos) return 0;
    const std::size_t open = log.find(" (", at);
    if (open == std::string::npos) return 0;
    return std::strtoll(log.c_str() + open + 2, nullptr, 10);
}

// The first error latex reports: the text of its first "! " line.
std::string first_error(const std::string& log) {
    std::size_t at = log.find("\n! ");
    if (at == std::string::npos) return "";
    at += 3;
    std::string message = log.substr(at, log.find('\n', at) - at);
    while (!message.empty() && (message.back() == ' ' || message.back() == '.')) message.pop_back();
    return message;
}

}  // namespace

std::string shell_quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

bool have_command(const std::string& name) {
    return run("command -v " + shell_quote(name) + " >/dev/null 2>&1") == 0;
}

TypesetResult typeset_pages(const EquationPages& doc, const std::vector<std::size_t>& chosen,
                            const std::string& scratch, const std::string& job) {
    {
        std::ofstream tex(fs::path(scratch) / (job + ".tex"), std::ios::binary | std::ios::trunc);
        for (const std::string& line : doc.head) tex << line << '\n';
        for (std::size_t index : chosen)
            for (const std::string& line : doc.pages[index].lines) tex << line << '\n';
        tex << "\\end{document}\n";
    }
    std::error_code ec;
    fs::remove(fs::path(scratch) / (job + ".dvi"), ec);
    // Shell escape stays off: the formulas come from sources the user may
    // not have written.
    const int status = run("cd " + shell_quote(scratch) + " && timeout " + std::to_string(kLatexSeconds) +
                           " latex -interaction=nonstopmode -halt-on-error -no-shell-escape " +
                           shell_quote(job + ".tex") + " </dev/null >/dev/null 2>&1");
    const std::string log = read_all(fs::path(scratch) / (job + ".log"));
    TypesetResult result;
    result.dvi_pages = pages_written(log);
    if (status == 124) {
        result.message = "latex did not finish within " + std::to_string(kLatexSeconds) + " s";
    } else if (status != 0) {
        result.message = first_error(log);
        if (result.message.empty()) result.message = "latex failed (exit status " + std::to_string(status) + ")";
    } else if (result.dvi_pages != static_cast<std::int64_t>(chosen.size())) {
        result.message = "typeset onto " + std::to_string(result.dvi_pages) + " pages instead of " +
                         std::to_string(chosen.size());
    } else {
        result.ok = true;
    }
    return result;
}

std::vector<std::size_t> render_dvi(const std::string& scratch, const std::string& job,
                                    const std::vector<std::string>& targets,
                                    const RenderOptions& options) {
    // Pages by format, so that each tool runs once per format.
    std::map<std::string, std::vector<std::size_t>> by_format;
    for (std::size_t k = 0; k < targets.size(); ++k)
        by_format[image_extension(targets[k])].push_back(k);

    std::vector<std::size_t> failed;
    const std::string dvi = shell_quote(job + ".dvi");
    for (const auto& [ext, indexes] : by_format) {
        std::string pages;
        for (std::size_t k : indexes) pages += (pages.empty() ? "" : ",") + std::to_string(k + 1);
        std::string command = "cd " + shell_quote(scratch) + " && ";
        if (ext == "svg") {
            command += "dvisvgm --no-fonts --page=" + pages + " --output=img%p.svg " + dvi;
        } else {
            command += "dvipng -q -T tight -D " + std::to_string(options.dpi) +
                       (options.transparent ? " -bg Transparent" : "") + (ext == "gif" ? " --gif" : "") +
                       " -pp " + pages + " -o img%d." + ext + " " + dvi;
        }
        run(command + " </dev/null >/dev/null 2>&1");
        for (std::size_t k : indexes) {
            const fs::path made = fs::path(scratch) / ("img" + std::to_string(k + 1) + "." + ext);
            std::error_code ec;
            if (!fs::exists(made, ec)) {
                failed.push_back(k);
                continue;
            }
            fs::rename(made, targets[k], ec);
            if (ec) {  // another file system: copy instead
                ec.clear();
                fs::copy_file(made, targets[k], fs::copy_options::overwrite_existing, ec);
                if (ec) failed.push_back(k);
            }
        }
    }
    return failed;
}

}  // namespace kelvarin
