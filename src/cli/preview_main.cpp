// kelvarin-preview: shows a wiki page before it is published, and checks it.
//
//   kelvarin-preview paper.wiki.txt
//
// writes paper.preview.html beside the page: one self-contained HTML file
// that shows the page as the wiki shows it, with the images of its folder,
// and at its top (collapsed) what the check found. The same list goes to
// standard error, one "file:line: kind: what" a line, and then a summary.
//
// Exit status: 0 when the check found nothing, 1 when it found something, 2
// when no preview could be made (bad arguments, a page that cannot be read,
// a preview that cannot be written).
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "preview/html_writer.h"
#include "preview/preview.h"

namespace {

const char* const kUsage = "usage: kelvarin-preview paper.wiki.txt\n";

const char* const kHelp =
    "usage: kelvarin-preview paper.wiki.txt\n"
    "\n"
    "Writes paper.preview.html beside the page: the page as the wiki shows it,\n"
    "with the images of its folder, and at its top what the check found:\n"
    "images missing on disk or not named, figures that are no web images,\n"
    "?? references, links to missing anchors, LaTeX left in the text,\n"
    "emphasis without its pair, and lines the wiki reads differently than\n"
    "meant. The same list goes to standard error.\n"
    "\n"
    "Exit status: 0 nothing found, 1 something found, 2 no preview made.\n"
    "\n"
    "  --help      this text\n"
    "  --version   the version\n"
    "  --          what follows is the page, even if it starts with --\n";

void say(const std::string& message) { std::fputs(("kelvarin-preview: " + message + "\n").c_str(), stderr); }

[[noreturn]] void usage(const std::string& problem) {
    say(problem);
    std::fputs(kUsage, stderr);
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> pages;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (options && arg == "--") {
            options = false;
        } else if (options && (arg == "--help" || arg == "-h")) {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (options && arg == "--version") {
            std::fputs("kelvarin-preview " KELVARIN_VERSION "\n", stdout);
            return 0;
        } else if (options && arg.size() > 1 && arg[0] == '-') {
            usage("unknown option " + arg);
        } else {
            pages.push_back(arg);
        }
    }
    if (pages.empty()) usage("no page given");
    if (pages.size() > 1) usage("one page at a time, not " + std::to_string(pages.size()));
    const std::string& page = pages[0];
    if (page.empty()) usage("the page's name is empty");
    // The LaTeX source, or the equation document, given for the page by
    // mistake would make a preview full of LaTeX: say which file to give.
    const std::string tex = ".tex";
    if (page.size() > tex.size() && page.compare(page.size() - tex.size(), tex.size(), tex) == 0) {
        std::string stem = page.substr(0, page.size() - tex.size());
        const std::string eq = ".eq";
        if (stem.size() > eq.size() && stem.compare(stem.size() - eq.size(), eq.size(), eq) == 0)
            stem.resize(stem.size() - eq.size());
        say(page + " is a LaTeX file; give the page kelvarin wrote from it: kelvarin-preview " + stem + ".wiki.txt");
        return 2;
    }

    std::vector<kelvarin::preview::Finding> findings;
    try {
        findings = kelvarin::preview::preview_file(page);
    } catch (const std::exception& e) {
        struct stat st;
        const std::string page_file = page + ".wiki.txt";
        const bool meant = stat(page.c_str(), &st) != 0 && stat(page_file.c_str(), &st) == 0;
        say(std::string(e.what()) + (meant ? " (the page is " + page_file + ")" : ""));
        return 2;
    }
    std::string report;
    for (const auto& f : findings)
        report += page + (f.line > 0 ? ":" + std::to_string(f.line) : "") + ": " + f.kind + ": " + f.message + "\n";
    const std::string out = kelvarin::preview::preview_path_for(page);
    const std::size_t n = findings.size();
    report += "kelvarin-preview: " +
              (n == 0 ? std::string("nothing found")
                      : std::to_string(n) + (n == 1 ? " finding (" : " findings (") +
                            kelvarin::preview::kinds_counted(findings) + ")") +
              "; preview written to " + out + "\n";
    std::fputs(report.c_str(), stderr);
    return n == 0 ? 0 : 1;
}
