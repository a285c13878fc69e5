// kelvarin-render: turns equation documents into the images their wiki
// pages name.
//
//   kelvarin-render [--dpi N] [--transparent] [--out DIR] [--trust-paper]
//                   [--force] [--prune] [--changed FILE] [-j N] [--] paper.eq.tex ...
//
// Every image is named from its page comment, never from its page number, so
// a formula that fails to typeset, or spills onto a second page, cannot shift
// the names of the others: it is reported, and every other formula is still
// rendered under its own name.
//
// Exit status, per document: 0 when every image was written, 1 when some
// were not, 2 when nothing could be tried (unreadable or refused document,
// missing tools, a preamble that does not typeset); the run's status is the
// highest of its documents', and 2 for bad arguments.
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "render/child_process.h"
#include "render/equation_pages.h"
#include "render/figure_images.h"
#include "render/incremental.h"
#include "render/interruption.h"
#include "render/preamble_format.h"
#include "render/progress.h"
#include "render/render_passes.h"
#include "render/scratch_folder.h"
#include "render/stale_scratch.h"

namespace fs = std::filesystem;
using namespace kelvarin;

namespace {

// About as many formulas as latex typesets in the time it takes to dump a
// preamble with a few packages.
constexpr std::size_t kFormulasOutlastingADump = 1000;

// Work beside the render's own, waited for on every way out of it (an
// exception included), so that no thread outlives what it works on.
struct SideWork {
    std::thread thread;
    ~SideWork() {
        if (thread.joinable()) thread.join();
    }
    void wait() {
        if (thread.joinable()) thread.join();
    }
};

const char* const kUsage =
    "usage: kelvarin-render [--dpi N] [--transparent] [--out DIR] [--trust-paper]\n"
    "                       [--force] [--prune] [--changed FILE] [-j N] [--] paper.eq.tex ...\n";

const char* const kHelp =
    "Makes the formula images that a wiki page written by kelvarin names\n"
    "(paper.eq1.gif, paper.eq2.gif, ...) from its equation document paper.eq.tex,\n"
    "with latex and dvipng (gif, png) or dvisvgm (svg). Each image is named from\n"
    "its page comment, so a formula that fails cannot shift the names of the\n"
    "others; every failure is reported with its source position. latex runs in the\n"
    "document's folder and writes only into a temporary folder. A manifest beside\n"
    "the images (paper.eq.manifest) lets a new run typeset only what changed.\n"
    "The PDF and EPS figures the document lists (paper.fig-decay.png, ...) are made\n"
    "with pdftoppm and Ghostscript, confined as latex is, on every run. A drawing\n"
    "made of PostScript (a png page that is a tikzpicture, tikzcd, circuitikz or\n"
    "pspicture environment) is drawn through dvips and Ghostscript, confined alike.\n"
    "\n"
    "  --dpi N         resolution of gif and png images, 10 to 10000 (default 120)\n"
    "  --transparent   transparent background for gif and png images\n"
    "  --out DIR       write the images into DIR (made if missing) instead of\n"
    "                  beside each document\n"
    "  --trust-paper   for a paper whose author you trust: latex may read any file\n"
    "                  you can, and PostScript in png images is drawn (by\n"
    "                  Ghostscript, in its safe mode)\n"
    "  --force         typeset every formula, whatever the manifest says\n"
    "  --prune         remove the images the document no longer names (only those\n"
    "                  made here and unchanged since)\n"
    "  --changed FILE  write the names of the images new or changed in this run to\n"
    "                  FILE, one per line, for an upload script\n"
    "  -j N, --jobs N  latex runs at once, 1 to 64 (default: the number of cores);\n"
    "                  the images are the same whatever N is\n"
    "  --help          show this text\n"
    "  --version       show the version\n"
    "  --              every argument after it is a document\n"
    "Options take their value as \"--dpi 200\" or \"--dpi=200\".\n"
    "\n"
    "Exit status: 0 every image was written; 1 some formulas failed, or figure\n"
    "images could not be made (each is reported on standard error, the other\n"
    "images were written), or the --changed list could not be written; 2 nothing\n"
    "could be tried for a document (unreadable or refused document, latex, dvipng\n"
    "or dvisvgm missing, a preamble that does not typeset) or bad arguments. With\n"
    "several documents, the highest status of them. See man kelvarin-render.\n";

struct Arguments {
    RenderOptions options;
    std::string out_dir;  // empty: the folder of each document
    std::vector<std::string> documents;
    bool trust_paper = false;
    IncrementalOptions incremental;
    std::size_t latex_runs = 0;  // 0 until parsed: one per core
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

std::size_t jobs_of(const std::string& value) {
    char* end = nullptr;
    const long jobs = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || jobs < 1 || jobs > 64)
        usage("-j takes a whole number from 1 to 64, not '" + value + "'");
    return static_cast<std::size_t>(jobs);
}

// The cores we may run on (a CPU affinity set by taskset or a container
// counts), at least 1.
std::size_t cores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<std::size_t>(CPU_COUNT(&set));
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<std::size_t>(online) : 1;
}

int dpi_of(const std::string& value) {
    char* end = nullptr;
    const long dpi = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || dpi < 10 || dpi > 10000)
        usage("--dpi takes a whole number from 10 to 10000, not '" + value + "'");
    return static_cast<int>(dpi);
}

Arguments parse_arguments(int argc, char** argv) {
    Arguments args;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (options_done || arg.size() < 2 || arg[0] != '-') {
            args.documents.push_back(arg);
            continue;
        }
        // "--opt=value" is "--opt value".
        std::string value;
        bool has_value = false;
        const std::size_t equals = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
            has_value = true;
        }
        auto take_value = [&]() {
            if (has_value) return value;
            if (i + 1 >= argc) usage(arg + " needs a value");
            return std::string(argv[++i]);
        };
        auto no_value = [&]() {
            if (has_value) usage(arg + " takes no value");
        };
        if (arg == "--") {
            no_value();
            options_done = true;
        } else if (arg == "--dpi") {
            args.options.dpi = dpi_of(take_value());
        } else if (arg == "--out") {
            args.out_dir = take_value();
            if (args.out_dir.empty()) usage("--out needs a folder");
        } else if (arg == "--transparent") {
            no_value();
            args.options.transparent = true;
        } else if (arg == "--trust-paper") {
            no_value();
            args.trust_paper = true;
        } else if (arg == "--force") {
            no_value();
            args.incremental.force = true;
        } else if (arg == "--prune") {
            no_value();
            args.incremental.prune = true;
        } else if (arg == "--changed") {
            args.incremental.changed_file = take_value();
            if (args.incremental.changed_file.empty()) usage("--changed needs a file");
        } else if (arg == "-j" || arg == "--jobs") {
            args.latex_runs = jobs_of(take_value());
        } else if (arg.compare(0, 2, "-j") == 0 && arg.size() > 2 && arg[1] != '-') {
            args.latex_runs = jobs_of(arg.substr(2));  // "-j2", as make takes it
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            std::exit(0);
        } else if (arg == "--version") {
            std::fputs("kelvarin-render " KELVARIN_VERSION "\n", stdout);
            std::exit(0);
        } else {
            usage("unknown option '" + std::string(argv[i]) + "'");
        }
    }
    if (args.documents.empty()) usage("no equation document given");
    if (args.latex_runs == 0) args.latex_runs = cores();
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

// Tells what stops a document from being tried; returns 2 for the status.
int cannot(const std::string& message) {
    say(message);
    return 2;
}

// Reads and parses the document and refuses, before anything runs, images
// that cannot be made. Returns "" or what stops the document.
std::string load_document(const std::string& document, const std::string& label, EquationPages& doc,
                          std::set<std::string>& formats, std::vector<FigureFile>& figures) {
    std::ifstream in(document, std::ios::binary);
    if (!in) return "cannot read '" + document + "'";
    // Read once, where the stream's str() made a copy of it for each parser.
    std::string bytes;
    char chunk[1 << 16];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
    std::string error;
    if (!parse_equation_pages(bytes, doc, error)) return document + ": " + error;
    if (!parse_figure_list(bytes, figures, error)) return document + ": " + error;
    for (const FormulaPage& page : doc.pages) {
        const std::string ext = image_extension(page.image_name);
        if (ext != "gif" && ext != "png" && ext != "svg")
            return label + "'" + page.image_name + "': images of type '" + ext +
                   "' cannot be made; use gif, png or svg (%%KELVARIN_EQUATION_TYPE=...)";
        if (!is_plain_file_name(page.image_name))
            return label + "'" + page.image_name + "' is not a plain file name; refusing to write it";
        // A drawing's image is made without dvipng (find_drawing_tools).
        if (!is_postscript_drawing(page)) formats.insert(ext);
    }
    return "";
}

// Finds latex and the image tools the formats need. Returns "" or what is
// missing.
std::string find_tools(const std::set<std::string>& formats, RenderJob& job) {
    std::vector<std::string> tools = {"latex"};
    if (formats.count("gif") || formats.count("png")) tools.push_back("dvipng");
    if (formats.count("svg")) tools.push_back("dvisvgm");
    for (const std::string& tool : tools) {
        const std::string path = find_command(tool);
        if (path.empty())
            return tool + " not found on PATH; install texlive-latex-base, texlive-fonts-recommended, "
                          "dvipng and dvisvgm";
        (tool == "latex" ? job.latex.latex : tool == "dvipng" ? job.tools.dvipng : job.tools.dvisvgm) = path;
    }
    return "";
}

// Finds dvips and gs when the document holds a drawing made of PostScript;
// without them each drawing fails on its own, and the formulas are made.
void find_drawing_tools(const EquationPages& doc, RenderJob& job) {
    if (!std::any_of(doc.pages.begin(), doc.pages.end(), is_postscript_drawing)) return;
    job.tools.dvips = find_command("dvips");
    job.tools.gs = find_command("gs");
}

// The output folder, made if missing, and where latex runs. Returns "" or
// why the images cannot be written.
std::string prepare_output(const Arguments& args, const std::string& document, RenderJob& job) {
    fs::path out_dir = args.out_dir.empty() ? fs::path(document).parent_path() : fs::path(args.out_dir);
    if (out_dir.empty()) out_dir = ".";
    std::error_code ec;
    fs::create_directories(out_dir, ec);
    if (!fs::is_directory(out_dir, ec) || access(out_dir.c_str(), W_OK | X_OK) != 0)
        return "cannot write into '" + out_dir.string() + "'; choose the output folder with --out DIR";
    job.out_dir = out_dir.string();
    // latex runs where the paper is compiled: the equation document's folder.
    job.latex.paper_folder = fs::absolute(document, ec).lexically_normal().parent_path().string();
    job.latex.document = fs::path(document).filename().string();
    job.latex.nonce = make_nonce();
    return "";
}

// Makes the images of the document's figure files, with the tools it
// needs, confined as latex is, in the scratch folder.
FigureOutcome make_figures(const std::vector<FigureFile>& figures, const RenderJob& job) {
    if (figures.empty()) return {};
    FigureJob figure_job;
    find_figure_tools(figures, figure_job);
    figure_job.paper_folder = job.latex.confinement.paper_folder;  // its real path
    figure_job.out_dir = job.out_dir;
    figure_job.work_folder = (fs::path(job.scratch) / "figures").string();
    figure_job.trust_paper = job.latex.trust_paper;
    figure_job.confinement = job.latex.confinement;
    figure_job.options = job.options;
    return make_figure_images(figures, figure_job);
}

// Renders one document; returns its exit status. `label` goes before every
// line said about it when the run has several documents. The images new or
// changed in this run are added to `changed`.
// Chooses what to typeset while the confinement (asking kpsewhich,
// reading the paper's folder) is made beside it, on another core: a render
// of a few changed formulas waits for the longer of the two, not for both.
// An unchanged document typesets nothing and does not use the confinement.
// `confine_error` is "" when it was made.
IncrementalRun plan_beside_confinement(const Arguments& args, const EquationPages& doc, bool has_figures,
                                       const std::string& document, RenderJob& job,
                                       std::vector<std::string>& notes, std::string& confine_error) {
    confine_error = "the tools' confinement could not be made";
    const auto confine = [&] {
        try {
            if (confine_paper(job.latex.paper_folder, job.scratch, job.latex.latex, args.trust_paper,
                              job.latex.confinement, confine_error))
                confine_error.clear();
        } catch (...) {
            // Not made: said by the error as it stands.
        }
    };
    SideWork confining;
    if (!doc.pages.empty() || has_figures) {
        try {
            confining.thread = std::thread(confine);
        } catch (const std::system_error&) {
            confine();  // no thread to be had: now, here
        }
    }
    return plan_incremental(doc, document, job, args.incremental, notes);
}

// A format of the preamble being looked for or dumped beside the render.
struct FormatDump {
    FormatCache cache;
    std::string key;
    SideWork work;
};

// latex starts from the preamble dumped before, when nothing it was made
// from has changed. Otherwise a new one is dumped beside the run, for the
// renders after this one, when they are likely and the dump costs this run
// little: the document was rendered here before (it is being edited), or
// its typesetting outlasts the dump. A small paper rendered once, as in a
// batch, does not wait for a format it will never use.
void start_from_format(const EquationPages& doc, const IncrementalRun& incremental, bool force, RenderJob& job,
                       FormatDump& dump) {
    if (incremental.todo.pages.empty() || document_begin_line(doc) == doc.head.size()) return;
    dump.cache = open_format_cache();
    if (dump.cache.folder.empty()) return;
    dump.key = format_key(doc, job.latex, job.scratch);
    if (!force) job.latex.format = kept_format(dump.cache, dump.key, job.scratch);
    const bool worth_it = incremental.reused > 0 || !incremental.failed_before.empty() ||
                          incremental.todo.pages.size() >= kFormulasOutlastingADump;
    if (!job.latex.format.empty() || !worth_it) return;
    const std::string folder = (std::filesystem::path(job.scratch) / "format").string();
    try {
        dump.work.thread = std::thread([&doc, &job, &dump, folder] {
            try {
                make_format(doc, job.latex, dump.cache, dump.key, folder, job.scratch);
            } catch (...) {
                // No format kept: the next render reads the preamble again.
            }
        });
    } catch (const std::system_error&) {
        // No thread to be had: no format this time.
    }
}

int render_document(const Arguments& args, const std::string& document, const std::string& label,
                    std::vector<std::string>& changed) {
    const auto start = std::chrono::steady_clock::now();
    EquationPages doc;
    std::set<std::string> formats;
    std::vector<FigureFile> figures;
    std::string error = load_document(document, label, doc, formats, figures);
    if (!error.empty()) return cannot(error);
    RenderJob job;
    job.options = args.options;
    job.options.postscript = args.trust_paper;
    job.latex.trust_paper = args.trust_paper;
    job.latex_runs = args.latex_runs;
    // Figures need latex too: its installation is what the confinement lets them read.
    if ((!doc.pages.empty() || !figures.empty()) && !(error = find_tools(formats, job)).empty()) return cannot(error);
    find_drawing_tools(doc, job);
    if (!(error = prepare_output(args, document, job)).empty()) return cannot(error);

    job.scratch = make_scratch_folder(error);
    if (job.scratch.empty()) return cannot(error);
    claim_scratch_folder(job.scratch);
    std::vector<std::string> notes;
    std::string confine_error;
    IncrementalRun incremental = plan_beside_confinement(args, doc, !figures.empty(), document, job, notes,
                                                         confine_error);
    for (const std::string& note : notes) say(label + note);
    if (!incremental.todo.pages.empty() || !figures.empty()) {
        if (!confine_error.empty()) return cannot(confine_error);
        if (!job.latex.confinement.note.empty()) say("note: " + job.latex.confinement.note);
    }
    FormatDump dump;
    start_from_format(doc, incremental, args.incremental.force, job, dump);

    Progress progress = make_progress(incremental.todo.pages.size());
    const RenderOutcome outcome = render_formulas(incremental.todo, job, progress);
    dump.work.wait();
    const FigureOutcome figured = make_figures(figures, job);
    remove_scratch_folders();
    clear_progress(progress);
    honour_stop_request();

    if (!outcome.blocking_problem.empty()) return cannot(document + ": " + outcome.blocking_problem);
    const std::vector<Failure> failures = all_failures(incremental, outcome);
    for (const Failure& f : failures)
        say(label + doc.pages[f.page].image_name + ", " + doc.pages[f.page].position + ": " + f.message);
    for (const std::string& failure : figured.failures) say(label + failure);
    notes.clear();
    finish_incremental(incremental, doc, outcome, document, job, args.incremental, notes);
    changed.insert(changed.end(), incremental.changed.begin(), incremental.changed.end());
    changed.insert(changed.end(), figured.changed.begin(), figured.changed.end());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char summary[200];
    const std::string unchanged =
        incremental.reused == 0 ? "" : ", " + with_commas(incremental.reused) + " unchanged";
    std::snprintf(summary, sizeof summary, "%s of %s images written%s, %s failed, %.1f s",
                  with_commas(outcome.written).c_str(), with_commas(doc.pages.size()).c_str(), unchanged.c_str(),
                  with_commas(failures.size()).c_str(), seconds);
    say(label + summary);
    if (!figures.empty())
        say(label + with_commas(figured.written) + " of " + with_commas(figures.size()) + " figure images made, " +
            with_commas(figured.failures.size()) + " failed");
    for (const std::string& note : notes) say(label + note);
    std::printf("%zu images written to %s\n", outcome.written + figured.written, job.out_dir.c_str());
    std::fflush(stdout);
    honour_stop_request();  // a reader that went away before the report ends us as it would any tool
    return failures.empty() && figured.failures.empty() ? 0 : 1;
}

int render(int argc, char** argv) {
    const Arguments args = parse_arguments(argc, argv);
    catch_stop_signals();
    // What runs killed outright left behind goes before we add our own.
    clear_stale_scratch_folders();
    int status = 0;
    std::vector<std::string> changed;  // of every document, for one upload
    for (const std::string& document : args.documents) {
        const std::string label = args.documents.size() > 1 ? document + ": " : "";
        status = std::max(status, render_document(args, document, label, changed));
    }
    if (!args.incremental.changed_file.empty()) {
        const std::string problem = write_changed_list(args.incremental.changed_file, changed);
        if (!problem.empty()) {
            say("--changed: " + problem);
            status = std::max(status, 1);
        }
    }
    return status;
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
