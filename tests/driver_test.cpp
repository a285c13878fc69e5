// The driver: the two modes, the batch log and the exit status.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/harness.h"

using namespace kelvarin_test;

TEST(Driver, LogReportsEachFileAndGoesOnAfterAFailure) {
    Sandbox box;
    write_file(box.path("a.tex"), "a\n");
    RunResult r = run_kelvarin(box.dir, {"a.tex", "missing.tex"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "Invalid file specified\n");
    EXPECT_EQ(read_file(box.path("kelvarin.log")),
              crlf({"file : a.tex", "  parse ok", "file : missing.tex", "  parse failure"}));
    EXPECT_FALSE(file_exists(box.path("missing.wiki.txt")));
}

TEST(Driver, EmptyArgumentIsAPathThatFails) {
    Sandbox box;
    RunResult r = run_kelvarin(box.dir, {""});
    EXPECT_EQ(r.out, "Invalid file specified\n");
    EXPECT_EQ(read_file(box.path("kelvarin.log")), crlf({"file : ", "  parse failure"}));
}

TEST(Driver, DashArgumentIsAPath) {
    Sandbox box;
    write_file(box.path("-v"), "\\begin{document}\nx\n");
    RunResult r = run_kelvarin(box.dir, {"-v"});
    EXPECT_EQ(read_file(box.path("kelvarin.log")), crlf({"file : -v", "  parse ok"}));
    EXPECT_EQ(read_file(box.path("-v.wiki.txt")), crlf({"x", ""}));
}

TEST(Driver, SamePathTwiceIsConvertedTwice) {
    Sandbox box;
    write_file(box.path("a.tex"), "\\begin{document}\nx\n");
    run_kelvarin(box.dir, {"a.tex", "a.tex"});
    EXPECT_EQ(read_file(box.path("kelvarin.log")),
              crlf({"file : a.tex", "  parse ok", "file : a.tex", "  parse ok"}));
    EXPECT_EQ(read_file(box.path("a.wiki.txt")), crlf({"x", ""}));
}

TEST(Driver, LogHoldsOnlyTheLatestRun) {
    Sandbox box;
    write_file(box.path("a.tex"), "a\n");
    write_file(box.path("b.tex"), "b\n");
    run_kelvarin(box.dir, {"a.tex", "b.tex"});
    run_kelvarin(box.dir, {"b.tex"});
    EXPECT_EQ(read_file(box.path("kelvarin.log")), crlf({"file : b.tex", "  parse ok"}));
}

TEST(Driver, ArgumentBytesGoToTheLogUnchanged) {
    Sandbox box;
    const std::string name = "my paper \xe6\x95\xb0\xe5\xbc\x8f\x81\x40.tex";
    write_file(box.path(name), "\\begin{document}\n$x$\n");
    run_kelvarin(box.dir, {name});
    EXPECT_EQ(read_file(box.path("kelvarin.log")), crlf({"file : " + name, "  parse ok"}));
    const std::string stem = name.substr(0, name.size() - 4);
    EXPECT_EQ(read_file(box.path(stem + ".wiki.txt")),
              crlf({"&ref(" + stem + ".eq1.gif,,70%);", ""}));
}

TEST(Driver, NoArgumentWithoutTheDefaultInput) {
    Sandbox box;
    RunResult r = run_kelvarin(box.dir, {});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "Invalid file specified\n  parse failure\n");
    EXPECT_FALSE(file_exists(box.path("kelvarin.log")));
}

TEST(Driver, NoArgumentConvertsTheDefaultInput) {
    Sandbox box;
    mkdir(box.path("tex").c_str(), 0755);
    write_file(box.path("tex/test2.tex"), "\\begin{document}\n\\section{A}\n");
    RunResult r = run_kelvarin(box.dir, {});
    EXPECT_EQ(r.out, "  parse ok\n");
    EXPECT_EQ(read_file(box.path("tex/test2.wiki.txt")), crlf({"*A", ""}));
    EXPECT_TRUE(file_exists(box.path("tex/test2.eq.tex")));
    EXPECT_FALSE(file_exists(box.path("kelvarin.log")));
}

TEST(Driver, InputNamedLikeTheLogIsNotTruncated) {
    Sandbox box;
    const std::string source = "\\begin{document}\nkept\n";
    write_file(box.path("kelvarin.log"), source);
    RunResult r = run_kelvarin(box.dir, {"kelvarin.log"});
    EXPECT_EQ(read_file(box.path("kelvarin.log")), source);
    EXPECT_EQ(read_file(box.path("kelvarin.wiki.txt")), crlf({"kept", ""}));
}
