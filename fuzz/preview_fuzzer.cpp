// libFuzzer target: previews arbitrary bytes as a wiki page, its images
// looked for in a folder of its own that holds a few, and checks, on every
// run, the promises the preview makes to the browser and the reader:
//   - the preview is valid UTF-8 with no control byte other than LF and TAB;
//   - it is one whole document, from "<!DOCTYPE html>" to "</html>";
//   - the check's list at its top has one entry per finding;
//   - every finding names a line of the page, or none.
// Any broken promise aborts, which libFuzzer reports as a finding.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "preview/preview.h"
#include "support/file_bytes.h"

namespace {

[[noreturn]] void broken(const char* promise) {
    std::fprintf(stderr, "broken promise: %s\n", promise);
    std::abort();
}

// A folder with a formula image, a figure and a file that is no image, so
// that references to them take every way the image plug-in has.
const std::string& image_dir() {
    static const std::string dir = [] {
        std::string templ = (std::filesystem::temp_directory_path() / "kelvarin-preview-fuzz-XXXXXX").string();
        if (mkdtemp(templ.data()) == nullptr) std::abort();
        kelvarin_test::write_file(templ + "/paper.eq1.gif", std::string("GIF89a\x14\x00\x0a\x00\x00\x00\x00", 13));
        kelvarin_test::write_file(templ + "/plot.png", std::string("\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR"
                                                                   "\x00\x00\x01\x00\x00\x00\x00\x80\x08\x06\x00\x00\x00",
                                                                   29));
        kelvarin_test::write_file(templ + "/figure.pdf", "%PDF-1.4\n");
        std::filesystem::create_directory(templ + "/figs");
        kelvarin_test::write_file(templ + "/figs/a.svg", "<svg width=\"10pt\" height=\"5pt\"></svg>");
        return templ;
    }();
    return dir;
}

bool valid_utf8_text(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F) return false;
            ++i;
            continue;
        }
        const std::size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        if (c < 0xC2 || c > 0xF4 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

std::size_t count(const std::string& s, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + what.size())) ++n;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string page(reinterpret_cast<const char*>(data), size);
    const kelvarin::preview::Preview preview = kelvarin::preview::make_preview(page, "paper.wiki.txt", image_dir());
    const std::string& html = preview.html;
    if (!valid_utf8_text(html)) broken("the preview is UTF-8 without control bytes");
    const std::string end = "</html>\n";
    if (html.rfind("<!DOCTYPE html>", 0) != 0 || html.size() < end.size() ||
        html.compare(html.size() - end.size(), end.size(), end) != 0)
        broken("the preview is one whole document");
    const std::size_t list_end = html.find("</details>");
    if (list_end == std::string::npos || count(html.substr(0, list_end), "<li>") != preview.findings.size())
        broken("the check's list has one entry per finding");
    const std::size_t lines = count(page, "\n") + (page.empty() || page.back() == '\n' ? 0 : 1);
    for (const auto& finding : preview.findings)
        if (finding.line < 0 || static_cast<std::size_t>(finding.line) > lines) broken("a finding names a line of the page");
    return 0;
}
