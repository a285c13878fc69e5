// kelvarin-render: turns an equation document into the images its wiki page
// names.
//
//   kelvarin-render [--dpi N] [--transparent] [--out DIR] [--trust-paper] paper.eq.tex
//
// Every image is named from its page comment, never from its page number, so
// a formula that fails to typeset, or spills onto a second page, cannot shift
// the names of the others: it is reported, and every other formula is still
// rendered under its own name.
//
// Exit status: 0 when every image was written, 1 when some were not, 2 when
// nothing could be tried (bad arguments, unreadable or refused document,
// missing tools, a preamble that does not typeset).
#include <unistd.h>

#include <chrono>
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

#include "render/child_process.h"
#include "render/equation_pages.h"
#include "render/interruption.h"
#include "render/progress.h"
#include "render/render_passes.h"
#include "render/scratch_folder.h"

namespace fs = std::filesystem;
using namespace kelvarin;

namespace {

const char* const kUsage =
    "usage: kelvarin-render [--dpi N] [--transparent] [--out DIR] [--trust-paper] paper.eq.tex\n";

struct Arguments {
    RenderOptions options;
    std::string out_dir;  // empty: the folder of the document
    std::string document;
    bool trust_paper = false;
};

void say(const std::string& message) {
    std::fputs(("kelvarin-render: " + message + "\n").c_str(), stderr);
    std::fflush(stderr);
}

[[noreturn]] void usage(const std::string& problem) {
    say(problem);
    std::fputs(kUsage, stderr);
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
        } else if (arg == "--trust-paper") {
            args.trust_paper = true;
        } else if (arg == "--out" && i + 1 < argc) {
            args.out_dir = argv[++i];
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
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

// Eight letters and digits no source can know in advance.
std::string make_nonce() {
    static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937_64 gen(seed());
    std::string nonce;
    for (int i = 0; i < 8; ++i) nonce += kAlphabet[gen() % (sizeof kAlphabet - 1)];
    return nonce;
}

int render(int argc, char** argv) {
    const auto start = std::chrono::steady_clock::now();
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
    RenderJob job;
    job.options = args.options;
    job.latex.trust_paper = args.trust_paper;
    if (!doc.pages.empty()) {
        auto need = [](const std::string& tool) {
            const std::string path = find_command(tool);
            if (path.empty()) {
                say(tool + " not found on PATH; install texlive-latex-base, texlive-fonts-recommended, "
                           "dvipng and dvisvgm");
                std::exit(2);
            }
            return path;
        };
        job.latex.latex = need("latex");
        if (formats.count("gif") || formats.count("png")) job.tools.dvipng = need("dvipng");
        if (formats.count("svg")) job.tools.dvisvgm = need("dvisvgm");
    }

    fs::path out_dir = args.out_dir.empty() ? fs::path(args.document).parent_path() : fs::path(args.out_dir);
    if (out_dir.empty()) out_dir = ".";
    std::error_code ec;
    fs::create_directories(out_dir, ec);
    if (!fs::is_directory(out_dir, ec) || access(out_dir.c_str(), W_OK | X_OK) != 0) {
        say("cannot write into '" + out_dir.string() + "'; choose the output folder with --out DIR");
        return 2;
    }
    job.out_dir = out_dir.string();
    // latex runs where the paper is compiled: the equation document's folder.
    job.latex.paper_folder = fs::absolute(args.document, ec).lexically_normal().parent_path().string();
    job.latex.document = fs::path(args.document).filename().string();
    job.latex.nonce = make_nonce();

    catch_stop_signals();
    job.scratch = make_scratch_folder(error);
    if (job.scratch.empty()) {
        say(error);
        return 2;
    }
    if (!doc.pages.empty()) {
        if (!confine_paper(job.latex.paper_folder, job.scratch, job.latex.latex, args.trust_paper,
                           job.latex.confinement, error)) {
            say(error);
            return 2;
        }
        if (!job.latex.confinement.note.empty()) say("note: " + job.latex.confinement.note);
    }

    Progress progress = make_progress(doc.pages.size());
    const RenderOutcome outcome = render_formulas(doc, job, progress);
    remove_scratch_folders();
    clear_progress(progress);
    honour_stop_request();

    if (!outcome.blocking_problem.empty()) {
        say(args.document + ": " + outcome.blocking_problem);
        return 2;
    }
    for (const Failure& f : outcome.failures)
        say(doc.pages[f.page].image_name + ", " + doc.pages[f.page].position + ": " + f.message);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char summary[160];
    std::snprintf(summary, sizeof summary, "%s of %s images written, %s failed, %.1f s",
                  with_commas(outcome.written).c_str(), with_commas(doc.pages.size()).c_str(),
                  with_commas(outcome.failures.size()).c_str(), seconds);
    say(summary);
    std::printf("%zu images written to %s\n", outcome.written, out_dir.string().c_str());
    std::fflush(stdout);
    honour_stop_request();  // a reader that went away before the report ends us as it would any tool
    return outcome.failures.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Whatever goes wrong, return through exit, which removes the scratch
    // folder.
    try {
        return render(argc, argv);
    } catch (const std::exception& e) {
        say(std::string("stopped: ") + e.what());
        return 2;
    }
}
