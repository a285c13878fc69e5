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

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "support/harness.h"
#include "support/tex_check.h"

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
                             "--version", "--dpi=200", "Exit status: 0", "1 some formulas failed", "2 nothing"})
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
    EXPECT_EQ(files_in(box.path("b")), (std::vector<std::string>{"paper.eq1.png", "paper.eq3.png", "two.eq.tex"}));
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
