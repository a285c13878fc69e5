// kelvarin: converts LaTeX sources into wiki pages and equation documents.
//
//   kelvarin [--rich] [--stable-names] [--out DIR] [--] [file ...]
//
// Without a file it converts tex/test2.tex and reports on the console; with
// files it converts each and reports in kelvarin.log. Arguments that begin
// with "--" are options, up to an argument "--"; every other argument is an
// input path. The exit status is 0 when every conversion succeeded, 1 when
// any failed (its "  parse failure" line says which), 2 for a usage error.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "cli/batch_log.h"
#include "core/conversion_job.h"

namespace {

const char kUsage[] =
    "usage: kelvarin [--rich] [--stable-names] [--out DIR] [--help] [--version] [--] [file ...]\n";

const char kHelp[] =
    "Converts each LaTeX source (paper.tex) into a wiki page (paper.wiki.txt) and\n"
    "an equation document (paper.eq.tex) beside it; kelvarin-render makes the\n"
    "formula images from the equation document. With files, each result is\n"
    "reported in kelvarin.log; without, tex/test2.tex is converted and the result\n"
    "shown here.\n"
    "\n"
    "  --rich       translate the whole page: emphasis, footnotes, links, labels\n"
    "               and references, theorems, tables, nested lists, every kind of\n"
    "               display math; without it the page follows the fixed line\n"
    "               rules, byte for byte as pages already published were made\n"
    "  --stable-names\n"
    "               name each formula's image from its content (paper.eq-\n"
    "               and the first 10 hex digits of the formula's SHA-256), so\n"
    "               that an edit renames only the images of the formulas it\n"
    "               changes; a source asks for it with the line\n"
    "               %%KELVARIN_EQUATION_NAMES=content before \\begin{document}\n"
    "  --out DIR    write the outputs into DIR (made if missing) instead of beside\n"
    "               each input; the log stays in the working folder\n"
    "  --help       show this text\n"
    "  --version    show the version\n"
    "  --           every argument after it is a file, even one beginning with \"--\"\n"
    "\n"
    "Options take their value as the next argument or after \"=\" (--out=DIR).\n"
    "\n"
    "Exit status: 0 when every conversion succeeded, 1 when any failed (a file\n"
    "that cannot be read, an output that cannot be written: see the log and\n"
    "standard error), 2 for a usage error.\n";

int usage_error(const std::string& message) {
    std::fprintf(stderr, "kelvarin: %s\n", message.c_str());
    std::fputs(kUsage, stderr);
    return 2;
}

// The output folder is made before any conversion, so that a mistyped name
// fails once, at the start, rather than once per input.
bool prepare_out_folder(const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(fs::path(folder), ec);
    if (fs::is_directory(fs::path(folder), ec)) return true;
    std::fprintf(stderr, "kelvarin: --out %s: %s\n", folder.c_str(),
                 ec ? ec.message().c_str() : "is not a folder");
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    kelvarin::ConversionOptions options;
    std::vector<std::string> paths;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (options_done || arg.compare(0, 2, "--") != 0) {
            paths.push_back(arg);
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const bool has_value = equals != std::string::npos;
        if (arg == "--") {
            options_done = true;
        } else if (name == "--out") {
            if (!has_value && i + 1 >= argc) return usage_error("--out needs a folder: --out DIR");
            options.out_folder = has_value ? arg.substr(equals + 1) : argv[++i];
            if (options.out_folder.empty()) return usage_error("--out needs a folder: --out DIR");
        } else if (has_value && (name == "--rich" || name == "--stable-names" || name == "--help" ||
                                 name == "--version")) {
            return usage_error("option '" + name + "' takes no value");
        } else if (arg == "--rich") {
            options.rich = true;
        } else if (arg == "--stable-names") {
            options.stable_names = true;
        } else if (arg == "--help") {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        } else if (arg == "--version") {
            std::fputs("kelvarin " KELVARIN_VERSION "\n", stdout);
            return 0;
        } else {
            return usage_error("unknown option '" + arg + "'");
        }
    }
    if (!options.out_folder.empty() && !prepare_out_folder(options.out_folder)) return 2;
    if (paths.empty()) {
        const bool ok = kelvarin::report_conversion(kelvarin::convert_file("tex/test2.tex", options));
        std::fputs(ok ? "  parse ok\n" : "  parse failure\n", stdout);
        std::fflush(stdout);
        return ok ? 0 : 1;
    }
    return kelvarin::convert_batch(paths, options) ? 0 : 1;
}
