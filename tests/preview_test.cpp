// kelvarin-preview where no example can show it: pages that cannot be read,
// previews that cannot be written or that have a link at their name, and
// hostile pages (huge lines, openers without closers, deep nesting, any
// bytes), each run through the real executable.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>

#include "support/harness.h"

using namespace kelvarin_test;
namespace fs = std::filesystem;

namespace {

RunResult preview(const std::string& dir, const std::vector<std::string>& args, bool unprivileged = false) {
    return run_program(KELVARIN_PREVIEW_BIN, dir, args, unprivileged);
}

// Repeats `piece` `times` times.
std::string times(const std::string& piece, std::size_t count) {
    std::string out;
    out.reserve(piece.size() * count);
    for (std::size_t i = 0; i < count; ++i) out += piece;
    return out;
}

// Whether the preview is a whole HTML file: it ends as the writer ends it.
bool whole_preview(const std::string& html) {
    const std::string end = "</main>\n</body>\n</html>\n";
    return html.rfind("<!DOCTYPE html>", 0) == 0 && html.size() > end.size() &&
           html.compare(html.size() - end.size(), end.size(), end) == 0;
}

TEST(PreviewFiles, APageThatCannotBeReadIsNamedAndNoPreviewIsWritten) {
    Sandbox box;
    const RunResult missing = preview(box.dir, {"nosuch.wiki.txt"});
    EXPECT_EQ(missing.exit_status, 2);
    EXPECT_EQ(missing.err, "kelvarin-preview: cannot read nosuch.wiki.txt: No such file or directory\n");
    EXPECT_FALSE(file_exists(box.path("nosuch.preview.html")));

    fs::create_directory(box.path("folder.wiki.txt"));
    const RunResult folder = preview(box.dir, {"folder.wiki.txt"});
    EXPECT_EQ(folder.exit_status, 2);
    EXPECT_EQ(folder.err, "kelvarin-preview: cannot read folder.wiki.txt: Is a directory\n");
}

TEST(PreviewFiles, UsageErrorsSayWhatToDo) {
    Sandbox box;
    const RunResult none = preview(box.dir, {});
    EXPECT_EQ(none.exit_status, 2);
    EXPECT_EQ(none.err, "kelvarin-preview: no page given\nusage: kelvarin-preview paper.wiki.txt\n");
    const RunResult two = preview(box.dir, {"a.wiki.txt", "b.wiki.txt"});
    EXPECT_EQ(two.exit_status, 2);
    EXPECT_EQ(two.err, "kelvarin-preview: one page at a time, not 2\nusage: kelvarin-preview paper.wiki.txt\n");
    const RunResult unknown = preview(box.dir, {"--rich"});
    EXPECT_EQ(unknown.exit_status, 2);
    EXPECT_EQ(unknown.err, "kelvarin-preview: unknown option --rich\nusage: kelvarin-preview paper.wiki.txt\n");
}

TEST(PreviewFiles, TheSourceOrAStemGivenForThePageNamesThePage) {
    Sandbox box;
    write_file(box.path("paper.tex"), "\\begin{document}\n\\end{document}\n");
    write_file(box.path("paper.wiki.txt"), "Text.\r\n");
    for (const std::string given : {"paper.tex", "paper.eq.tex"}) {
        const RunResult r = preview(box.dir, {given});
        EXPECT_EQ(r.exit_status, 2);
        EXPECT_EQ(r.err, "kelvarin-preview: " + given +
                             " is a LaTeX file; give the page kelvarin wrote from it: kelvarin-preview paper.wiki.txt\n");
    }
    const RunResult stem = preview(box.dir, {"paper"});
    EXPECT_EQ(stem.exit_status, 2);
    EXPECT_EQ(stem.err, "kelvarin-preview: cannot read paper: No such file or directory (the page is paper.wiki.txt)\n");
    EXPECT_FALSE(file_exists(box.path("paper.preview.html")));
}

// Run as the user nobody, who may not write the page's folder, from a copy
// of kelvarin-preview in the sandbox (the build folder may be private).
TEST(PreviewFiles, AFolderThatTakesNoFileKeepsTheOldPreviewAndLeavesNothingBehind) {
    Sandbox box;
    fs::copy_file(KELVARIN_PREVIEW_BIN, box.path("kelvarin-preview"));
    mkdir(box.path("ro").c_str(), 0755);
    write_file(box.path("ro/paper.wiki.txt"), "*Title\r\n");
    write_file(box.path("ro/paper.preview.html"), "old");
    for (const auto& [path, mode] : {std::pair<std::string, mode_t>{box.dir, 0755}, {box.path("ro/paper.wiki.txt"), 0644},
                                     {box.path("ro/paper.preview.html"), 0644}, {box.path("ro"), 0555}})
        chmod(path.c_str(), mode);
    const RunResult r = run_program(box.path("kelvarin-preview"), box.dir, {"ro/paper.wiki.txt"}, true);
    if (r.exit_status == 126) GTEST_SKIP() << "the user nobody cannot run kelvarin-preview here: " << r.err;
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_EQ(r.err, "kelvarin-preview: cannot write ro/paper.preview.html: Permission denied\n");
    EXPECT_EQ(read_file(box.path("ro/paper.preview.html")), "old");
    std::vector<std::string> entries;
    for (const auto& entry : fs::directory_iterator(box.path("ro"))) entries.push_back(entry.path().filename());
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"paper.preview.html", "paper.wiki.txt"}));
}

TEST(PreviewFiles, ALinkAtThePreviewsNameIsReplacedNotWrittenThrough) {
    Sandbox box;
    write_file(box.path("paper.wiki.txt"), "*Title\r\n");
    write_file(box.path("precious.txt"), "keep me");
    fs::create_symlink("precious.txt", box.path("paper.preview.html"));
    const RunResult r = preview(box.dir, {"paper.wiki.txt"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(read_file(box.path("precious.txt")), "keep me");
    EXPECT_FALSE(fs::is_symlink(box.path("paper.preview.html")));
    EXPECT_TRUE(whole_preview(read_file(box.path("paper.preview.html"))));
}

TEST(PreviewFiles, ThePreviewIsNamedAfterThePageBesideIt) {
    Sandbox box;
    fs::create_directory(box.path("pages"));
    write_file(box.path("pages/notes.txt"), "Text.\n");
    const RunResult r = preview(box.dir, {"pages/notes.txt"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.err, "kelvarin-preview: nothing found; preview written to pages/notes.preview.html\n");
    EXPECT_TRUE(whole_preview(read_file(box.path("pages/notes.preview.html"))));
}

// Pages no one writes by hand but anyone can paste: each must give a whole
// preview promptly (the test's time limit bounds it), whatever it finds.
struct HostilePage {
    const char* name;
    std::string bytes;
    // What the preview must show of it, beyond being whole: "" when it does.
    std::function<std::string(const std::string& html)> shows = [](const std::string&) { return std::string(); };
};

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

// A check that the preview holds `what` exactly `n` times.
std::function<std::string(const std::string&)> holds(std::string what, std::size_t n) {
    return [what, n](const std::string& html) {
        const std::size_t found = occurrences(html, what);
        return found == n ? std::string()
                          : what + " " + std::to_string(found) + " times, not " + std::to_string(n);
    };
}

// The deepest nesting of blocks in the preview: quotations, lists and their
// items inside each other.
std::size_t deepest_blocks(const std::string& html) {
    std::size_t depth = 0, deepest = 0;
    for (std::size_t at = html.find('<'); at != std::string::npos; at = html.find('<', at + 1)) {
        const bool closing = html.compare(at + 1, 1, "/") == 0;
        const std::size_t name = at + (closing ? 2 : 1);
        for (const char* tag : {"blockquote", "ul", "ol", "dl", "li", "dd", "dt"}) {
            const std::size_t n = std::char_traits<char>::length(tag);
            if (html.compare(name, n, tag) != 0 || (html[name + n] != '>' && html[name + n] != ' ')) continue;
            depth = closing ? (depth ? depth - 1 : 0) : depth + 1;
            deepest = std::max(deepest, depth);
        }
    }
    return deepest;
}

std::vector<HostilePage> hostile_pages() {
    std::mt19937 random(7);
    std::string noise(1 << 20, '\0');
    for (char& c : noise) c = static_cast<char>(random() & 0xFF);
    std::string alternating, code_openers;
    for (int i = 0; i < 50000; ++i) alternating += std::string(static_cast<std::size_t>(i % 3 + 1), '>') + "a\r\n-b\r\n";
    for (int i = 0; i < 20000; ++i) code_openers += "#code(C){{\r\n";
    std::string headings;
    for (int i = 0; i < 5000; ++i) headings += "*Part " + std::to_string(i) + " [#p" + std::to_string(i) + "]\r\n#contents\r\n";
    return {
        // Shown as written: no link opens.
        {"link openers without a close", times("[[", 500000) + "\r\n", holds("[[", 500000)},
        {"link openers and one close", times("[[a>", 200000) + "]]\r\n"},
        {"links to another wiki's names", times("[[a:", 200000) + times("]]", 3) + "\r\n"},
        {"footnote openers", times("((", 500000) + times("))", 3) + "\r\n"},
        // Sixteen footnotes, one in the other; the rest is text.
        {"footnotes nested deep", times("((", 200000) + times("))", 200000) + "\r\n", holds("class=\"small\"", 16)},
        {"plug-in calls without an end", times("&a(", 300000) + "\r\n"},
        {"plug-in bodies without an end", times("&a{", 300000) + "\r\n"},
        {"emphasis marks", times("''x", 300000) + "\r\n" + times("%%", 300000) + "\r\n"},
        {"a line of 16 MiB", std::string(16 << 20, 'a') + "\r\n"},
        {"a table row of a million cells", times("|", 1000000) + "\r\n"},
        {"spanned cells", times(times("|~", 2000) + "|\r\n", 200) + times(times("|>", 2000) + "|\r\n", 200)},
        // Blocks nest 48 deep at most, then start again on the page.
        {"quotations and lists in turn", alternating,
         [](const std::string& html) {
             const std::size_t deepest = deepest_blocks(html);
             return deepest >= 40 && deepest <= 48 ? std::string()
                                                    : "blocks nested " + std::to_string(deepest) + " deep";
         }},
        {"code blocks never closed", code_openers},
        // One table of contents, and links to it.
        {"a table of contents under every heading", headings, holds("the table of contents, as above", 4999)},
        {"any bytes", noise},
    };
}

TEST(PreviewHostile, EveryPageGivesAWholePreview) {
    for (const HostilePage& page : hostile_pages()) {
        Sandbox box;
        write_file(box.path("paper.wiki.txt"), page.bytes);
        const RunResult r = preview(box.dir, {"paper.wiki.txt"});
        EXPECT_TRUE(r.exit_status == 0 || r.exit_status == 1) << page.name << ": " << r.exit_status;
        EXPECT_TRUE(whole_preview(read_file(box.path("paper.preview.html")))) << page.name;
        EXPECT_NE(r.err.find("preview written to paper.preview.html\n"), std::string::npos) << page.name;
        EXPECT_EQ(page.shows(read_file(box.path("paper.preview.html"))), "") << page.name;
    }
}

}  // namespace
