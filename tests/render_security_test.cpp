// kelvarin-render against papers written to attack it, and the command line
// people expect: no command a paper holds runs, no script reaches a
// published SVG, no file outside the outputs changes (links at image names
// included), an old good image survives a failed write, no formula holds
// latex for more than about a second, no image takes another formula's
// name, and no tool or scratch folder outlives a stopped or killed run.
// Every attack was first seen to succeed on the renderer before these
// defences; the tests run it with real TeX.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sched.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "support/harness.h"
#include "support/tex_check.h"
#include "render/image_checks.h"

using namespace kelvarin_test;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

RunResult render(const std::string& dir, const std::vector<std::string>& args) {
    return run_program(KELVARIN_RENDER_BIN, dir, args);
}

// The page comment of formula `number` of paper.tex, of image type `type`.
std::string comment(std::size_t number, const std::string& type = "gif") {
    const std::string row = std::to_string(number + 10);
    return "% paper.eq" + std::to_string(number) + "." + type + " - block (row : " + row + " - " + row + ")";
}

// An equation document of these formulas, one page each, named paper.eqN.TYPE.
std::string document_of(const std::vector<std::string>& formulas, const std::string& type = "gif",
                        const std::vector<std::string>& preamble = {"\\documentclass[12pt]{article}"}) {
    std::vector<std::string> pages;
    for (std::size_t i = 0; i < formulas.size(); ++i) pages.insert(pages.end(), {comment(i + 1, type), formulas[i]});
    return equation_document(preamble, pages);
}

std::vector<std::string> files_in(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The processes (not zombies) whose working folder is `dir` or below it:
// the renderer, its watchdogs and the tools, which all run there.
std::vector<pid_t> processes_in(const std::string& dir) {
    std::vector<pid_t> found;
    const std::string real = fs::canonical(dir).string();
    DIR* proc = opendir("/proc");
    while (dirent* entry = proc ? readdir(proc) : nullptr) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
        const std::string base = std::string("/proc/") + entry->d_name;
        std::error_code ec;
        const std::string cwd = fs::read_symlink(base + "/cwd", ec).string();
        if (ec || cwd.compare(0, real.size(), real) != 0) continue;
        const std::string stat = read_file(base + "/stat");
        const std::size_t paren = stat.rfind(')');
        if (paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'Z') continue;
        found.push_back(static_cast<pid_t>(std::stol(entry->d_name)));
    }
    if (proc) closedir(proc);
    return found;
}

// Waits up to `seconds` for `done` to hold.
template <typename Condition>
bool eventually(Condition done, double seconds = 10) {
    const auto until = Clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (Clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Starts kelvarin-render in `dir` with TMPDIR `tmp`, its output thrown away.
pid_t start_render(const std::string& dir, const std::string& tmp, const std::vector<std::string>& args) {
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("TMPDIR", tmp.c_str(), 1);
        if (chdir(dir.c_str()) != 0) _exit(127);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char*> argv{const_cast<char*>(KELVARIN_RENDER_BIN)};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(KELVARIN_RENDER_BIN, argv.data());
        _exit(127);
    }
    return pid;
}

// A preamble latex works on, silently, for several seconds.
const std::vector<std::string> kSlowPreamble = {
    "\\documentclass[12pt]{article}",
    "\\count255=0 \\loop\\advance\\count255 1 \\ifnum\\count255<30000000 \\repeat"};

// Starts a render of a slow document and waits until latex is at work.
pid_t start_slow_render(const Sandbox& box) {
    fs::create_directory(box.path("tmp"));
    write_file(box.path("paper.eq.tex"), document_of({"a"}, "gif", kSlowPreamble));
    const pid_t pid = start_render(box.dir, box.path("tmp"), {"paper.eq.tex"});
    EXPECT_TRUE(eventually([&] {
        for (const std::string& scratch : files_in(box.path("tmp")))
            if (file_exists(box.path("tmp/" + scratch + "/run1/kelvarin-formulas.log"))) return true;
        return false;
    }));
    return pid;
}

}  // namespace

// --- Stop signals and SIGKILL ---------------------------------------------

TEST(RenderStops, SigquitEndsTheRunLikeTheOtherStopSignals) {
    REQUIRE_TEX();
    Sandbox box;
    const pid_t pid = start_slow_render(box);
    kill(pid, SIGQUIT);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGQUIT) << status;
    EXPECT_TRUE(eventually([&] { return processes_in(box.dir).empty(); })) << "a tool outlived the run";
    EXPECT_TRUE(files_in(box.path("tmp")).empty());
    EXPECT_EQ(files_in(box.dir), (std::vector<std::string>{"paper.eq.tex", "tmp"})) << "a core file?";
}

TEST(RenderStops, SigtermDuringParallelRunsLeavesNoToolAndNoScratchFolder) {
    REQUIRE_TEX();
    Sandbox box;
    fs::create_directory(box.path("tmp"));
    std::vector<std::string> formulas;
    for (int i = 0; i < 500; ++i) formulas.push_back("x_{" + std::to_string(i) + "}");
    write_file(box.path("paper.eq.tex"), document_of(formulas, "gif", kSlowPreamble));
    const pid_t pid = start_render(box.dir, box.path("tmp"), {"-j", "2", "paper.eq.tex"});
    // Both latex runs at work.
    EXPECT_TRUE(eventually([&] {
        for (const std::string& scratch : files_in(box.path("tmp")))
            if (file_exists(box.path("tmp/" + scratch + "/group1/run1/kelvarin-formulas.log")) &&
                file_exists(box.path("tmp/" + scratch + "/group2/run1/kelvarin-formulas.log")))
                return true;
        return false;
    }));
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_TRUE(eventually([&] { return processes_in(box.dir).empty(); })) << "a tool outlived the run";
    EXPECT_TRUE(files_in(box.path("tmp")).empty());
}

TEST(RenderStops, SigkillTakesTheToolsAlongAndLeavesNoScratchFolder) {
    REQUIRE_TEX();
    Sandbox box;
    const pid_t pid = start_slow_render(box);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    // latex dies with its parent; the watchdog kills what is left of its
    // group and removes the scratch folder.
    EXPECT_TRUE(eventually([&] { return processes_in(box.dir).empty(); })) << "latex outlived a killed run";
    EXPECT_TRUE(eventually([&] { return files_in(box.path("tmp")).empty(); }));
}

TEST(RenderStops, ScratchFoldersOfDeadRunsAreClearedAtStart) {
    REQUIRE_TEX();
    Sandbox box;
    fs::create_directory(box.path("tmp"));
    // A dead run's folder: its lock file is there, and no one holds it.
    fs::create_directories(box.path("tmp/kelvarin-render-dead01/run1"));
    write_file(box.path("tmp/kelvarin-render-dead01/.owner"), "");
    write_file(box.path("tmp/kelvarin-render-dead01/run1/kelvarin-formulas.dvi"), "x");
    // A live run's folder, locked as a run locks it.
    fs::create_directories(box.path("tmp/kelvarin-render-live01"));
    const int lock = open(box.path("tmp/kelvarin-render-live01/.owner").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
    // A folder without a lock file, made a moment ago: maybe a run that has
    // not taken its lock yet.
    fs::create_directories(box.path("tmp/kelvarin-render-young1"));
    // Not ours to judge.
    fs::create_directories(box.path("tmp/kelvarin-other-dead01"));
    write_file(box.path("paper.eq.tex"), document_of({"a"}));
    const pid_t pid = start_render(box.dir, box.path("tmp"), {"paper.eq.tex"});
    int status = 0;
    waitpid(pid, &status, 0);
    close(lock);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(files_in(box.path("tmp")),
              (std::vector<std::string>{"kelvarin-other-dead01", "kelvarin-render-live01", "kelvarin-render-young1"}));
}

// --- The command line -------------------------------------------------------

TEST(RenderCommandLine, HelpSummarisesOptionsAndExitStatuses) {
    Sandbox box;
    const RunResult r = render(box.dir, {"--help"});
    EXPECT_EQ(r.exit_status, 0);
    for (const char* part : {"usage: kelvarin-render", "--dpi N", "--transparent", "--out DIR", "--trust-paper",
                             "--force", "--prune", "--changed FILE", "-j N", "--version", "--dpi=200", "Exit status: 0", "1 some formulas failed", "2 nothing"})
        EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
    EXPECT_EQ(r.err, "");
}

TEST(RenderCommandLine, VersionIsTheOneBothManPagesGive) {
    Sandbox box;
    const RunResult r = render(box.dir, {"--version"});
    EXPECT_EQ(r.exit_status, 0);
    const std::regex version_line("kelvarin-render ([0-9.]+)\n");
    std::smatch version;
    ASSERT_TRUE(std::regex_match(r.out, version, version_line)) << r.out;
    for (const char* page : {"kelvarin.1", "kelvarin-render.1"}) {
        const std::string text = read_file(std::string(KELVARIN_SOURCE_DIR) + "/man/" + page);
        EXPECT_NE(text.substr(0, text.find('\n')).find("\"kelvarin " + version[1].str() + "\""), std::string::npos)
            << page;
    }
    const RunResult converter = run_program(KELVARIN_BIN, box.dir, {"--version"});
    EXPECT_EQ(converter.out, "kelvarin " + version[1].str() + "\n");
}

TEST(RenderCommandLine, BadOptionsAreUsageErrors) {
    Sandbox box;
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"--dpi", "x", "a.eq.tex"},
                                               {"--dpi=", "a.eq.tex"},
                                               {"--dpi"},
                                               {"--out=", "a.eq.tex"},
                                               {"--transparent=yes", "a.eq.tex"},
                                               {"--force=yes", "a.eq.tex"},
                                               {"--changed", "", "a.eq.tex"},
                                               {"-j", "0", "a.eq.tex"},
                                               {"-j65", "a.eq.tex"},
                                               {"--jobs=two", "a.eq.tex"},
                                               {"--nosuch", "a.eq.tex"},
                                               {"-x", "a.eq.tex"}}) {
        const RunResult r = render(box.dir, args);
        EXPECT_EQ(r.exit_status, 2) << (args.empty() ? "" : args[0]);
        EXPECT_NE(r.err.find("usage: kelvarin-render"), std::string::npos) << r.err;
    }
}

TEST(RenderCommandLine, OptionValuesAfterAnEqualsSignAndSeveralDocuments) {
    REQUIRE_TEX();
    Sandbox box;
    fs::create_directories(box.path("a"));
    fs::create_directories(box.path("b"));
    write_file(box.path("a/one.eq.tex"), document_of({"x^2"}, "png"));
    write_file(box.path("b/two.eq.tex"), document_of({"y_1", "\\frac{", "z"}, "png"));
    RunResult r = render(box.dir, {"--dpi=300", "a/one.eq.tex", "b/two.eq.tex"});
    EXPECT_EQ(r.exit_status, 1) << r.err;
    EXPECT_EQ(r.out, "1 images written to a\n2 images written to b\n");
    EXPECT_NE(r.err.find("kelvarin-render: b/two.eq.tex: paper.eq2.png, block (row : 12 - 12): "), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("kelvarin-render: a/one.eq.tex: 1 of 1 images written, 0 failed"), std::string::npos)
        << r.err;
    EXPECT_EQ(files_in(box.path("b")),
              (std::vector<std::string>{"paper.eq1.png", "paper.eq3.png", "two.eq.manifest", "two.eq.tex"}));
    // "--dpi=300" is "--dpi 300", "--out=DIR" is "--out DIR".
    const std::string at_300 = read_file(box.path("a/paper.eq1.png"));
    r = render(box.dir, {"--dpi", "300", "--out=c", "--", "a/one.eq.tex"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(read_file(box.path("c/paper.eq1.png")), at_300);
    // A document that cannot be tried does not stop the others; the worst
    // status is the run's.
    r = render(box.dir, {"missing.eq.tex", "--out", "d", "a/one.eq.tex"});
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_EQ(r.out, "1 images written to d\n");
    EXPECT_NE(r.err.find("cannot read 'missing.eq.tex'"), std::string::npos) << r.err;
}

// --- Specials: commands, files and script through the image tools -----------

namespace {

// A \special the formula makes with "%" in it (which a formula line cannot
// hold as it is).
std::string special(const std::string& text) {
    return "\\mbox{\\edef\\p{\\csname @percentchar\\endcsname}\\special{" + text + "}}";
}

// Whether any written SVG file holds script, an event handler or a link.
std::string script_in_svgs(const std::string& dir) {
    std::string found;
    for (const std::string& name : files_in(dir)) {
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".svg") != 0) continue;
        std::string text = read_file(dir + "/" + name);
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (const char* bad : {"script", "onload", "onclick", "href='j", "href=\"j", "<a "})
            if (text.find(bad) != std::string::npos) found += name + ": " + bad + "\n";
    }
    return found;
}

}  // namespace

TEST(RenderAttacks, PostScriptInAnSvgFormulaRunsNoCommandAndTouchesNoFile) {
    REQUIRE_TEX();
    Sandbox box;
    fs::create_directory(box.path("paper"));
    write_file(box.path("victim.txt"), "precious\n");
    const std::string pwned = box.path("pwned");
    write_file(box.path("paper/paper.eq.tex"),
               document_of({"E=" + special("ps: (\\p pipe\\p id > " + pwned + "1) (w) file closefile") + "mc^2",
                            "a" + special("\" (" + pwned + "2) (w) file closefile"),
                            "b" + special("! (" + pwned + "3) (w) file closefile"),
                            "c" + special("ps: (" + box.path("victim.txt") + ") deletefile"),
                            "d" + special("ps: (/etc/passwd) run")},
                           "svg"));
    const RunResult r = render(box.path("paper"), {"paper.eq.tex"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, "5 images written to .\n");
    for (const char* n : {"1", "2", "3"}) EXPECT_FALSE(file_exists(pwned + n)) << "a paper ran a command";
    EXPECT_EQ(read_file(box.path("victim.txt")), "precious\n");
    EXPECT_EQ(read_file(box.path("paper/paper.eq5.svg")).find("root:"), std::string::npos);
    EXPECT_EQ(files_in(box.dir), (std::vector<std::string>{"paper", "victim.txt"}));
}

// Shell escape stays off whatever texmf.cnf says, trusted paper or not: the
// restricted list of commands (kpsewhich, bibtex, ...) included.
TEST(RenderAttacks, ShellEscapeRunsNoCommandTrustedOrNot) {
    REQUIRE_TEX();
    Sandbox box;
    fs::create_directory(box.path("paper"));
    const std::string pwned = box.path("pwned");
    write_file(box.path("paper/paper.eq.tex"),
               document_of({"a\\immediate\\write18{touch " + pwned + "1}",
                            "b\\immediate\\write18{kpsewhich --var-value=TEXMFVAR > " + pwned + "2}"}));
    const RunResult r = render(box.path("paper"), {"paper.eq.tex"});
    const RunResult trusted = render(box.path("paper"), {"--trust-paper", "--out", "trusted", "paper.eq.tex"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(trusted.exit_status, 0) << trusted.err;
    for (const char* n : {"1", "2"}) EXPECT_FALSE(file_exists(pwned + n)) << "a paper ran a command";
}

TEST(RenderAttacks, RawSvgAndLinksOfAFormulaNeverReachThePublishedSvg) {
    REQUIRE_TEX();
    Sandbox box;
    write_file(box.path("paper.eq.tex"),
               document_of({"a\\special{dvisvgm:raw <script>alert(1)</script>}",
                            "b\\special{html:<a href=\"javascript:alert(2)\">}x\\special{html:</a>}",
                            "c\\special{dvisvgm:raw <g onload=\"alert(3)\"/>}",
                            "d\\special{dvisvgm:rawdef <script>alert(4)</script>}",
                            "e\\special{pdf:ann << /A << /S /JavaScript /JS (alert(5)) >> >>}",
                            "f\\special{dvisvgm:img 10 10 /etc/passwd}", "g"},
                           "svg"));
    const RunResult r = render(box.dir, {"paper.eq.tex"});
    EXPECT_EQ(script_in_svgs(box.dir), "");
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, "7 images written to .\n");
    EXPECT_NE(read_file(box.path("paper.eq7.svg")).find("<svg"), std::string::npos);
}

TEST(RenderAttacks, DvipngRunsGhostscriptOnlyForATrustedPaperAndThenInItsSafeMode) {
    REQUIRE_TEX();
    const std::string gs = on_path("gs");
    if (gs.empty()) GTEST_SKIP() << "Ghostscript not installed";
    Sandbox box;
    // A gs first on PATH that notes how dvipng calls it.
    fs::create_directory(box.path("bin"));
    write_file(box.path("bin/gs"), "#!/bin/sh\necho \"$@\" >> " + box.path("gs-calls") + "\nexec " + gs + " \"$@\"\n");
    fs::permissions(box.path("bin/gs"), fs::perms::owner_all);
    fs::create_directory(box.path("paper"));
    const std::string pwned = box.path("pwned");
    write_file(box.path("paper/paper.eq.tex"),
               document_of({"E=" + special("ps: (\\p pipe\\p id > " + pwned + ") (w) file closefile") + "mc^2",
                            "x + \\rotatebox{45}{y}"},
                           "png", {"\\documentclass[12pt]{article}", "\\usepackage{graphicx}"}));
    const std::string path = std::getenv("PATH");
    setenv("PATH", (box.path("bin") + ":" + path).c_str(), 1);
    const RunResult untrusted = render(box.path("paper"), {"paper.eq.tex"});
    const bool called_untrusted = file_exists(box.path("gs-calls"));
    const RunResult trusted = render(box.path("paper"), {"--trust-paper", "paper.eq.tex"});
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(untrusted.exit_status, 0) << untrusted.err;
    EXPECT_FALSE(called_untrusted) << "Ghostscript ran for an untrusted paper";
    EXPECT_EQ(trusted.exit_status, 0) << trusted.err;
    // If a dvipng update stopped calling gs from PATH, this says so: the
    // check of its arguments below would check nothing.
    const std::string calls = read_file(box.path("gs-calls"));
    ASSERT_FALSE(calls.empty()) << "dvipng no longer runs gs from PATH for PostScript: check how it runs it now";
    for (std::size_t at = 0, end; (end = calls.find('\n', at)) != std::string::npos; at = end + 1)
        EXPECT_NE(calls.substr(at, end - at).find("-dSAFER"), std::string::npos) << calls;
    EXPECT_FALSE(file_exists(pwned)) << "a paper ran a command";
}

// The SVG check itself, on the forms script takes that dvisvgm, with its
// specials off, does not write today: it is what stands should a later
// dvisvgm let one through.
TEST(SvgCheck, ScriptHandlersAndLinksOutAreFoundHoweverWritten) {
    using kelvarin::svg_problem;
    const std::string head = "<?xml version='1.0' encoding='UTF-8'?>\n<!-- This file was generated by dvisvgm 3.0.3 -->\n"
                             "<svg version='1.1' xmlns='http://www.w3.org/2000/svg' "
                             "xmlns:xlink='http://www.w3.org/1999/xlink' width='5pt' height='5pt'>\n"
                             "<defs>\n<path id='g2-99' d='M4.1-1.2C3.5-.5 3.0-.2Z'/>\n</defs>\n<g id='page1'>\n"
                             "<use x='230.4' y='92.1' xlink:href='#g2-99'/>\n<rect x='1' y='2' fill='#fff'/>\n";
    const std::string tail = "</g>\n</svg>\n";
    EXPECT_EQ(svg_problem(head + tail), "");
    for (const std::string& bad : std::vector<std::string>{
             "<script>alert(1)</script>", "<SCRIPT>alert(1)</SCRIPT>", "<svg:script>alert(1)</svg:script>",
             "<g onload='alert(1)'/>", "<g\nONCLICK = \"alert(1)\"/>", "<a xlink:href='javascript:alert(1)'/>",
             "<a href='&#106;avascript:alert(1)'/>", "<a href='&#x6A;ava&#x09;script:alert(1)'/>",
             "<a href=' java\tscript:alert(1)'/>", "<a href='https://example.org/'/>",
             "<image href='data:text/html,x'/>", "<use xlink:href='other.svg#x'/>",
             "<foreignObject><div/></foreignObject>", "<set attributeName='href' to='x'/>",
             "<animate attributeName='href' values='x'/>", "<style>@import url(x)</style>",
             "<!DOCTYPE svg [<!ENTITY x 'y'>]>", "<![CDATA[ x ]]>", "<g id='x", "<g id=x/>", "<iframe src='#'/>"})
        EXPECT_NE(svg_problem(head + bad + tail), "") << bad;
}

TEST(SvgCheck, CutShortImagesAreNotWhole) {
    using kelvarin::image_problem;
    Sandbox box;
    // Whole images as the tools write them, then every shorter cut.
    write_file(box.path("paper.eq.tex"), document_of({"\\sum_{k=1}^n k^2"}, "gif"));
    if (!have_tex()) GTEST_SKIP() << KELVARIN_TEX_MISSING;
    ASSERT_EQ(render(box.dir, {"paper.eq.tex"}).exit_status, 0);
    write_file(box.path("paper.eq.tex"), document_of({"\\sum_{k=1}^n k^2"}, "png"));
    ASSERT_EQ(render(box.dir, {"paper.eq.tex"}).exit_status, 0);
    write_file(box.path("paper.eq.tex"), document_of({"\\sum_{k=1}^n k^2"}, "svg"));
    ASSERT_EQ(render(box.dir, {"paper.eq.tex"}).exit_status, 0);
    for (const char* ext : {"gif", "png", "svg"}) {
        const std::string whole = read_file(box.path("paper.eq1." + std::string(ext)));
        EXPECT_EQ(image_problem(whole, ext), "") << ext;
        for (std::size_t cut = 0; cut < whole.size() - (ext == std::string("svg") ? 2 : 0); ++cut)
            EXPECT_NE(image_problem(std::string_view(whole).substr(0, cut), ext), "") << ext << " cut at " << cut;
    }
}

// --- Images written through links, and on a full disk ------------------------

namespace {

// A small tmpfs mounted at `dir` in a mount namespace of this test's own,
// unmounted at the end. Needs the right to mount (root); `ready` says
// whether it is there.
struct SmallDisk {
    SmallDisk(const std::string& where, const std::string& size) : dir(where) {
        fs::create_directories(dir);
        ready = unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                mount("tmpfs", dir.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
    }
    ~SmallDisk() {
        if (ready) umount2(dir.c_str(), MNT_DETACH);
    }
    // Fills the disk to the last byte.
    void fill() const {
        const int fd = open((dir + "/filler").c_str(), O_WRONLY | O_CREAT, 0600);
        const std::string block(4096, 'x');
        while (write(fd, block.data(), block.size()) > 0) {
        }
        while (write(fd, block.data(), 1) > 0) {
        }
        close(fd);
    }
    std::string dir;
    bool ready = false;
};

#define REQUIRE_SMALL_DISK(disk) \
    if (!(disk).ready) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): " << std::strerror(errno)

// Every file under `dir` with its size and a hash of its bytes: what a run
// must leave alone.
std::map<std::string, std::string> contents_of(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        std::error_code ec;
        const std::string name = entry.path().filename().string();
        if (entry.is_symlink(ec)) {
            files[name] = "-> " + fs::read_symlink(entry.path()).string();
        } else if (entry.is_regular_file(ec)) {
            const std::string bytes = read_file(entry.path().string());
            files[name] = std::to_string(bytes.size()) + " bytes, hash " + std::to_string(std::hash<std::string>()(bytes));
        }
    }
    return files;
}

const std::vector<std::string> kFormulas = {"a^2 + b^2 = c^2", "\\sum_{k=1}^n k = \\frac{n(n+1)}{2}", "x"};

}  // namespace

TEST(RenderImages, ALinkAtAnImageNameIsReplacedNeverWrittenThrough) {
    REQUIRE_TEX();
    Sandbox box;
    fs::create_directories(box.path("paper"));
    fs::create_directories(box.path("tmp"));
    write_file(box.path("victim"), "precious\n");
    write_file(box.path("paper/paper.eq.tex"), document_of(kFormulas));
    fs::create_symlink("../victim", box.path("paper/paper.eq1.gif"));
    // The tools write where TMPDIR says: on the same file system as the
    // images here, on another below (where a rename cannot move the file).
    SmallDisk other(box.path("paper/other"), "4m");
    for (const std::string& out : {std::string("."), std::string("other")}) {
        if (out == "other") {
            if (!other.ready) continue;
            fs::create_symlink("../../victim", box.path("paper/other/paper.eq1.gif"));
        }
        setenv("TMPDIR", box.path("tmp").c_str(), 1);
        const RunResult r = render(box.path("paper"), {"--out", out, "paper.eq.tex"});
        unsetenv("TMPDIR");
        EXPECT_EQ(r.exit_status, 0) << out << ": " << r.err;
        EXPECT_EQ(read_file(box.path("victim")), "precious\n") << out << ": written through the link";
        EXPECT_FALSE(fs::is_symlink(box.path("paper/" + out + "/paper.eq1.gif"))) << out;
        EXPECT_EQ(read_file(box.path("paper/" + out + "/paper.eq1.gif")).substr(0, 3), "GIF") << out;
        // The images, the manifest and (in ".") the document and the folder.
        EXPECT_EQ(files_in(box.path("paper/" + out)).size(), out == "." ? 6u : 4u) << "a file left beside them?";
    }
    if (!other.ready) GTEST_SKIP() << "the case of another file system needs a tmpfs (root)";
}

TEST(RenderImages, OnAFullDiskTheOldImagesSurviveWhole) {
    REQUIRE_TEX();
    Sandbox box;
    fs::create_directories(box.path("tmp"));
    SmallDisk disk(box.path("disk"), "1m");
    REQUIRE_SMALL_DISK(disk);
    write_file(box.path("disk/paper.eq.tex"), document_of(kFormulas));
    setenv("TMPDIR", box.path("tmp").c_str(), 1);
    RunResult r = render(box.path("disk"), {"paper.eq.tex"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    // Now the document asks for far larger images, and the disk is full.
    disk.fill();
    const auto before = contents_of(box.path("disk"));
    r = render(box.path("disk"), {"--dpi", "1200", "paper.eq.tex"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.err.find("cannot write ./paper.eq2.gif: No space left on device (an image already there is kept)"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(contents_of(box.path("disk")), before) << "an old image was cut short, or a piece left beside it";
    // The tools themselves on the full disk: they cannot write, and nothing
    // changes either.
    setenv("TMPDIR", box.path("disk").c_str(), 1);
    r = render(box.path("disk"), {"--dpi", "1200", "paper.eq.tex"});
    unsetenv("TMPDIR");
    EXPECT_NE(r.exit_status, 0);
    EXPECT_EQ(contents_of(box.path("disk")), before) << r.err;
}

// --- Formulas that loop, ship pages behind the markers' back, or never end a line

namespace {

// The gif a formula gives as the only page of a document.
std::string gif_alone(const std::string& formula) {
    Sandbox alone;
    write_file(alone.path("paper.eq.tex"), document_of({formula}));
    render(alone.dir, {"paper.eq.tex"});
    return read_file(alone.path("paper.eq1.gif"));
}

// The line of standard error about image `name`.
std::string report_of(const std::string& err, const std::string& name) {
    const std::size_t at = err.find("kelvarin-render: " + name + ", ");
    return at == std::string::npos ? "" : err.substr(at, err.find('\n', at) - at);
}

}  // namespace

TEST(RenderLoops, EachLoopingFormulaCostsAboutASecondWhateverItPrintsOrShips) {
    REQUIRE_TEX();
    Sandbox box;
    const std::vector<std::string> formulas = {
        "a",
        "\\loop\\shipout\\hbox{x}\\iftrue\\repeat",                         // ships pages
        "b",
        "\\loop\\message{x}\\iftrue\\repeat",                               // prints
        "c",
        "\\loop\\csname tex_shipout:D\\endcsname\\hbox{x}\\iftrue\\repeat",  // ships, unseen by the markers
        "d",
        "\\def\\x{\\x}\\x",                                                  // silent
        "e"};
    write_file(box.path("paper.eq.tex"), document_of(formulas));
    const auto start = Clock::now();
    const RunResult r = render(box.dir, {"paper.eq.tex"});
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out, "5 images written to .\n");
    EXPECT_NE(report_of(r.err, "paper.eq2.gif").find("did not finish: it shipped more than 4 pages"),
              std::string::npos)
        << r.err;
    for (const char* image : {"paper.eq4.gif", "paper.eq6.gif", "paper.eq8.gif"})
        EXPECT_NE(report_of(r.err, image).find("did not finish"), std::string::npos) << image << "\n" << r.err;
    // Before, the first three took a run's deadline each (10 s and more).
    EXPECT_LT(seconds, 12) << r.err;
    EXPECT_EQ(read_file(box.path("paper.eq9.gif")), gif_alone("e"));
}

TEST(RenderLoops, OneFormulaShippingPagesForEverAmongTwoHundredCostsItAloneAboutASecond) {
    REQUIRE_TEX();
    Sandbox box;
    std::vector<std::string> formulas;
    for (int i = 1; i <= 201; ++i) formulas.push_back(i == 101 ? "\\loop\\shipout\\hbox{x}\\iftrue\\repeat"
                                                               : "x_{" + std::to_string(i) + "}");
    write_file(box.path("paper.eq.tex"), document_of(formulas));
    const auto start = Clock::now();
    const RunResult r = render(box.dir, {"paper.eq.tex"});
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out, "200 images written to .\n");
    EXPECT_NE(report_of(r.err, "paper.eq101.gif").find("did not finish: it shipped more than 4 pages"),
              std::string::npos)
        << r.err;
    // Before, the loop held latex for the whole run's deadline (20 s here).
    EXPECT_LT(seconds, 15) << r.err;
    EXPECT_EQ(read_file(box.path("paper.eq201.gif")), gif_alone("x_{201}"));
}

TEST(RenderNames, AFormulaShippingUnderAnotherNameCannotShiftTheNamesAfterIt) {
    REQUIRE_TEX();
    Sandbox box;
    write_file(box.path("paper.eq.tex"),
               document_of({"a", "b\\csname tex_shipout:D\\endcsname\\hbox{X}", "c", "\\global\\count9=0 d", "e"}));
    const RunResult r = render(box.dir, {"paper.eq.tex"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out, "3 images written to .\n");
    EXPECT_NE(report_of(r.err, "paper.eq2.gif").find("typeset onto 2 pages"), std::string::npos) << r.err;
    EXPECT_NE(report_of(r.err, "paper.eq4.gif").find("does not carry its mark"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(box.path("paper.eq1.gif")), gif_alone("a"));
    EXPECT_EQ(read_file(box.path("paper.eq3.gif")), gif_alone("c"));
    EXPECT_EQ(read_file(box.path("paper.eq5.gif")), gif_alone("e"));
}

TEST(RenderLoops, AFiftyMegabyteLineGetsLatexsOwnMessage) {
    REQUIRE_TEX();
    Sandbox box;
    std::string huge = "x";
    huge.reserve(50u << 20);
    while (huge.size() < (50u << 20)) huge += "+x";
    write_file(box.path("paper.eq.tex"), document_of({"a", huge, "b"}));
    const RunResult r = render(box.dir, {"paper.eq.tex"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out, "2 images written to .\n");
    EXPECT_NE(report_of(r.err, "paper.eq2.gif").find(": Unable to read an entire line"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(box.path("paper.eq3.gif")), gif_alone("b"));
}
