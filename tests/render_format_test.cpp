// kelvarin-render's kept formats, on real TeX: latex starts from the dumped
// preamble only while all it was made from is unchanged, its images are the
// bytes a run without it makes, a format latex cannot load costs nothing but
// time, and a cache folder others may write to is not used.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/harness.h"
#include "support/tex_check.h"

using namespace kelvarin_test;
namespace fs = std::filesystem;

namespace {

// The formats' cache of one test: its own folder, set for the runs it makes.
struct CacheFolder {
    Sandbox box;
    std::string old;
    CacheFolder() {
        const char* was = std::getenv("XDG_CACHE_HOME");
        old = was ? was : "";
        setenv("XDG_CACHE_HOME", box.dir.c_str(), 1);
    }
    ~CacheFolder() {
        if (old.empty()) unsetenv("XDG_CACHE_HOME");
        else setenv("XDG_CACHE_HOME", old.c_str(), 1);
    }
    std::string folder() const { return box.path("kelvarin-render"); }
    // The kept files with this extension.
    std::vector<std::string> kept(const std::string& extension) const {
        std::vector<std::string> found;
        std::error_code ec;
        for (fs::directory_iterator it(folder(), ec); !ec && it != fs::directory_iterator(); it.increment(ec))
            if (it->path().extension() == extension) found.push_back(it->path().string());
        return found;
    }
};

RunResult render(const std::string& dir, const std::vector<std::string>& args) {
    return run_program(KELVARIN_RENDER_BIN, dir, args);
}

void convert(const Sandbox& box, const std::string& body) {
    write_file(box.path("paper.tex"),
               "\\documentclass{article}\n\\usepackage{mine}\n\\begin{document}\n" + body + "\\end{document}\n");
    ASSERT_EQ(run_kelvarin(box.dir, {"--stable-names", "paper.tex"}).exit_status, 0);
}

// The name of the page's first image.
std::string image_of(const Sandbox& box) {
    const std::string page = read_file(box.path("paper.wiki.txt"));
    const std::size_t at = page.find("&ref(");
    EXPECT_NE(at, std::string::npos) << page;
    if (at == std::string::npos) return "";
    const std::size_t end = page.find_first_of(",)", at);
    return page.substr(at + 5, end - at - 5);
}

// Sets a file's modification time back, so that a later touch shows.
void set_old(const std::string& path) {
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    utimensat(AT_FDCWD, path.c_str(), old, 0);
}

long long modified(const std::string& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return static_cast<long long>(st.st_mtim.tv_sec);
}

// A paper with a style file of its own, converted and rendered, then
// rendered again with one image to make: a paper rendered again is being
// edited, and that render keeps a format of its preamble. Returns the
// name of that image.
std::string render_first(const Sandbox& box, const CacheFolder& cache) {
    write_file(box.path("mine.sty"), "\\newcommand{\\vv}{\\mathbf{v}}\n");
    convert(box, "Let $\\vv + 1$ and $\\vv + 0$.\n");
    RunResult r = render(box.dir, {"paper.eq.tex"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_TRUE(cache.kept(".fmt").empty()) << "a first render of a small paper waits for no format";
    const std::string name = image_of(box);
    fs::remove(box.path(name));
    r = render(box.dir, {"paper.eq.tex"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(cache.kept(".fmt").size(), 1u);
    EXPECT_EQ(cache.kept(".inputs").size(), 1u);
    return name;
}

}  // namespace

TEST(RenderFormat, ImagesFromAKeptFormatAreTheBytesOfAFreshRun) {
    REQUIRE_TEX();
    CacheFolder cache;
    Sandbox box;
    const std::string name = render_first(box, cache);
    const std::string first = read_file(box.path(name));
    ASSERT_EQ(cache.kept(".inputs").size(), 1u);

    // The next render of the same paper starts from the kept format (and
    // marks it used).
    const std::string inputs = cache.kept(".inputs")[0];
    set_old(inputs);
    fs::remove(box.path(name));
    const RunResult r = render(box.dir, {"paper.eq.tex"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_GT(modified(inputs), 1000000000LL) << "the kept format was not used";
    EXPECT_EQ(read_file(box.path(name)), first);
    EXPECT_EQ(cache.kept(".fmt").size(), 1u);
}

TEST(RenderFormat, AnEditedStyleFileIsReadAgain) {
    REQUIRE_TEX();
    CacheFolder cache;
    Sandbox box;
    render_first(box, cache);

    // The style file changes, and so does the formula: its image must be
    // made with the new definition, as in a folder never rendered before.
    write_file(box.path("mine.sty"), "\\newcommand{\\vv}{\\mathit{w}}\n");
    convert(box, "Let $\\vv + 2$ and $\\vv + 0$.\n");
    RunResult r = render(box.dir, {"paper.eq.tex"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    const std::string name = image_of(box);

    CacheFolder none;
    Sandbox fresh;
    write_file(fresh.path("mine.sty"), "\\newcommand{\\vv}{\\mathit{w}}\n");
    convert(fresh, "Let $\\vv + 2$ and $\\vv + 0$.\n");
    ASSERT_EQ(render(fresh.dir, {"paper.eq.tex"}).exit_status, 0);
    EXPECT_EQ(read_file(box.path(name)), read_file(fresh.path(name)));
}

TEST(RenderFormat, AFormatLatexCannotLoadCostsOnlyTime) {
    REQUIRE_TEX();
    CacheFolder cache;
    Sandbox box;
    const std::string name = render_first(box, cache);
    const std::string first = read_file(box.path(name));
    ASSERT_EQ(cache.kept(".fmt").size(), 1u);

    // Garbage in place of the format, its size and time kept: it passes the
    // cache's look, and latex cannot load it.
    const std::string format = cache.kept(".fmt")[0];
    struct stat st {};
    ASSERT_EQ(lstat(format.c_str(), &st), 0);
    const int fd = open(format.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const std::string garbage(4096, 'x');
    ASSERT_EQ(pwrite(fd, garbage.data(), garbage.size(), 0), static_cast<ssize_t>(garbage.size()));
    close(fd);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    utimensat(AT_FDCWD, format.c_str(), times, 0);

    fs::remove(box.path(name));
    const RunResult r = render(box.dir, {"paper.eq.tex"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(r.err.find("1 of 2 images written, 1 unchanged, 0 failed"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(box.path(name)), first);
}

TEST(RenderFormat, ACacheFolderOthersMayWriteToIsNotUsed) {
    REQUIRE_TEX();
    CacheFolder cache;
    ASSERT_EQ(mkdir(cache.folder().c_str(), 0700), 0);
    ASSERT_EQ(chmod(cache.folder().c_str(), 0777), 0);
    Sandbox box;
    write_file(box.path("mine.sty"), "\\newcommand{\\vv}{\\mathbf{v}}\n");
    convert(box, "Let $\\vv + 1$ and $\\vv + 0$.\n");
    ASSERT_EQ(render(box.dir, {"paper.eq.tex"}).exit_status, 0);
    fs::remove(box.path(image_of(box)));
    const RunResult r = render(box.dir, {"paper.eq.tex"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_TRUE(cache.kept(".fmt").empty());
    EXPECT_TRUE(cache.kept(".inputs").empty());
}
