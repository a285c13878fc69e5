// Inputs that must never be lost and failures that must show: outputs linked to the input, a
// source that cannot be read, and writes that fail (the output a symbolic link to /dev/full,
// which refuses every write).
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "support/harness.h"

using namespace kelvarin_test;

namespace {

const std::string kSource = "\\begin{document}\n\\section{A}\n$x$\n";
const std::string kFailed = crlf({"file : paper.tex", "  parse failure"});
const std::string kWiki = crlf({"*A", "&ref(paper.eq1.gif,,70%);", ""});
const std::string kEquations = equation_document({}, {"% paper.eq1.gif - inline (row : 3, column : 0 - 2)", "x"});

// A failure is one line on standard error, naming the file, "parse failure" in the log, and
// exit status 1, so that a script does not go on with a page that is not there.
void expect_failure_naming(const Sandbox& box, const RunResult& r, const std::string& name) {
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(name), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(read_file(box.path("kelvarin.log")), kFailed);
}

}  // namespace

TEST(SoundBehaviour, OutputLinkedToTheInputIsRefused) {
    for (const bool hard : {false, true}) {
        Sandbox box;
        write_file(box.path("paper.tex"), kSource);
        if (hard) ASSERT_EQ(link(box.path("paper.tex").c_str(), box.path("paper.eq.tex").c_str()), 0);
        else ASSERT_EQ(symlink("paper.tex", box.path("paper.wiki.txt").c_str()), 0);
        RunResult r = run_kelvarin(box.dir, {"paper.tex"});
        EXPECT_EQ(r.out, "Invalid file specified\n");
        EXPECT_EQ(read_file(box.path("paper.tex")), kSource);
        EXPECT_FALSE(file_exists(box.path(hard ? "paper.wiki.txt" : "paper.eq.tex")));
        EXPECT_EQ(read_file(box.path("kelvarin.log")), kFailed);
    }
}

TEST(SoundBehaviour, ReadErrorIsAFailureWithADiagnostic) {
    Sandbox box;
    // Reading a process's memory at offset 0 fails with an I/O error.
    ASSERT_EQ(symlink("/proc/self/mem", box.path("paper.tex").c_str()), 0);
    expect_failure_naming(box, run_kelvarin(box.dir, {"paper.tex"}), "paper.tex");
    EXPECT_EQ(read_file(box.path("paper.wiki.txt")), "");
    EXPECT_EQ(read_file(box.path("paper.eq.tex")), equation_document({}, {}));
}

TEST(WriteFailure, OutputsOnAFullDiskTheOtherIsComplete) {
    for (const std::string full : {"paper.wiki.txt", "paper.eq.tex"}) {
        Sandbox box;
        write_file(box.path("paper.tex"), kSource);
        ASSERT_EQ(symlink("/dev/full", box.path(full).c_str()), 0);
        expect_failure_naming(box, run_kelvarin(box.dir, {"paper.tex"}), full);
        if (full == "paper.eq.tex") EXPECT_EQ(read_file(box.path("paper.wiki.txt")), kWiki);
        else EXPECT_EQ(read_file(box.path("paper.eq.tex")), kEquations);
    }
}

TEST(WriteFailure, NoArgumentModeReportsParseFailure) {
    Sandbox box;
    mkdir(box.path("tex").c_str(), 0755);
    write_file(box.path("tex/test2.tex"), kSource);
    ASSERT_EQ(symlink("/dev/full", box.path("tex/test2.wiki.txt").c_str()), 0);
    RunResult r = run_kelvarin(box.dir, {});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out, "  parse failure\n");
}

TEST(WriteFailure, UnwritableLogCostsOnlyItsLines) {
    Sandbox box;
    write_file(box.path("paper.tex"), kSource);
    ASSERT_EQ(symlink("/dev/full", box.path("kelvarin.log").c_str()), 0);
    RunResult r = run_kelvarin(box.dir, {"paper.tex"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "kelvarin: kelvarin.log: No space left on device; this run's results are not logged\n");
    EXPECT_EQ(read_file(box.path("paper.wiki.txt")), kWiki);
}

// Rich mode puts each output together beside its name and renames it into place: a failed
// write keeps the old pair whole, and a link at an output's name is replaced, not written
// through. The full disk is a small file system mounted for the test (root only).
TEST(WriteFailure, RichModeKeepsTheOldPairWhenTheDiskIsFull) {
    Sandbox box;
    const std::string disk = box.path("disk");
    mkdir(disk.c_str(), 0755);
    if (run_program("/bin/mount", box.dir, {"-t", "tmpfs", "-o", "size=64k", "tmpfs", disk}).exit_status != 0)
        GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    write_file(box.path("paper.tex"), kSource);
    RunResult first = run_kelvarin(box.dir, {"--rich", "--out", "disk", "paper.tex"});
    const std::string old_wiki = read_file(box.path("disk/paper.wiki.txt"));
    const std::string old_equations = read_file(box.path("disk/paper.eq.tex"));
    // What is left of the disk is too little for the new page: a long one,
    // and a short one whose lines are all still gathered when the run ends.
    run_program("/bin/sh", box.dir, {"-c", "cat /dev/zero > disk/filler 2>/dev/null; exit 0"});
    EXPECT_EQ(first.exit_status, 0) << first.err;
    for (const int lines : {2000, 3}) {
        std::string longer = kSource;
        for (int i = 0; i < lines; ++i)
            longer += "A line of prose that the new page must hold, $x_{" + std::to_string(i) + "}$.\n";
        write_file(box.path("paper.tex"), longer);
        RunResult r = run_kelvarin(box.dir, {"--rich", "--out", "disk", "paper.tex"});
        EXPECT_EQ(r.exit_status, 1) << lines;
        EXPECT_NE(r.err.find("No space left on device; the old page and equation document are kept"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(read_file(box.path("disk/paper.wiki.txt")), old_wiki) << lines;
        EXPECT_EQ(read_file(box.path("disk/paper.eq.tex")), old_equations) << lines;
        std::vector<std::string> left;
        for (const auto& entry : std::filesystem::directory_iterator(disk)) left.push_back(entry.path().filename());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<std::string>{"filler", "paper.eq.tex", "paper.wiki.txt"})) << lines;
    }
    run_program("/bin/umount", box.dir, {disk});
}

TEST(SoundBehaviour, RichModeReplacesALinkAtAnOutputsName) {
    Sandbox box;
    mkdir(box.path("paper").c_str(), 0755);
    write_file(box.path("victim"), "keep me\n");
    write_file(box.path("paper/paper.tex"), kSource);
    for (const std::string name : {"paper/paper.wiki.txt", "paper/paper.eq.tex"})
        ASSERT_EQ(symlink("../victim", box.path(name).c_str()), 0);
    RunResult r = run_kelvarin(box.path("paper"), {"--rich", "paper.tex"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(read_file(box.path("victim")), "keep me\n");
    struct stat st {};
    ASSERT_EQ(lstat(box.path("paper/paper.wiki.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(read_file(box.path("paper/paper.eq.tex")), kEquations);
}
