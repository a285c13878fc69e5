// Runs the examples of one file under tests/preview-examples through the real
// kelvarin-preview executable, one test per example; the folder's README.md
// describes the file format.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <set>
#include <sstream>

#include "support/example_main.h"
#include "support/harness.h"

using namespace kelvarin_test;

namespace {

const std::string kNothingFound = "kelvarin-preview: nothing found; preview written to paper.preview.html";

std::vector<Example> parse(const std::string& text) {
    static const ExampleFormat format = {{"html", "check", "exit", "run", "stdout"}, {"file", "image"}, {}};
    return parse_examples(text, format);
}

void put_u16le(std::string& b, unsigned v) { b += static_cast<char>(v & 0xFF), b += static_cast<char>(v >> 8); }
void put_u32be(std::string& b, unsigned long v) {
    for (int shift = 24; shift >= 0; shift -= 8) b += static_cast<char>((v >> shift) & 0xFF);
}
unsigned long crc32(const std::string& bytes) {
    unsigned long crc = 0xFFFFFFFFul;
    for (const char c : bytes) {
        crc ^= static_cast<unsigned char>(c);
        for (int k = 0; k < 8; ++k) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320ul : crc >> 1;
    }
    return crc ^ 0xFFFFFFFFul;
}

// The header of an image of that size in the format its name's extension
// says: what kelvarin-preview reads of it.
std::string image_bytes(const std::string& name, unsigned w, unsigned h) {
    std::string ext = name.substr(name.rfind('.') + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string b;
    if (ext == "gif") {
        b = "GIF89a";
        put_u16le(b, w), put_u16le(b, h);
        b += std::string("\x00\x00\x00", 3);
    } else if (ext == "png") {
        b = "\x89PNG\r\n\x1a\n";
        std::string chunk = "IHDR";
        put_u32be(chunk, w), put_u32be(chunk, h);
        chunk += std::string("\x08\x06\x00\x00\x00", 5);
        put_u32be(b, 13);
        b += chunk;
        put_u32be(b, crc32(chunk));
    } else if (ext == "jpg" || ext == "jpeg") {
        b = std::string("\xFF\xD8\xFF\xC0\x00\x11\x08", 7);
        b += static_cast<char>(h >> 8), b += static_cast<char>(h & 0xFF);
        b += static_cast<char>(w >> 8), b += static_cast<char>(w & 0xFF);
        b += std::string("\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01\xFF\xD9", 12);
    } else if (ext == "svg") {
        b = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(w) + "\" height=\"" +
            std::to_string(h) + "\"></svg>\n";
    } else {
        b = "%PDF-1.4\n";
    }
    return b;
}

// The lines between <main id="page"> and </main>.
std::string page_part(const std::string& html) {
    const std::string open = "<main id=\"page\">\n", close = "</main>\n";
    const std::size_t a = html.find(open), b = html.rfind(close);
    if (a == std::string::npos || b == std::string::npos || b < a) return html;
    return html.substr(a + open.size(), b - a - open.size());
}

// A line diff: " " in both, "-" expected only, "+" actual only.
std::string diff(const std::string& want, const std::string& got) {
    const auto split = [](const std::string& s) {
        std::vector<std::string> lines;
        for (std::size_t start = 0, end = 0; end != std::string::npos && start < s.size(); start = end + 1) {
            end = s.find('\n', start);
            lines.push_back(encode(s.substr(start, end - start)));
        }
        return lines;
    };
    const std::vector<std::string> a = split(want), b = split(got);
    const std::size_t n = a.size(), m = b.size();
    if (n * m > 10000000) return "  (too many lines to compare)\n";
    std::vector<std::vector<std::size_t>> common(n + 1, std::vector<std::size_t>(m + 1));
    for (std::size_t i = n; i-- > 0;)
        for (std::size_t j = m; j-- > 0;)
            common[i][j] = a[i] == b[j] ? common[i + 1][j + 1] + 1 : std::max(common[i + 1][j], common[i][j + 1]);
    std::string out;
    for (std::size_t i = 0, j = 0; i < n || j < m;) {
        const bool both = i < n && j < m && a[i] == b[j];
        const bool added = !both && j < m && (i == n || common[i][j + 1] > common[i + 1][j]);
        out += std::string(both ? "  " : added ? "+ " : "- ") + (added || both ? b[j++] : a[i]) + "\n";
        i += !added;
    }
    return out;
}

std::string run_example(const Example& ex) {
    Sandbox box;
    std::vector<std::pair<std::string, std::string>> inputs;
    inputs.push_back({"paper.wiki.txt", join(*ex.find(""), "\r\n")});
    for (const auto& [marker, lines] : ex.sections) {
        if (marker.rfind("file ", 0) == 0) inputs.push_back({decode(marker.substr(5)), join(lines, "\n")});
        if (marker.rfind("image ", 0) == 0) {
            std::istringstream words(marker.substr(6));
            std::string name, size;
            words >> name >> size;
            unsigned w = 0, h = 0;
            if (std::sscanf(size.c_str(), "%ux%u", &w, &h) != 2) return "--- image needs NAME WxH\n";
            inputs.push_back({decode(name), image_bytes(name, w, h)});
        }
    }
    for (const auto& [name, bytes] : inputs) {
        std::filesystem::create_directories(std::filesystem::path(box.path(name)).parent_path());
        write_file(box.path(name), bytes);
    }
    std::vector<std::string> args;
    if (!ex.find("run")) args.push_back("paper.wiki.txt");
    for (const Line& line : ex.find("run") ? *ex.find("run") : Lines{}) args.push_back(decode(line.text));
    const RunResult r = run_program(KELVARIN_PREVIEW_BIN, box.dir, args);

    std::string report;
    const auto check = [&](const std::string& what, const std::string& want, const std::string& got) {
        if (got != want) report += what + " differs (- expected, + actual):\n" + diff(want, got);
    };
    if (const Lines* html = ex.find("html")) {
        if (!file_exists(box.path("paper.preview.html"))) report += "paper.preview.html was not written\n";
        else check("the page's HTML", join(*html, "\n"), page_part(read_file(box.path("paper.preview.html"))));
    }
    const Lines* stderr_lines = ex.find("check");
    check("the check (standard error)", stderr_lines ? join(*stderr_lines, "\n") : kNothingFound + "\n", r.err);
    const Lines* out_lines = ex.find("stdout");
    check("standard output", out_lines ? join(*out_lines, "\n") : "", r.out);
    const Lines* exit_lines = ex.find("exit");
    check("the exit status", exit_lines ? join(*exit_lines, "\n") : "0\n", std::to_string(r.exit_status) + "\n");
    for (const auto& [name, bytes] : inputs)
        if (read_file(box.path(name)) != bytes) report += "the run changed its input " + encode(name) + "\n";
    return report;
}

}  // namespace

int main(int argc, char** argv) {
    return example_main(argc, argv, "kelvarin_preview_examples", "preview_", parse, run_example);
}
