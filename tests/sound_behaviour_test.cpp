// Inputs that must never be lost and failures that must show: outputs linked to the input, a
// source that cannot be read, and writes that fail (the output a symbolic link to /dev/full,
// which refuses every write).
#include <sys/stat.h>

#include <algorithm>

#include "support/harness.h"

using namespace kelvarin_test;

namespace {

const std::string kSource = "\\begin{document}\n\\section{A}\n$x$\n";
const std::string kFailed = crlf({"file : paper.tex", "  parse failure"});
const std::string kWiki = crlf({"*A", "&ref(paper.eq1.gif,,70%);", ""});
const std::string kEquations = equation_document({}, {"% paper.eq1.gif - inline (row : 3, column : 0 - 2)", "x"});

// A failure is one line on standard error, naming the file, and "parse failure" in the log.
void expect_failure_naming(const Sandbox& box, const RunResult& r, const std::string& name) {
    EXPECT_EQ(r.exit_status, 0);
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
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "  parse failure\n");
}

TEST(WriteFailure, UnwritableLogCostsOnlyItsLines) {
    Sandbox box;
    write_file(box.path("paper.tex"), kSource);
    ASSERT_EQ(symlink("/dev/full", box.path("kelvarin.log").c_str()), 0);
    RunResult r = run_kelvarin(box.dir, {"paper.tex"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(read_file(box.path("paper.wiki.txt")), kWiki);
}
