// kelvarin-render: turns an equation document into the images its wiki page
// names.
//
//   kelvarin-render [--dpi N] [--transparent] [--out DIR] paper.eq.tex
//
// Every image is named from its page comment, never from its page number, so
// a formula that fails to typeset, or spills onto a second page, cannot shift
// the names of the others: it is reported, and every other formula is still
// rendered under its own name.
//
// Exit status: 0 when every image was written, 1 when some were not, 2 when
// nothing could be tried (bad arguments, unreadable or refused document,
// missing tools).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "render/equation_pages.h"
#include "render/typesetting.h"

namespace fs = std::filesystem;
using namespace kelvarin;

namespace {

// Above this many formulas the stages are announced on standard error.
constexpr std::size_t kProgressThreshold = 100;

struct Arguments {
    RenderOptions options;
    std::string out_dir;   // empty: the folder of the document
    std::string document;
};

void say(const std::string& message) {
    std::fputs(("kelvarin-render: " + message + "\n").c_str(), stderr);
    std::fflush(stderr);
}

[[noreturn]] void usage(const std::string& problem) {
    say(problem);
    std::fputs("usage: kelvarin-render [--dpi N] [--transparent] [--out DIR] paper.eq.tex\n", stderr);
    std::exit(2);
}

Arguments parse_arguments(int argc, char** argv) {
    Arguments args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--dpi" && i + 1 < argc) {
            const std::string value = argv[++i];
            char* end = nullptr;
            const long dpi = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || dpi < 10 || dpi > 10000)
                usage("--dpi takes a whole number from 10 to 10000, not '" + value + "'");
            args.options.dpi = static_cast<int>(dpi);
        } else if (arg == "--transparent") {
            args.options.transparent = true;
        } else if (arg == "--out" && i + 1 < argc) {
            args.out_dir = argv[++i];
        } else if (arg == "--help" || arg == "-h") {
            std::fputs("usage: kelvarin-render [--dpi N] [--transparent] [--out DIR] paper.eq.tex\n", stdout);
            std::exit(0);
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            usage("unknown or incomplete option '" + arg + "'");
        } else if (args.document.empty()) {
            args.document = arg;
        } else {
            usage("one equation document at a time");
        }
    }
    if (args.document.empty()) usage("no equation document given");
    return args;
}

// A fresh folder for latex's files, removed at the end.
fs::path make_scratch() {
    std::random_device seed;
    std::mt19937_64 gen(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path dir = fs::temp_directory_path() / ("kelvarin-render-" + std::to_string(gen()));
        std::error_code ec;
        if (fs::create_directory(dir, ec)) return dir;
    }
    say("cannot create a scratch folder in " + fs::temp_directory_path().string());
    std::exit(2);
}

struct Failure {
    std::size_t page;
    std::string message;
};

// Finds the pages among `group` that do not typeset on their own, by
// halving: a group that typesets with one DVI page per formula is sound.
void find_failures(const EquationPages& doc, const std::vector<std::size_t>& group,
                   const std::string& scratch, std::vector<Failure>& failures, std::size_t& checked) {
    if (group.empty()) return;
    const TypesetResult result = typeset_pages(doc, group, scratch, "check");
    if (result.ok) {
        checked += group.size();
        if (doc.pages.size() >= kProgressThreshold)
            say("checked " + std::to_string(checked) + " of " + std::to_string(doc.pages.size()) + " formulas");
        return;
    }
    if (group.size() == 1) {
        failures.push_back({group[0], result.message});
        ++checked;
        return;
    }
    const auto middle = group.begin() + static_cast<long>(group.size() / 2);
    find_failures(doc, std::vector<std::size_t>(group.begin(), middle), scratch, failures, checked);
    find_failures(doc, std::vector<std::size_t>(middle, group.end()), scratch, failures, checked);
}

}  // namespace

int main(int argc, char** argv) {
    const Arguments args = parse_arguments(argc, argv);

    std::ifstream in(args.document, std::ios::binary);
    if (!in) {
        say("cannot read '" + args.document + "'");
        return 2;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    EquationPages doc;
    std::string error;
    if (!parse_equation_pages(bytes.str(), doc, error)) {
        say(args.document + ": " + error);
        return 2;
    }

    // Refuse what cannot be made before anything runs.
    std::set<std::string> formats;
    for (const FormulaPage& page : doc.pages) {
        const std::string ext = image_extension(page.image_name);
        if (ext != "gif" && ext != "png" && ext != "svg") {
            say("'" + page.image_name + "': images of type '" + ext +
                "' cannot be made; use gif, png or svg (%%KELVARIN_EQUATION_TYPE=...)");
            return 2;
        }
        if (!is_plain_file_name(page.image_name)) {
            say("'" + page.image_name + "' is not a plain file name; refusing to write it");
            return 2;
        }
        formats.insert(ext);
    }
    std::vector<std::string> tools = {"latex"};
    if (formats.count("gif") || formats.count("png")) tools.push_back("dvipng");
    if (formats.count("svg")) tools.push_back("dvisvgm");
    if (!doc.pages.empty()) {
        for (const std::string& tool : tools) {
            if (!have_command(tool)) {
                say(tool + " not found; install texlive-latex-base, texlive-fonts-recommended, dvipng and dvisvgm");
                return 2;
            }
        }
    }

    fs::path out_dir = args.out_dir.empty() ? fs::path(args.document).parent_path() : fs::path(args.out_dir);
    if (out_dir.empty()) out_dir = ".";
    std::error_code ec;
    fs::create_directories(out_dir, ec);
    if (!fs::is_directory(out_dir, ec)) {
        say("cannot use '" + out_dir.string() + "' as the output folder");
        return 2;
    }

    const fs::path scratch = make_scratch();
    const std::size_t n = doc.pages.size();
    std::vector<std::size_t> all(n);
    for (std::size_t i = 0; i < n; ++i) all[i] = i;

    // Typeset everything at once; only when that fails, find the culprits.
    std::vector<Failure> failures;
    std::vector<std::size_t> good = all;
    if (n >= kProgressThreshold) say("typesetting " + std::to_string(n) + " formulas");
    if (n > 0 && !typeset_pages(doc, all, scratch.string(), "all").ok) {
        std::size_t checked = 0;
        find_failures(doc, all, scratch.string(), failures, checked);
        std::set<std::size_t> bad;
        for (const Failure& f : failures) bad.insert(f.page);
        good.clear();
        for (std::size_t i : all)
            if (!bad.count(i)) good.push_back(i);
        // Formulas that fail only in company are typeset one by one below.
        if (!good.empty() && !typeset_pages(doc, good, scratch.string(), "all").ok) good.clear();
        if (good.empty() && failures.size() < n) {
            for (std::size_t i : all) {
                if (bad.count(i)) continue;
                const TypesetResult alone = typeset_pages(doc, {i}, scratch.string(), "one");
                if (!alone.ok) {
                    failures.push_back({i, alone.message});
                    continue;
                }
                const fs::path target = out_dir / doc.pages[i].image_name;
                if (!render_dvi(scratch.string(), "one", {target.string()}, args.options).empty())
                    failures.push_back({i, "the image could not be made from the typeset page"});
            }
        }
    }

    if (!good.empty()) {
        if (n >= kProgressThreshold) say("rendering " + std::to_string(good.size()) + " images");
        std::vector<std::string> targets;
        for (std::size_t i : good) targets.push_back((out_dir / doc.pages[i].image_name).string());
        for (std::size_t k : render_dvi(scratch.string(), "all", targets, args.options))
            failures.push_back({good[k], "the image could not be made from the typeset page"});
    }
    const std::size_t written = n - failures.size();
    fs::remove_all(scratch, ec);

    std::sort(failures.begin(), failures.end(),
              [](const Failure& a, const Failure& b) { return a.page < b.page; });
    for (const Failure& f : failures)
        say(doc.pages[f.page].image_name + ", " + doc.pages[f.page].position + ": " + f.message);
    std::printf("%zu images written to %s\n", written, out_dir.string().c_str());
    return failures.empty() ? 0 : 1;
}
