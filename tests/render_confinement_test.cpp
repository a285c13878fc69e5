// kelvarin-render confines the tools it runs on an untrusted paper's files to
// files whose real path lies in the paper's folder or the TeX installation,
// whatever name leads to them: links out of the folder (to files, folders,
// other links, with names made to hide), a link changed while latex runs,
// "~", "~user" and "$VAR" in file names, pictures named in DVI specials; and
// fonts a paper makes from its own METAFONT sources go into a cache of its
// own run. Each attack is tried with real TeX, both where the kernel
// confines (Landlock) and with the view of the paper's folder that stands in
// for it elsewhere: the secret never appears in an image, a message or a
// file left behind, and the refusal names the formula, the link and where it
// leads. --trust-paper lifts it all. Skipped, with a message, where TeX is
// not installed.
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "render/landlock.h"
#include "support/harness.h"
#include "support/tex_check.h"

using namespace kelvarin_test;
namespace fs = std::filesystem;

namespace {


// The two ways kelvarin-render confines the tools: the kernel's, where it
// offers Landlock, and the view of the paper's folder that stands in for it.
enum class Way { kernel, view };

bool kernel_confines() {
    std::string why;
    const int ruleset = kelvarin::make_landlock_ruleset({}, {}, why);
    if (ruleset < 0) return false;
    close(ruleset);
    return true;
}

std::vector<Way> ways() {
    if (kernel_confines()) return {Way::kernel, Way::view};
    std::cerr << "[ note ] the kernel offers no Landlock: only the view is tried\n";
    return {Way::view};
}

const char* name_of(Way way) { return way == Way::kernel ? "kernel" : "view"; }

// Sets an environment variable for the scope, as it was afterwards.
struct ScopedVariable {
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() {
        if (had_) setenv(name_, old_.c_str(), 1);
        else unsetenv(name_);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;
    const char* name_;
    bool had_ = false;
    std::string old_;
};

RunResult render(Way way, const std::string& dir, const std::vector<std::string>& args) {
    ScopedVariable choice("KELVARIN_RENDER_LANDLOCK", way == Way::kernel ? "on" : "off");
    return run_program(KELVARIN_RENDER_BIN, dir, args);
}

std::string block_comment(std::size_t number) {
    const std::string row = std::to_string(number);
    return "% paper.eq" + std::to_string(number) + ".gif - block (row : " + row + " - " + row + ")";
}

// The equation document of these formulas, one page each, numbered from 1.
std::string document_of(const std::vector<std::string>& formulas,
                        const std::vector<std::string>& preamble = {"\\documentclass[12pt]{article}"}) {
    std::vector<std::string> pages;
    for (std::size_t i = 0; i < formulas.size(); ++i) pages.insert(pages.end(), {block_comment(i + 1), formulas[i]});
    return equation_document(preamble, pages);
}

// The gif of a formula as the only one of a trusted paper: what an image
// must be when nothing outside was read, or what it is when the secret was.
std::string gif_alone(const std::string& formula,
                      const std::vector<std::string>& preamble = {"\\documentclass[12pt]{article}"}) {
    Sandbox alone;
    write_file(alone.path("paper.eq.tex"), document_of({formula}, preamble));
    run_program(KELVARIN_RENDER_BIN, alone.dir, {"--trust-paper", "paper.eq.tex"});
    return read_file(alone.path("paper.eq1.gif"));
}

// The line kelvarin-render wrote about image `number`, or "".
std::string report_of(const RunResult& r, std::size_t number) {
    const std::string lead = "paper.eq" + std::to_string(number) + ".gif, ";
    const std::size_t at = r.err.find(lead);
    return at == std::string::npos ? "" : r.err.substr(at, r.err.find('\n', at) - at);
}

// Regular files below `dir` that hold `word`, but for those named in `sources`.
std::vector<std::string> files_holding(const std::string& dir, const std::string& word,
                                       const std::vector<std::string>& sources) {
    std::vector<std::string> found;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_symlink(ec) || !it->is_regular_file(ec)) continue;
        const std::string path = it->path().string();
        if (std::find(sources.begin(), sources.end(), path) != sources.end()) continue;
        if (read_file(path).find(word) != std::string::npos) found.push_back(path);
    }
    return found;
}

const std::string kSecret = "KVSECRETWORD";

}  // namespace

TEST(RenderConfinement, LinkOutOfThePaperFolderIsRefusedNamedAndLiftedByTrust) {
    REQUIRE_TEX();
    for (Way way : ways()) {
        SCOPED_TRACE(name_of(way));
        Sandbox box;
        fs::create_directory(box.path("paper"));
        write_file(box.path("secret.txt"), kSecret + "\n");
        fs::create_symlink(box.path("secret.txt"), box.path("paper/leak.tex"));
        write_file(box.path("paper/paper.eq.tex"), document_of({"\\input{leak}", "a+b"}));
        RunResult r = render(way, box.path("paper"), {"paper.eq.tex"});
        EXPECT_EQ(r.exit_status, 1) << r.err;
        EXPECT_EQ(r.out, "1 images written to .\n");
        EXPECT_NE(report_of(r, 1).find("paper.eq1.gif, block (row : 1 - 1): latex may not read 'leak.tex': it is a "
                                       "link to " + box.path("secret.txt") + ", outside the paper's folder"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(report_of(r, 1).find("kelvarin-render --trust-paper lifts this"), std::string::npos) << r.err;
        EXPECT_FALSE(file_exists(box.path("paper/paper.eq1.gif")));
        EXPECT_EQ(r.err.find(kSecret), std::string::npos) << r.err;
        EXPECT_EQ(files_holding(box.dir, kSecret, {box.path("secret.txt")}), std::vector<std::string>{});

        // Trusted, the paper reads through its link: the image is the secret.
        r = render(way, box.path("paper"), {"--trust-paper", "paper.eq.tex"});
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_TRUE(read_file(box.path("paper/paper.eq1.gif")) == gif_alone(kSecret));
    }
}

TEST(RenderConfinement, LinksToFoldersLinksToLinksAndNamesMadeToHideAreRefusedAndNamed) {
    REQUIRE_TEX();
    const std::string hidden = "l\xc3\xa9" "ak\xe2\x80\x8b";  // "léak" and a zero-width space
    const std::string longname(200, 'x');
    for (Way way : ways()) {
        SCOPED_TRACE(name_of(way));
        Sandbox box;
        fs::create_directories(box.path("outside"));
        fs::create_directories(box.path("paper/sub"));
        write_file(box.path("outside/s.tex"), kSecret + "\n");
        write_file(box.path("secret.txt"), kSecret + "\n");
        fs::create_directory_symlink("../outside", box.path("paper/figs"));
        fs::create_symlink(box.path("secret.txt"), box.path("paper/deep.tex"));
        fs::create_symlink("deep.tex", box.path("paper/chain.tex"));
        fs::create_symlink(box.path("secret.txt"), box.path("paper/" + hidden + ".tex"));
        fs::create_symlink(box.path("secret.txt"), box.path("paper/" + longname + ".tex"));
        fs::create_symlink("nowhere.tex", box.path("paper/dangling.tex"));
        // A folder inside the paper's that holds a link out.
        fs::create_symlink(box.path("secret.txt"), box.path("paper/sub/inner.tex"));
        write_file(box.path("paper/paper.eq.tex"),
                   document_of({"\\input{figs/s}", "\\input{chain}", "\\input{" + hidden + "}",
                                "\\input{" + longname + "}", "\\input{dangling}", "\\input{sub/inner}", "a+b"}));
        const RunResult r = render(way, box.path("paper"), {"paper.eq.tex"});
        EXPECT_EQ(r.exit_status, 1) << r.err;
        EXPECT_EQ(r.out, "1 images written to .\n");
        const std::string out = "outside the paper's folder";
        const std::vector<std::string> expected = {
            "latex may not read 'figs/s.tex': 'figs' is a link to ../outside, which leads to " +
                box.path("outside") + ", " + out,
            "latex may not read 'chain.tex': it is a link to deep.tex, which leads to " + box.path("secret.txt") +
                ", " + out,
            "latex may not read 'l\xc3\xa9" "ak<U+200B>.tex': it is a link to " + box.path("secret.txt") + ", " + out,
            "latex may not read '" + longname + ".tex': it is a link to " + box.path("secret.txt") + ", " + out,
            "latex may not read 'dangling.tex': it is a link that leads nowhere",
            "latex may not read 'sub/inner.tex': it is a link to " + box.path("secret.txt") + ", " + out,
        };
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_NE(report_of(r, i + 1).find(expected[i]), std::string::npos) << i + 1 << "\n" << r.err;
            EXPECT_NE(report_of(r, i + 1).find("--trust-paper lifts this"), std::string::npos) << i + 1;
        }
        EXPECT_EQ(r.err.find(kSecret), std::string::npos) << r.err;
        EXPECT_EQ(files_holding(box.dir, kSecret, {box.path("secret.txt"), box.path("outside/s.tex")}),
                  std::vector<std::string>{});
    }
}

TEST(RenderConfinement, LinksThatStayInThePaperFolderKeepWorking) {
    REQUIRE_TEX();
    for (Way way : ways()) {
        SCOPED_TRACE(name_of(way));
        Sandbox box;
        fs::create_directories(box.path("paper/sub"));
        write_file(box.path("paper/sub/good.tex"), "g+h\n");
        fs::create_symlink("sub/good.tex", box.path("paper/inner.tex"));
        fs::create_directory_symlink("sub", box.path("paper/insub"));
        // and one out, so that the view has a folder to rebuild
        fs::create_symlink("/etc/hostname", box.path("paper/host.tex"));
        write_file(box.path("paper/paper.eq.tex"), document_of({"\\input{inner}", "\\input{insub/good}"}));
        const RunResult r = render(way, box.path("paper"), {"paper.eq.tex"});
        EXPECT_EQ(r.exit_status, 0) << r.err;
        const std::string expected = gif_alone("g+h");
        EXPECT_TRUE(read_file(box.path("paper/paper.eq1.gif")) == expected);
        EXPECT_TRUE(read_file(box.path("paper/paper.eq2.gif")) == expected);
    }
}

// The link is checked (or the view made) before latex starts; the paper's
// link is then pointed at the secret while latex works on a formula that
// reads it only after a while (a fifth of a second or so: well within the
// second a formula may keep latex, even on a busy machine).
TEST(RenderConfinement, LinkChangedWhileLatexRunsDoesNotLeadOut) {
    REQUIRE_TEX();
    const std::string busy = "\\count255=0 \\loop\\advance\\count255 by 1 \\ifnum\\count255<300000 "
                             "\\ifnum\\count255=\\numexpr(\\count255/100000)*100000\\relax\\message{.}\\fi\\repeat";
    for (Way way : ways()) {
        SCOPED_TRACE(name_of(way));
        Sandbox box;
        fs::create_directories(box.path("paper/sub"));
        fs::create_directory(box.path("tmp"));
        write_file(box.path("secret.txt"), kSecret + "\n");
        write_file(box.path("paper/sub/good.tex"), "g+h\n");
        fs::create_symlink("sub/good.tex", box.path("paper/m.tex"));
        write_file(box.path("paper/paper.eq.tex"), document_of({busy + "\\input{m}"}));
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        const pid_t pid = fork();
        if (pid == 0) {
            setenv("TMPDIR", box.path("tmp").c_str(), 1);
            setenv("KELVARIN_RENDER_LANDLOCK", way == Way::kernel ? "on" : "off", 1);
            if (chdir(box.path("paper").c_str()) != 0) _exit(127);
            dup2(out[1], 2);
            execl(KELVARIN_RENDER_BIN, KELVARIN_RENDER_BIN, "paper.eq.tex", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        bool running = false;
        for (int i = 0; i < 3000 && !running; ++i) {
            for (const auto& scratch : fs::directory_iterator(box.path("tmp")))
                running = running || file_exists(scratch.path().string() + "/run1/kelvarin-formulas.log");
            if (!running) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_TRUE(running);
        fs::remove(box.path("paper/m.tex"));
        fs::create_symlink(box.path("secret.txt"), box.path("paper/m.tex"));
        std::string err;
        char buffer[4096];
        for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) err.append(buffer, static_cast<std::size_t>(n));
        close(out[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_EQ(err.find(kSecret), std::string::npos) << err;
        if (way == Way::view) {
            // The view holds where the link led when it was looked at.
            EXPECT_TRUE(read_file(box.path("paper/paper.eq1.gif")) == gif_alone(busy + " g+h")) << err;
        } else {
            // The kernel looks where the link leads when latex opens it.
            EXPECT_NE(err.find("paper.eq1.gif, block (row : 1 - 1): latex may not read 'm.tex': it is a link to " +
                               box.path("secret.txt")),
                      std::string::npos)
                << err;
            EXPECT_FALSE(file_exists(box.path("paper/paper.eq1.gif")));
        }
        EXPECT_EQ(files_holding(box.dir, kSecret, {box.path("secret.txt")}), std::vector<std::string>{});
    }
}

// "~/" and "$HOME" lead to the tools' own home in the scratch folder; the
// user's home holds the secrets here (HOME points into the sandbox).
TEST(RenderConfinement, TildeAndDollarInFileNamesDoNotLeaveThePaperFolder) {
    REQUIRE_TEX();
    const std::string png = read_file(std::string(KELVARIN_SOURCE_DIR) + "/docs/test2.eq1.png");
    const std::vector<std::string> preamble = {"\\documentclass[12pt]{article}", "\\usepackage{graphicx}",
                                               "\\usepackage{verbatim}"};
    const std::string probe = "\\openin7=\\string~/kv-secret.tex \\ifeof7 \\mbox{closed}\\else\\read7 to\\x "
                              "\\mbox{\\x}\\fi";
    const std::string picture = "\\catcode`\\$=12 \\includegraphics[bb=0 0 200 40]{$HOME/kv-img.png}";
    for (Way way : ways()) {
        SCOPED_TRACE(name_of(way));
        Sandbox box;
        fs::create_directories(box.path("home"));
        fs::create_directories(box.path("paper"));
        write_file(box.path("home/kv-secret.tex"), kSecret + "\n");
        write_file(box.path("home/kv-notes.txt"), kSecret + "\n");
        write_file(box.path("home/kv-img.png"), png);
        write_file(box.path("paper/paper.eq.tex"),
                   document_of({"\\input{~/kv-secret}", "\\catcode`\\$=12 \\input{$HOME/kv-secret}",
                                "\\catcode`\\$=12 \\input{${HOME}/kv-secret}", probe,
                                "\\mbox{\\begin{minipage}{5cm}\\verbatiminput{~/kv-notes.txt}\\end{minipage}}",
                                picture},
                               preamble));
        ScopedVariable home("HOME", box.path("home"));
        RunResult r = render(way, box.path("paper"), {"paper.eq.tex"});
        for (std::size_t i : {1, 2, 3}) {
            EXPECT_NE(report_of(r, i).find("\"~\" and \"$\" in file names do not lead out of the paper's folder"),
                      std::string::npos)
                << i << "\n" << r.err;
            EXPECT_FALSE(file_exists(box.path("paper/paper.eq" + std::to_string(i) + ".gif")));
        }
        EXPECT_NE(report_of(r, 2).find("'$HOME/kv-secret.tex'"), std::string::npos) << r.err;
        // What latex reads instead is nothing: the probe finds no file, the
        // verbatim input none, the picture is left blank.
        EXPECT_TRUE(read_file(box.path("paper/paper.eq4.gif")) == gif_alone("\\mbox{closed}"));
        const std::string verbatim = read_file(box.path("paper/paper.eq5.gif"));
        const std::string blank = read_file(box.path("paper/paper.eq6.gif"));
        EXPECT_TRUE(file_exists(box.path("paper/paper.eq5.gif")) && file_exists(box.path("paper/paper.eq6.gif")));
        EXPECT_EQ(r.err.find(kSecret), std::string::npos) << r.err;
        EXPECT_EQ(files_holding(box.dir, kSecret, {box.path("home/kv-secret.tex"), box.path("home/kv-notes.txt")}),
                  std::vector<std::string>{});

        // Trusted, the same names reach the user's home.
        r = render(way, box.path("paper"), {"--trust-paper", "paper.eq.tex"});
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_TRUE(read_file(box.path("paper/paper.eq1.gif")) == gif_alone(kSecret));
        EXPECT_FALSE(read_file(box.path("paper/paper.eq4.gif")) == gif_alone("\\mbox{closed}"));
        EXPECT_FALSE(read_file(box.path("paper/paper.eq5.gif")) == verbatim);
        EXPECT_FALSE(read_file(box.path("paper/paper.eq6.gif")) == blank);
    }
}

// What only the kernel can refuse: "~user" looks the home up in the user
// database, kpathsea sets $SELFAUTOPARENT itself ("/" where latex is
// /usr/bin/latex), and dvipng opens the picture a DVI special names.
TEST(RenderConfinement, TildeUserKpathseaVariablesAndDviSpecialsAreRefusedByTheKernel) {
    REQUIRE_TEX();
    if (!kernel_confines()) GTEST_SKIP() << "the kernel offers no Landlock (Linux 5.13 or later)";
    Sandbox box;
    fs::create_directories(box.path("paper"));
    write_file(box.path("secret.tex"), kSecret + "\n");
    write_file(box.path("img.png"), read_file(std::string(KELVARIN_SOURCE_DIR) + "/docs/test2.eq1.png"));
    // The user's real home, as the user database has it.
    const passwd* user = getpwuid(getuid());
    ASSERT_NE(user, nullptr);
    const std::string in_home = std::string(user->pw_dir) + "/kelvarin-confinement-" + std::to_string(getpid());
    write_file(in_home + ".tex", kSecret + "\n");
    const std::string special = "\\mbox{\\special{PSfile=\"" + box.path("img.png") +
                                "\" llx=0 lly=0 urx=200 ury=40 rwi=2000}}";
    std::vector<std::string> formulas = {"\\input{~" + std::string(user->pw_name) + "/" +
                                             fs::path(in_home).filename().string() + "}",
                                         special};
    const RunResult where = run_program(on_path("kpsewhich"), box.dir, {"--expand-var=$SELFAUTOPARENT"});
    const std::string parent = where.out.substr(0, where.out.find('\n'));
    const bool selfautoparent = parent == "/";
    if (selfautoparent) formulas.push_back("\\catcode`\\$=12 \\input{$SELFAUTOPARENT" + box.path("secret") + "}");
    write_file(box.path("paper/paper.eq.tex"), document_of(formulas));
    const RunResult r = render(Way::kernel, box.path("paper"), {"paper.eq.tex"});
    const RunResult trusted = render(Way::kernel, box.dir, {"--trust-paper", "--out", "trusted", "paper/paper.eq.tex"});
    fs::remove(in_home + ".tex");
    EXPECT_NE(report_of(r, 1).find("latex may not read '~" + std::string(user->pw_name)), std::string::npos) << r.err;
    EXPECT_FALSE(file_exists(box.path("paper/paper.eq1.gif")));
    // The picture is left out of the image, as if it did not exist; trusted,
    // it is in it.
    std::string missing = special;
    missing.replace(missing.find("img.png"), 7, "missing.png");
    EXPECT_TRUE(read_file(box.path("paper/paper.eq2.gif")) == gif_alone(missing));
    EXPECT_FALSE(read_file(box.path("trusted/paper.eq2.gif")) == gif_alone(missing));
    if (selfautoparent) {
        EXPECT_NE(report_of(r, 3).find("latex may not read '" + box.path("secret.tex") + "': it lies outside"),
                  std::string::npos)
            << r.err;
        EXPECT_FALSE(file_exists(box.path("paper/paper.eq3.gif")));
    }
    EXPECT_EQ(trusted.exit_status, 0) << trusted.err;
    EXPECT_TRUE(read_file(box.path("trusted/paper.eq1.gif")) == gif_alone(kSecret));
    EXPECT_EQ(r.err.find(kSecret), std::string::npos) << r.err;
    EXPECT_EQ(files_holding(box.path("paper"), kSecret, {}), std::vector<std::string>{});
}

// A paper's own ecrm1200.mf (here: bold letters) is made into a font for its
// own images, in a cache of the run's own; the user's cache stays as it was
// and a clean paper rendered next gets the real letters.
TEST(RenderConfinement, FontsAPaperMakesStayInTheCacheOfItsOwnRun) {
    REQUIRE_TEX();
    if (on_path("mktexpk").empty()) GTEST_SKIP() << "mktexpk not installed";
    const std::vector<std::string> preamble = {"\\documentclass[12pt]{article}", "\\usepackage[T1]{fontenc}"};
    const std::string formula = "\\mbox{\\fontfamily{cmr}\\selectfont Hello}";
    for (Way way : ways()) {
        SCOPED_TRACE(name_of(way));
        Sandbox box;
        fs::create_directories(box.path("home"));
        fs::create_directories(box.path("poisoned"));
        fs::create_directories(box.path("clean"));
        fs::create_directories(box.path("fresh"));
        write_file(box.path("poisoned/ecrm1200.mf"),
                   "if unknown exbase: input exbase fi;\ngensize:=12;\ngenerate ecbx\n");
        for (const char* paper : {"poisoned", "clean", "fresh"})
            write_file(box.path(std::string(paper) + "/paper.eq.tex"), document_of({formula}, preamble));
        ScopedVariable home("HOME", box.path("home"));
        RunResult r = render(way, box.path("poisoned"), {"paper.eq.tex"});
        EXPECT_EQ(r.exit_status, 0) << r.err;
        r = render(way, box.path("clean"), {"paper.eq.tex"});
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_TRUE(fs::is_empty(box.path("home"))) << "the user's font cache changed";
        // A clean paper in a home of its own: what the letters must be.
        ScopedVariable other_home("HOME", box.path("fresh"));
        r = render(way, box.path("fresh"), {"--trust-paper", "paper.eq.tex"});
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_TRUE(read_file(box.path("clean/paper.eq1.gif")) == read_file(box.path("fresh/paper.eq1.gif")));
        // The paper's own font was used for its own image.
        EXPECT_FALSE(read_file(box.path("poisoned/paper.eq1.gif")) == read_file(box.path("clean/paper.eq1.gif")));
    }
}
