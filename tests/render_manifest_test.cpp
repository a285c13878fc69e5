// kelvarin-render on real TeX, run after run in one folder: images whose
// manifest entry and file still match are not typeset again and not
// rewritten; what changes what an image looks like makes it again; a
// manifest that cannot be trusted is not; images no longer named are listed
// and only those made here are pruned; the images new or changed are listed
// for an upload. Skipped, with a message, where TeX is not installed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "support/harness.h"
#include "support/tex_check.h"

using namespace kelvarin_test;
namespace fs = std::filesystem;

namespace {

RunResult render(const std::string& dir, const std::vector<std::string>& args) {
    return run_program(KELVARIN_RENDER_BIN, dir, args);
}

// Renders paper.eq.tex in `dir` with a latex first on PATH that must never
// run: it would leave its mark (`latex_ran`) and fail.
RunResult render_without_latex(const std::string& dir, bool& latex_ran) {
    Sandbox tools;
    write_file(tools.path("latex"), "#!/bin/sh\ntouch " + tools.path("ran") + "\nexit 1\n");
    chmod(tools.path("latex").c_str(), 0755);
    const std::string old_path = std::getenv("PATH");
    setenv("PATH", (tools.dir + ":" + old_path).c_str(), 1);
    const RunResult r = render(dir, {"paper.eq.tex"});
    setenv("PATH", old_path.c_str(), 1);
    latex_ran = file_exists(tools.path("ran"));
    return r;
}

const std::string kPreamble = "\\documentclass{article}\n";

// Converts the body with the options into paper.eq.tex in the sandbox.
void convert(const Sandbox& box, const std::string& body, std::vector<std::string> options = {},
             const std::string& preamble = kPreamble) {
    write_file(box.path("paper.tex"), preamble + "\\begin{document}\n" + body + "\\end{document}\n");
    options.push_back("paper.tex");
    ASSERT_EQ(run_kelvarin(box.dir, options).exit_status, 0);
}

// Every file of the folder with its bytes.
std::map<std::string, std::string> contents(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir))
        files[entry.path().filename().string()] = read_file(entry.path().string());
    return files;
}

std::vector<std::string> images_in(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.is_regular_file() && entry.path().extension() == ".gif")
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Sets every file of the folder back to one old time, so that a file
// written again, even with the same bytes, shows.
void age_files(const std::string& dir) {
    for (const auto& entry : fs::directory_iterator(dir)) {
        const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
        utimensat(AT_FDCWD, entry.path().c_str(), old, 0);
    }
}

std::map<std::string, long long> times(const std::string& dir) {
    std::map<std::string, long long> seconds;
    for (const auto& entry : fs::directory_iterator(dir)) {
        struct stat st {};
        lstat(entry.path().c_str(), &st);
        seconds[entry.path().filename().string()] = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL +
                                                     st.st_mtim.tv_nsec;
    }
    return seconds;
}

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

const std::string kThree = "Let $a+b$ and $c^2$.\n\\[\n\\frac{x}{y}\n\\]\n";

}  // namespace

TEST(RenderManifest, UnchangedReRenderTypesetsNothingAndRewritesNoFile) {
    REQUIRE_TEX();
    Sandbox box;
    convert(box, kThree, {"--stable-names"});
    RunResult r = render(box.dir, {"paper.eq.tex"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_TRUE(file_exists(box.path("paper.eq.manifest")));
    age_files(box.dir);
    const auto files = contents(box.dir);
    const auto before = times(box.dir);

    bool latex_ran = false;
    r = render_without_latex(box.dir, latex_ran);

    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_FALSE(latex_ran);
    EXPECT_NE(r.err.find("0 of 3 images written, 3 unchanged, 0 failed"), std::string::npos) << r.err;
    EXPECT_EQ(contents(box.dir), files);
    EXPECT_EQ(times(box.dir), before);
}

TEST(RenderManifest, WhatChangesAnImageMakesItAgain) {
    REQUIRE_TEX();
    Sandbox box;
    convert(box, kThree);
    ASSERT_EQ(render(box.dir, {"paper.eq.tex"}).exit_status, 0);
    const auto first = contents(box.dir);

    // A changed preamble makes every image again, here with the same bytes.
    convert(box, kThree, {}, kPreamble + "\\usepackage{amssymb}\n");
    RunResult r = render(box.dir, {"paper.eq.tex"});
    EXPECT_NE(r.err.find("3 of 3 images written, 0 failed"), std::string::npos) << r.err;
    for (const char* name : {"paper.eq1.gif", "paper.eq2.gif", "paper.eq3.gif"})
        EXPECT_EQ(read_file(box.path(name)), first.at(name)) << name;

    // Another resolution, too.
    r = render(box.dir, {"--dpi", "150", "paper.eq.tex"});
    EXPECT_NE(r.err.find("3 of 3 images written, 0 failed"), std::string::npos) << r.err;
    EXPECT_NE(read_file(box.path("paper.eq1.gif")), first.at("paper.eq1.gif"));

    // One formula edited: only its image. An image changed by hand is made
    // again; --force makes all.
    convert(box, "Let $a+b$ and $c^3$.\n\\[\n\\frac{x}{y}\n\\]\n", {}, kPreamble + "\\usepackage{amssymb}\n");
    r = render(box.dir, {"--dpi", "150", "paper.eq.tex"});
    EXPECT_NE(r.err.find("1 of 3 images written, 2 unchanged, 0 failed"), std::string::npos) << r.err;
    write_file(box.path("paper.eq3.gif"), "not a gif");
    r = render(box.dir, {"--dpi", "150", "paper.eq.tex"});
    EXPECT_NE(r.err.find("1 of 3 images written, 2 unchanged, 0 failed"), std::string::npos) << r.err;
    EXPECT_NE(read_file(box.path("paper.eq3.gif")), "not a gif");
    // Also where the change hides behind an old time, and behind a manifest
    // written again after it, or dated in the future.
    write_file(box.path("paper.eq3.gif"), "not a gif");
    age_files(box.dir);
    r = render(box.dir, {"--dpi", "150", "paper.eq.tex"});
    EXPECT_NE(r.err.find("1 of 3 images written, 2 unchanged, 0 failed"), std::string::npos) << r.err;
    EXPECT_NE(read_file(box.path("paper.eq3.gif")), "not a gif");
    write_file(box.path("paper.eq2.gif"), "not a gif");
    const timespec future[2] = {{4000000000, 0}, {4000000000, 0}};
    utimensat(AT_FDCWD, box.path("paper.eq.manifest").c_str(), future, 0);
    r = render(box.dir, {"--dpi", "150", "paper.eq.tex"});
    EXPECT_NE(r.err.find("1 of 3 images written, 2 unchanged, 0 failed"), std::string::npos) << r.err;
    EXPECT_NE(read_file(box.path("paper.eq2.gif")), "not a gif");
    r = render(box.dir, {"--dpi", "150", "--force", "paper.eq.tex"});
    EXPECT_NE(r.err.find("3 of 3 images written, 0 failed"), std::string::npos) << r.err;
}

// A manifest written again after one change is hashed on from where it
// first differs from the one read; it must still vouch for itself. Sixty
// images make a manifest of several of those steps, and the ninth image's
// line, the one changed, sorts last (paper.eq9 after paper.eq60).
TEST(RenderManifest, AManifestWrittenAgainAfterOneChangeIsTrustedNextTime) {
    REQUIRE_TEX();
    Sandbox box;
    const auto body = [](const std::string& ninth) {
        std::string text;
        for (int i = 1; i <= 60; ++i) text += (i == 9 ? ninth : "$x_{" + std::to_string(i) + "}$") + "\n";
        return text;
    };
    convert(box, body("$x_{9}$"));
    RunResult r = render(box.dir, {"paper.eq.tex"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    convert(box, body("$y_{9}$"));
    r = render(box.dir, {"paper.eq.tex"});
    EXPECT_NE(r.err.find("1 of 60 images written, 59 unchanged, 0 failed"), std::string::npos) << r.err;

    bool latex_ran = false;
    r = render_without_latex(box.dir, latex_ran);
    EXPECT_FALSE(latex_ran) << r.err;
    EXPECT_NE(r.err.find("0 of 60 images written, 60 unchanged, 0 failed"), std::string::npos) << r.err;
}

TEST(RenderManifest, AnUnchangedFailingFormulaIsReportedAgainWithoutLatex) {
    REQUIRE_TEX();
    Sandbox box;
    const std::string body = "Let $a+b$ and $\\foo$.\n\\[\nx\n\\]\n";
    convert(box, body);
    RunResult r = render(box.dir, {"paper.eq.tex"});
    ASSERT_EQ(r.exit_status, 1) << r.err;
    const std::string said = "paper.eq2.gif, inline (row : 3, column : 14 - 19): ";
    const std::size_t at = r.err.find(said);
    ASSERT_NE(at, std::string::npos) << r.err;
    const std::string message = r.err.substr(at + said.size(), r.err.find('\n', at) - at - said.size());

    bool latex_ran = false;
    r = render_without_latex(box.dir, latex_ran);
    EXPECT_EQ(r.exit_status, 1) << r.err;
    EXPECT_FALSE(latex_ran);
    EXPECT_NE(r.err.find(said + message + " (as in the last run; --force tries again)\n"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("0 of 3 images written, 2 unchanged, 1 failed"), std::string::npos) << r.err;

    // --force tries it again, and so does a change of what makes it.
    r = render(box.dir, {"--force", "paper.eq.tex"});
    EXPECT_NE(r.err.find(said + message + "\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("2 of 3 images written, 1 failed"), std::string::npos) << r.err;
    convert(box, body, {}, kPreamble + "\\newcommand{\\foo}{y}\n");
    r = render(box.dir, {"paper.eq.tex"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(r.err.find("3 of 3 images written, 0 failed"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(box.path("paper.eq.manifest")).find("failed "), std::string::npos);
}

TEST(RenderManifest, DamagedOrForeignManifestIsNotTrusted) {
    REQUIRE_TEX();
    Sandbox box;
    convert(box, kThree);
    ASSERT_EQ(render(box.dir, {"paper.eq.tex"}).exit_status, 0);
    const std::string manifest = read_file(box.path("paper.eq.manifest"));

    const auto expect_distrust = [&](const std::string& bytes, const std::string& why) {
        write_file(box.path("paper.eq.manifest"), bytes);
        RunResult r = render(box.dir, {"paper.eq.tex"});
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_EQ(count_of(r.err, "not trusted"), 1u) << why << "\n" << r.err;
        EXPECT_NE(r.err.find(why), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("3 of 3 images written, 0 failed"), std::string::npos) << r.err;
        // Written whole again, and trusted by the next run.
        EXPECT_EQ(read_file(box.path("paper.eq.manifest")), manifest);
        r = render(box.dir, {"paper.eq.tex"});
        EXPECT_NE(r.err.find("0 of 3 images written, 3 unchanged"), std::string::npos) << r.err;
    };
    expect_distrust(manifest.substr(0, manifest.size() / 2), "damaged");
    std::string edited = manifest;
    edited[edited.find('\n') + 1] = edited[edited.find('\n') + 1] == '0' ? '1' : '0';
    expect_distrust(edited, "damaged");
    expect_distrust("", "not a manifest");
    std::string other = manifest;
    other.replace(other.find("paper.eq.tex"), 12, "other.eq.tex");
    expect_distrust(other, "another equation document");
}

TEST(RenderManifest, PruneRemovesOnlyUnusedImagesMadeHere) {
    REQUIRE_TEX();
    Sandbox box;
    convert(box, "$a$ $b$ $c$ $d$\n");
    ASSERT_EQ(render(box.dir, {"paper.eq.tex"}).exit_status, 0);
    // Two formulas fewer: images 3 and 4 are no longer used. Image 4 was
    // changed by hand since; others were never made here.
    convert(box, "$a$ $b$\n");
    write_file(box.path("paper.eq4.gif"), "my own");
    for (const std::string name : {"paper.eq9.gif", "notes.gif", "paper.eq-x.gif", "paper.eq3.gif.bak"})
        write_file(box.path(name), "foreign");
    fs::create_directory(box.path("paper.eq12.gif"));

    RunResult r = render(box.dir, {"paper.eq.tex"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(r.err.find("3 images no longer used: paper.eq3.gif, paper.eq4.gif and paper.eq9.gif "
                         "(--prune removes them)"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(file_exists(box.path("paper.eq3.gif")));

    r = render(box.dir, {"--prune", "paper.eq.tex"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(r.err.find("1 image no longer used, removed: paper.eq3.gif\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("2 images no longer used, kept: paper.eq4.gif and paper.eq9.gif"), std::string::npos)
        << r.err;
    EXPECT_EQ(images_in(box.dir), (std::vector<std::string>{"notes.gif", "paper.eq-x.gif", "paper.eq1.gif",
                                                            "paper.eq2.gif", "paper.eq4.gif", "paper.eq9.gif"}));
    EXPECT_EQ(read_file(box.path("paper.eq4.gif")), "my own");
    EXPECT_TRUE(fs::is_directory(box.path("paper.eq12.gif")));
    EXPECT_TRUE(file_exists(box.path("paper.eq3.gif.bak")));
}

TEST(RenderManifest, ChangedListsTheImagesNewOrChangedInThisRun) {
    REQUIRE_TEX();
    Sandbox box;
    convert(box, kThree, {"--stable-names"});
    RunResult r = render(box.dir, {"--changed", "upload.txt", "paper.eq.tex"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    const std::string all = read_file(box.path("upload.txt"));
    EXPECT_EQ(count_of(all, "\n"), 3u) << all;
    for (const std::string& name : images_in(box.dir)) EXPECT_NE(all.find(name + "\n"), std::string::npos) << name;

    // Unchanged: an empty list. One formula edited: its new image alone;
    // the old one is listed as unused.
    r = render(box.dir, {"--changed", "upload.txt", "paper.eq.tex"});
    EXPECT_EQ(read_file(box.path("upload.txt")), "");
    convert(box, "Let $a+b$ and $c^3$.\n\\[\n\\frac{x}{y}\n\\]\n", {"--stable-names"});
    r = render(box.dir, {"--changed", "upload.txt", "paper.eq.tex"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(read_file(box.path("upload.txt")), "paper.eq-c954ed43fe.gif\n");
    EXPECT_NE(r.err.find("1 image no longer used: paper.eq-"), std::string::npos) << r.err;

    // Made again with the same bytes: nothing to upload.
    r = render(box.dir, {"--force", "--changed", "upload.txt", "paper.eq.tex"});
    EXPECT_NE(r.err.find("3 of 3 images written"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(box.path("upload.txt")), "");

    // A list that cannot be written fails the run, and says why.
    r = render(box.dir, {"--changed", "no/such/folder/upload.txt", "paper.eq.tex"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.err.find("--changed: cannot write beside no/such/folder/upload.txt"), std::string::npos) << r.err;
}

TEST(RenderManifest, ChangedListsTheImagesOfEveryDocumentOfTheRun) {
    REQUIRE_TEX();
    Sandbox box;
    fs::create_directories(box.path("a"));
    fs::create_directories(box.path("b"));
    write_file(box.path("a/one.tex"), kPreamble + "\\begin{document}\n$x$ and $y$\n\\end{document}\n");
    write_file(box.path("b/two.tex"), kPreamble + "\\begin{document}\n$z$\n\\end{document}\n");
    ASSERT_EQ(run_kelvarin(box.dir, {"a/one.tex", "b/two.tex"}).exit_status, 0);
    RunResult r = render(box.dir, {"--changed", "upload.txt", "a/one.eq.tex", "b/two.eq.tex"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(read_file(box.path("upload.txt")), "one.eq1.gif\none.eq2.gif\ntwo.eq1.gif\n");
    // One document edited: the list holds its new image, and the list of
    // the unchanged other is not lost to it nor the other way round.
    write_file(box.path("b/two.tex"), kPreamble + "\\begin{document}\n$z^2$\n\\end{document}\n");
    ASSERT_EQ(run_kelvarin(box.dir, {"b/two.tex"}).exit_status, 0);
    r = render(box.dir, {"--changed", "upload.txt", "b/two.eq.tex", "a/one.eq.tex"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(read_file(box.path("upload.txt")), "two.eq1.gif\n");
}
