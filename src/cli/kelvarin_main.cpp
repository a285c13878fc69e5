// kelvarin: converts LaTeX sources into wiki pages and equation documents.
//
//   kelvarin [--rich] [--] [file ...]
//
// Without a file it converts tex/test2.tex and reports on the console; with
// files it converts each and reports in kelvarin.log. Arguments that begin
// with "--" are options, up to an argument "--"; every other argument is an
// input path. The exit status is 0 whatever the conversions gave (results
// are reported, not signalled), and 2 for an unknown option.
#include <cstdio>
#include <string>
#include <vector>

#include "core/conversion_job.h"
#include "cli/batch_log.h"

namespace {

const char kUsage[] = "usage: kelvarin [--rich] [--help] [--version] [--] [file ...]\n";

const char kHelp[] =
    "Converts each LaTeX source (paper.tex) into a wiki page (paper.wiki.txt) and\n"
    "an equation document (paper.eq.tex) beside it; kelvarin-render makes the\n"
    "formula images from the equation document. With files, each result is\n"
    "reported in kelvarin.log; without, tex/test2.tex is converted and the result\n"
    "shown here. The exit status is 0 either way.\n"
    "\n"
    "  --rich     translate the whole page: emphasis, footnotes, links, labels and\n"
    "             references, theorems, tables, nested lists, every kind of display\n"
    "             math; without it the page follows the fixed line rules, byte for\n"
    "             byte as pages already published were made\n"
    "  --help     show this text\n"
    "  --version  show the version\n"
    "  --         every argument after it is a file, even one beginning with \"--\"\n";

}  // namespace

int main(int argc, char** argv) {
    kelvarin::ConversionOptions options;
    std::vector<std::string> paths;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (options_done || arg.compare(0, 2, "--") != 0) {
            paths.push_back(arg);
        } else if (arg == "--") {
            options_done = true;
        } else if (arg == "--rich") {
            options.rich = true;
        } else if (arg == "--help") {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        } else if (arg == "--version") {
            std::fputs("kelvarin " KELVARIN_VERSION "\n", stdout);
            return 0;
        } else {
            std::fprintf(stderr, "kelvarin: unknown option '%s'\n", arg.c_str());
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (paths.empty()) {
        const bool ok = kelvarin::convert_file("tex/test2.tex", options);
        std::fputs(ok ? "  parse ok\n" : "  parse failure\n", stdout);
        std::fflush(stdout);
        return 0;
    }
    kelvarin::convert_batch(paths, options);
    return 0;
}
