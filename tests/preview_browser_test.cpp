// The preview in a real browser: headless Chromium opens the preview of a
// realistic paper (converted in rich mode, its formulas rendered with TeX)
// and of a page with one of each fault the check knows, and a probe script
// reports from the DOM what a reader would meet: images that did not load,
// links to nothing, LaTeX left in the text, the check's list. A screenshot
// of each goes to test-artifacts/ in the build folder.
//
// Without Chromium (or TeX) the tests are skipped with a message saying what
// to install; where CI is set they fail instead, since CI installs both.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/harness.h"
#include "support/tex_check.h"

using namespace kelvarin_test;
namespace fs = std::filesystem;

namespace {

std::string chromium() {
    const std::string found = on_path("chromium");
    return found.empty() ? on_path("chromium-browser") : found;
}


// Skips the test when `missing` is not empty, or fails it where CI is set.
#define REQUIRE_INSTALLED(missing, install)                                                              \
    do {                                                                                                 \
        const std::string what_is_missing = (missing);                                                   \
        if (!what_is_missing.empty()) {                                                                  \
            if (std::getenv("CI")) FAIL() << what_is_missing << " is not installed, and CI needs it: " install; \
            GTEST_SKIP() << what_is_missing << " is not installed, so the preview is not checked in a browser: " \
                         install;                                                                        \
        }                                                                                                \
    } while (0)

#define REQUIRE_CHROMIUM() REQUIRE_INSTALLED(chromium().empty() ? "Chromium" : "", "apt-get install chromium")

// Runs the browser with `args` in `dir`, standard output to `out_path`, in a
// process group of its own that is killed after `seconds`. Returns the exit
// status, or -1 when it did not end in time or was killed.
int run_browser(const std::string& dir, const std::vector<std::string>& args, const std::string& out_path,
                int seconds) {
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = open("/dev/null", O_WRONLY);
        if (out < 0 || null < 0 || chdir(dir.c_str()) != 0) _exit(127);
        dup2(out, 1);
        dup2(null, 2);
        const std::string program = chromium();
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    setpgid(pid, pid);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(-pid, SIGKILL);  // helpers the browser may have left behind
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> browser_options(const Sandbox& box) {
    return {"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--hide-scrollbars",
            "--user-data-dir=" + box.path("browser-profile"), "--window-size=1100,1400"};
}

// What the probe reports, once the page and its images have loaded: one
// "name value" line per count, and one "problem: ..." line per problem.
const char* const kProbe = R"(<script>
window.addEventListener('load', function () {
  var lines = [], problems = [];
  var images = document.images;
  for (var i = 0; i < images.length; i++)
    if (!images[i].complete || images[i].naturalWidth === 0 || images[i].naturalHeight === 0)
      problems.push('image not loaded: ' + images[i].getAttribute('src'));
  var links = document.querySelectorAll('a[href^="#"]');
  for (var k = 0; k < links.length; k++) {
    var target = decodeURIComponent(links[k].getAttribute('href').slice(1));
    if (!document.getElementById(target)) problems.push('link to nothing: #' + target);
  }
  var latex = document.getElementById('page').innerText.match(/\\[A-Za-z]+/g);
  if (latex) problems.push('LaTeX in the text: ' + latex.join(' '));
  // Inline images against the text around them: the median of their
  // heights over the font size, in hundredths.
  var ratios = [], inline = document.querySelectorAll('#page p img');
  for (var n = 0; n < inline.length; n++)
    ratios.push(inline[n].getBoundingClientRect().height /
                parseFloat(getComputedStyle(inline[n].parentNode).fontSize));
  ratios.sort(function (a, b) { return a - b; });
  if (ratios.length) lines.push('inline-height ' + Math.round(100 * ratios[Math.floor(ratios.length / 2)]));
  var check = document.getElementById('check');
  lines.push('images ' + images.length, 'links ' + links.length,
             'check-items ' + check.querySelectorAll('li').length, 'check-open ' + (check.open ? 1 : 0));
  for (var p = 0; p < problems.length; p++) lines.push('problem: ' + problems[p]);
  var out = document.createElement('pre');
  out.id = 'probe-result';
  out.textContent = lines.join('\n');
  document.body.appendChild(out);
});
</script>
)";

// The probe's report on the preview `html_name` in the sandbox, read from
// the DOM the browser dumps.
std::string probe(const Sandbox& box, const std::string& html_name) {
    std::string html = read_file(box.path(html_name));
    const std::size_t body_end = html.rfind("</body>");
    if (body_end == std::string::npos) return "problem: the preview has no </body>";
    html.insert(body_end, kProbe);
    write_file(box.path("probe.html"), html);
    std::vector<std::string> args = browser_options(box);
    args.insert(args.end(), {"--virtual-time-budget=10000", "--dump-dom", "file://" + box.path("probe.html")});
    const int status = run_browser(box.dir, args, box.path("dom.html"), 120);
    if (status != 0) return "problem: the browser ended with status " + std::to_string(status);
    const std::string dom = read_file(box.path("dom.html"));
    const std::string open = "<pre id=\"probe-result\">";
    const std::size_t from = dom.find(open), to = dom.find("</pre>", from);
    if (from == std::string::npos || to == std::string::npos) return "problem: the probe did not run";
    std::string report = dom.substr(from + open.size(), to - from - open.size());
    for (const auto& [entity, character] : {std::pair<std::string, std::string>{"&lt;", "<"}, {"&gt;", ">"},
                                            {"&quot;", "\""}, {"&amp;", "&"}})
        for (std::size_t at = report.find(entity); at != std::string::npos; at = report.find(entity, at + 1))
            report.replace(at, entity.size(), character);
    return report + "\n";
}

// The value of the probe's count `name`, or -1.
long count(const std::string& report, const std::string& name) {
    const std::size_t at = report.find(name + " ");
    return at == std::string::npos ? -1 : std::strtol(report.c_str() + at + name.size() + 1, nullptr, 10);
}

// A screenshot of the preview, kept in the build folder's test-artifacts/.
void screenshot(const Sandbox& box, const std::string& html_name, const std::string& artifact) {
    fs::create_directories(KELVARIN_ARTIFACT_DIR);
    const std::string path = std::string(KELVARIN_ARTIFACT_DIR) + "/" + artifact;
    fs::remove(path);
    std::vector<std::string> args = browser_options(box);
    args.insert(args.end(), {"--virtual-time-budget=10000", "--screenshot=" + path, "file://" + box.path(html_name)});
    EXPECT_EQ(run_browser(box.dir, args, box.path("screenshot.log"), 120), 0);
    EXPECT_EQ(read_file(path).compare(0, 8, "\x89PNG\r\n\x1a\n"), 0) << "no screenshot at " << path;
    std::cout << "screenshot: " << path << "\n";
}

// bench/papers/oscillators.tex with its figure as a web image beside it.
void write_paper(const Sandbox& box) {
    std::string source = read_file(std::string(KELVARIN_SOURCE_DIR) + "/bench/papers/oscillators.tex");
    const std::string figure = "figs/energy.pdf";
    const std::size_t at = source.find(figure);
    ASSERT_NE(at, std::string::npos);
    source.replace(at, figure.size(), "energy.png");
    write_file(box.path("paper.tex"), source);
    fs::copy_file(std::string(KELVARIN_SOURCE_DIR) + "/docs/test2.eq3.png", box.path("energy.png"));
}

TEST(PreviewInBrowser, ARealisticPaperShowsEveryImageAndLinkAndNoLaTeX) {
    REQUIRE_CHROMIUM();
    REQUIRE_TEX();
    Sandbox box;
    write_paper(box);
    const RunResult converted = run_program(KELVARIN_BIN, box.dir, {"--rich", "paper.tex"});
    ASSERT_EQ(converted.exit_status, 0) << converted.err;
    const RunResult rendered = run_program(KELVARIN_RENDER_BIN, box.dir, {"paper.eq.tex"});
    ASSERT_EQ(rendered.exit_status, 0) << rendered.err;
    const RunResult previewed = run_program(KELVARIN_PREVIEW_BIN, box.dir, {"paper.wiki.txt"});
    EXPECT_EQ(previewed.exit_status, 0);
    EXPECT_EQ(previewed.err, "kelvarin-preview: nothing found; preview written to paper.preview.html\n");

    const std::string report = probe(box, "paper.preview.html");
    EXPECT_EQ(report.find("problem:"), std::string::npos) << report;
    EXPECT_GE(count(report, "images"), 40) << report;  // the figure and every formula
    EXPECT_GE(count(report, "links"), 3) << report;    // a reference, footnotes
    EXPECT_EQ(count(report, "check-items"), 0) << report;
    // A formula in the text stands at the text's size: its image, scaled by
    // the reference's percentage, about as high as a line of text.
    EXPECT_GE(count(report, "inline-height"), 50) << report;
    EXPECT_LE(count(report, "inline-height"), 200) << report;
    screenshot(box, "paper.preview.html", "preview-paper.png");
}

// One of each fault the check knows, each on a line of its own.
const char* const kFaultyPage =
    "*Faults [#faults]\r\n"
    "A figure that is not there: &ref(missing.png,,100%);\r\n"
    "|&ref(figure.pdf,,100%);|\r\n"
    "As Section ?? shows.\r\n"
    "See [[the end>#the-end]].\r\n"
    "Left over: \\emph{text}.\r\n"
    "Only ''one mark.\r\n"
    "--an item two deep\r\n"
    "\r\n"
    "|a|b|\r\n"
    "|c|\r\n"
    "\r\n"
    " a blank first\r\n";

TEST(PreviewInBrowser, ThePageWithOneOfEachFaultListsEachAtTheTop) {
    REQUIRE_CHROMIUM();
    Sandbox box;
    write_file(box.path("paper.wiki.txt"), kFaultyPage);
    write_file(box.path("figure.pdf"), "%PDF-1.4\n");
    fs::copy_file(std::string(KELVARIN_SOURCE_DIR) + "/docs/test2.eq1.png", box.path("unused.png"));
    const RunResult r = run_program(KELVARIN_PREVIEW_BIN, box.dir, {"paper.wiki.txt"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err,
              "paper.wiki.txt:2: missing image: missing.png is named here but is not in the page's folder: put it there, to upload it with the page\n"
              "paper.wiki.txt:3: not a web image: figure.pdf: the wiki shows a link to this file, not a picture; "
              "make it a gif, png, jpeg or svg\n"
              "paper.wiki.txt:4: ?? reference: \"??\" stands where LaTeX found no label for a reference: the "
              "label the source refers to is missing or misspelt there\n"
              "paper.wiki.txt:5: broken link: #the-end: no heading has this anchor\n"
              "paper.wiki.txt:6: LaTeX left: \\emph\n"
              "paper.wiki.txt:7: unbalanced emphasis: '' has no partner on its line: the wiki shows the marks as "
              "written\n"
              "paper.wiki.txt:8: list: a level-2 item (--) with no level-1 item above it: the wiki starts a new "
              "list here\n"
              "paper.wiki.txt:11: table: has 1 cell and the row above 2: the wiki starts a new table here\n"
              "paper.wiki.txt:13: line start: starts with a blank or a tab: the wiki shows it as preformatted text\n"
              "paper.wiki.txt: unused image: unused.png is on disk but the page does not name it\n"
              "kelvarin-preview: 10 findings (1 missing image, 1 not a web image, 1 ?? reference, 1 broken link, 1 LaTeX left, 1 "
              "unbalanced emphasis, 1 list, 1 table, 1 line start, 1 unused image); preview written to paper.preview.html\n");

    const std::string report = probe(box, "paper.preview.html");
    EXPECT_EQ(count(report, "check-items"), 10) << report;
    EXPECT_EQ(count(report, "check-open"), 0) << report;  // collapsed until opened
    // Every finding's line links to its block; only the link the page itself
    // breaks goes nowhere.
    EXPECT_EQ(report.substr(report.find("problem:")), "problem: link to nothing: #the-end\nproblem: LaTeX in the text: \\emph\n")
        << report;
    screenshot(box, "paper.preview.html", "preview-faults.png");
}

}  // namespace
