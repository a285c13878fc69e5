// Runs the examples of one file under tests/preview-examples through the real
// kelvarin-preview executable, one test per example; the folder's README.md
// describes the file format.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <set>
#include <sstream>

#include "support/harness.h"

using namespace kelvarin_test;

namespace {

const std::string kFence(32, '`');
const std::string kNothingFound = "kelvarin-preview: nothing found; preview written to paper.preview.html";

struct Line {
    std::string text;  // in the notation
    int at;            // its line in the example file
};
using Lines = std::vector<Line>;
struct Example {
    int at = 0;  // the line of the opening fence
    std::vector<std::pair<std::string, Lines>> sections;  // marker without "--- " ("" for the page), lines
    const Lines* find(const std::string& marker) const {
        for (const auto& [m, lines] : sections)
            if (m == marker) return &lines;
        return nullptr;
    }
};

std::runtime_error error_at(int at, const std::string& why) {
    return std::runtime_error("line " + std::to_string(at) + ": " + why);
}

// Whether s[i] starts a UTF-8 sequence, and its length.
bool utf8_at(const std::string& s, std::size_t i, std::size_t& n) {
    const unsigned char c = s[i], d = i + 1 < s.size() ? s[i + 1] : 0;
    n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    for (std::size_t k = 1; k < n; ++k)
        if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    return n == 1 || (c >= 0xC2 && c <= 0xF4 && !(c == 0xE0 && d < 0xA0) && !(c == 0xED && d > 0x9F) &&
                      !(c == 0xF0 && d < 0x90) && !(c == 0xF4 && d > 0x8F));
}

// The length of the notation name at s[i] (0 if none) and its bytes.
std::size_t name_at(const std::string& s, std::size_t i, std::string& bytes) {
    static const std::pair<std::string, std::string> names[] = {
        {"<SP>", " "}, {"<TAB>", "\t"}, {"<CR>", "\r"}, {"<LT>", "<"}};
    for (const auto& [name, b] : names)
        if (s.compare(i, name.size(), name) == 0) return bytes = b, name.size();
    const std::string hex = "0123456789ABCDEF";
    const std::size_t high = s.size() > i + 4 && s[i + 4] == '>' ? hex.find(s[i + 2]) : std::string::npos;
    if (s.compare(i, 2, "<x") != 0 || high == std::string::npos || hex.find(s[i + 3]) == std::string::npos) return 0;
    bytes.assign(1, static_cast<char>(high * 16 + hex.find(s[i + 3])));
    return 5;
}

std::string decode(const std::string& text) {
    std::string out, bytes;
    for (std::size_t i = 0, n; i < text.size(); i += n) {
        n = text[i] == '<' ? name_at(text, i, bytes) : 0;
        if (n == 0) out += text[i++];
        else out += bytes;
    }
    return out;
}

std::string join(const Lines& lines, const std::string& eol) {
    std::string out;
    for (const Line& line : lines) out += decode(line.text) + eol;
    return out;
}

// Bytes to the notation, to show a line that differs.
std::string encode(const std::string& s) {
    std::string out, bytes;
    for (std::size_t i = 0, n = 1; i < s.size(); i += n, n = 1) {
        const unsigned char c = s[i];
        char hex[8];
        std::snprintf(hex, sizeof hex, "<x%02X>", c);
        if (c == ' ' && i + 1 == s.size()) out += "<SP>";
        else if (c == '\t' || c == '\r') out += c == '\t' ? "<TAB>" : "<CR>";
        else if (c == '<' && name_at(s, i, bytes)) out += "<LT>";
        else if (c < 0x20 || c == 0x7F || !utf8_at(s, i, n)) out += hex, n = 1;
        else out.append(s, i, n);
    }
    return out;
}

std::vector<Example> parse(const std::string& text) {
    static const std::set<std::string> plain = {"html", "check", "exit", "run", "stdout"};
    std::vector<Example> examples;
    bool inside = false;
    int at = 1;
    for (std::size_t start = 0, end; start < text.size(); start = end + 1, ++at) {
        end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        for (std::size_t i = 0, n; i < line.size(); i += n)
            if (!utf8_at(line, i, n) || static_cast<unsigned char>(line[i]) < 0x20 || line[i] == 0x7F)
                throw error_at(at, "a tab, CR, control byte or non-UTF-8 byte: write <TAB>, <CR> or <xHH>");
        if (!line.empty() && line.back() == ' ') throw error_at(at, "a blank ends the line: write it as <SP>");
        const std::string marker = line.compare(0, 4, "--- ") == 0 ? line.substr(4) : "";
        const std::string name = marker.substr(0, marker.find(' '));
        if (!inside && line.compare(0, 32, kFence) == 0) {
            if (line != kFence + " example") throw error_at(at, "an example opens with " + kFence + " example");
            examples.push_back({at, {{"", {}}}});
            inside = true;
        } else if (inside && line == kFence) {
            inside = false;
        } else if (inside && line.compare(0, 32, kFence) == 0) {
            throw error_at(at, "a content line that starts a fence: write its first byte as <x60>");
        } else if (inside && !marker.empty()) {
            const bool named = name == "file" || name == "image";
            if (named ? marker.size() <= name.size() + 1 : !plain.count(name) || marker != name)
                throw error_at(at, "not a section marker; a content line writes its first byte as <x2D>");
            if (examples.back().find(marker)) throw error_at(at, "section given twice");
            examples.back().sections.push_back({marker, {}});
        } else if (inside) {
            examples.back().sections.back().second.push_back({line, at});
        }
    }
    if (inside) throw error_at(examples.back().at, "example not closed by " + kFence);
    if (examples.empty()) throw std::runtime_error("no example in the file");
    return examples;
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

struct ExampleTest : testing::Test {
    ExampleTest(const std::string& f, const Example& e) : file(f), ex(e) {}
    void TestBody() override {
        const std::string report = run_example(ex);
        if (!report.empty()) ADD_FAILURE_AT(file.c_str(), ex.at) << "the example's outputs differ\n" << report;
    }
    std::string file;
    Example ex;
};

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc != 2) return std::cerr << "usage: kelvarin_preview_examples FILE.md\n", 2;
    const std::string file = argv[1];
    std::vector<Example> examples;
    try {
        examples = parse(read_file(file));
    } catch (const std::exception& e) {
        return std::cerr << file << ": " << e.what() << "\n", 1;
    }
    std::string suite = "preview_" + std::filesystem::path(file).stem().string();
    std::replace(suite.begin(), suite.end(), '-', '_');
    for (const Example& ex : examples)
        testing::RegisterTest(suite.c_str(), ("line" + std::to_string(ex.at)).c_str(), nullptr, nullptr, file.c_str(),
                              ex.at, [file, ex]() -> testing::Test* { return new ExampleTest(file, ex); });
    return RUN_ALL_TESTS();
}
