// A write that fails (a full disk) is a failed conversion, never a "parse
// ok": the outputs are made symbolic links to /dev/full, which refuses every
// write.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "support/harness.h"

using namespace kelvarin_test;

namespace {

const std::string kSource = "\\begin{document}\n\\section{A}\n$x$\n";

}  // namespace

TEST(WriteFailure, WikiPageOnAFullDisk) {
    Sandbox box;
    write_file(box.path("x.tex"), kSource);
    ASSERT_EQ(symlink("/dev/full", box.path("x.wiki.txt").c_str()), 0);
    RunResult r = run_kelvarin(box.dir, {"x.tex"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("x.wiki.txt"), std::string::npos);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    EXPECT_EQ(read_file(box.path("kelvarin.log")), crlf({"file : x.tex", "  parse failure"}));
    EXPECT_EQ(read_file(box.path("x.tex")), kSource);
    // The rest of the job still runs: the equation document is complete.
    EXPECT_EQ(read_file(box.path("x.eq.tex")),
              equation_document({}, {{"% x.eq1.gif - inline (row : 3, column : 0 - 2)", {"x"}}}));
}

TEST(WriteFailure, EquationDocumentOnAFullDisk) {
    Sandbox box;
    write_file(box.path("x.tex"), kSource);
    ASSERT_EQ(symlink("/dev/full", box.path("x.eq.tex").c_str()), 0);
    RunResult r = run_kelvarin(box.dir, {"x.tex"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_NE(r.err.find("x.eq.tex"), std::string::npos);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    EXPECT_EQ(read_file(box.path("kelvarin.log")), crlf({"file : x.tex", "  parse failure"}));
    EXPECT_EQ(read_file(box.path("x.wiki.txt")), crlf({"*A", "&ref(x.eq1.gif,,70%);", ""}));
    EXPECT_EQ(read_file(box.path("x.tex")), kSource);
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
    write_file(box.path("x.tex"), kSource);
    ASSERT_EQ(symlink("/dev/full", box.path("kelvarin.log").c_str()), 0);
    RunResult r = run_kelvarin(box.dir, {"x.tex"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(box.path("x.wiki.txt")), crlf({"*A", "&ref(x.eq1.gif,,70%);", ""}));
}
