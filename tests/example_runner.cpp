// Runs the examples of one file under tests/examples through the real kelvarin executable, one
// test per example; tests/examples/README.md describes the file format.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <set>
#include <sstream>

#include "support/harness.h"

using namespace kelvarin_test;

namespace {

const std::string kFence(32, '`');

struct Line {
    std::string text;  // in the notation
    int at;            // its line in the example file
};
using Lines = std::vector<Line>;
struct Example {
    int at;             // the line of the opening fence
    std::string words;  // after "example", each between blanks
    std::vector<std::pair<std::string, Lines>> sections;  // marker without "--- " ("" for the input), lines
    const Lines* find(const std::string& marker) const {
        for (const auto& [m, lines] : sections)
            if (m == marker) return &lines;
        return nullptr;
    }
};

std::runtime_error error_at(int at, const std::string& why) {
    return std::runtime_error("line " + std::to_string(at) + ": " + why);
}

// Whether s[i] starts a UTF-8 sequence (no overlong form, no surrogate), and its length.
bool utf8_at(const std::string& s, std::size_t i, std::size_t& n) {
    const unsigned char c = s[i], d = i + 1 < s.size() ? s[i + 1] : 0;
    n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    for (std::size_t k = 1; k < n; ++k)
        if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    return n == 1 || (c >= 0xC2 && c <= 0xF4 && !(c == 0xE0 && d < 0xA0) && !(c == 0xED && d > 0x9F) &&
                      !(c == 0xF0 && d < 0x90) && !(c == 0xF4 && d > 0x8F));
}

// The length of the notation name at s[i] (0 if none) and its bytes; <NO-EOL> has none.
std::size_t name_at(const std::string& s, std::size_t i, std::string& bytes) {
    static const std::pair<std::string, std::string> names[] = {
        {"<SP>", " "}, {"<TAB>", "\t"}, {"<CR>", "\r"}, {"<LT>", "<"}, {"<NO-EOL>", ""}};
    for (const auto& [name, b] : names)
        if (s.compare(i, name.size(), name) == 0) return bytes = b, name.size();
    const std::string hex = "0123456789ABCDEF";
    const std::size_t high = s.size() > i + 4 && s[i + 4] == '>' ? hex.find(s[i + 2]) : std::string::npos;
    if (s.compare(i, 2, "<x") != 0 || high == std::string::npos || hex.find(s[i + 3]) == std::string::npos) return 0;
    bytes.assign(1, static_cast<char>(high * 16 + hex.find(s[i + 3])));
    return 5;
}

// A line in the notation to bytes; `no_eol` is given for a section's last line only.
std::string decode(const Line& line, bool* no_eol = nullptr) {
    std::string out, bytes;
    for (std::size_t i = 0, n; i < line.text.size(); i += n) {
        n = line.text[i] == '<' ? name_at(line.text, i, bytes) : 0;
        if (n == 0) out += line.text[i++];
        else if (!bytes.empty()) out += bytes;
        else if (no_eol && i + n == line.text.size()) *no_eol = true;
        else throw error_at(line.at, "<NO-EOL> ends the last line of a section only");
    }
    return out;
}

// Lines as bytes, each followed by `eol` unless the last ends with <NO-EOL>.
std::string join(const Lines& lines, const std::string& eol) {
    std::string out;
    bool no_eol = false;
    for (const Line& line : lines) {
        out += decode(line, &line == &lines.back() ? &no_eol : nullptr);
        if (!no_eol) out += eol;
    }
    return out;
}

// Bytes to the notation, to show a line that differs.
std::string encode(const std::string& s) {
    std::string out, bytes;
    for (std::size_t i = 0, n = 1; i < s.size(); i += n, n = 1) {
        const unsigned char c = s[i];
        char hex[8];
        std::snprintf(hex, sizeof hex, "<x%02X>", c);
        const bool marker = i == 0 && (s.compare(0, 4, "--- ") == 0 || s.compare(0, 32, kFence) == 0);
        if (c == ' ' && i + 1 == s.size()) out += "<SP>";
        else if (c == '\t' || c == '\r') out += c == '\t' ? "<TAB>" : "<CR>";
        else if (c == '<' && name_at(s, i, bytes)) out += "<LT>";
        else if (c < 0x20 || c == 0x7F || marker || !utf8_at(s, i, n)) out += hex, n = 1;
        else out.append(s, i, n);
    }
    return out;
}

std::vector<Example> parse(const std::string& text) {
    static const std::set<std::string> plain = {"wiki", "pages", "preamble", "eq.tex", "log",
                                                "stdout", "stderr", "exit", "run", "absent"};
    std::vector<Example> examples;
    bool inside = false;
    int at = 1;
    for (std::size_t start = 0, end; start < text.size(); start = end + 1, ++at) {
        end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        // Nothing invisible may hide in an example file.
        for (std::size_t i = 0, n; i < line.size(); i += n)
            if (!utf8_at(line, i, n) || static_cast<unsigned char>(line[i]) < 0x20 || line[i] == 0x7F)
                throw error_at(at, "a tab, CR, control byte or non-UTF-8 byte: write <TAB>, <CR> or <xHH>");
        if (!line.empty() && line.back() == ' ') throw error_at(at, "a blank ends the line: write it as <SP>");
        const std::string marker = line.compare(0, 4, "--- ") == 0 ? line.substr(4) : "";
        const std::string name = marker.substr(0, marker.find(' '));
        if (!inside && line.compare(0, 32, kFence) == 0) {
            bool opens = line.compare(32, 8, " example") == 0 && (line.size() == 40 || line[40] == ' ');
            examples.push_back({at, " ", {{"", {}}}});
            std::istringstream words(line.substr(std::min<std::size_t>(40, line.size())));
            for (std::string word; words >> word; examples.back().words += word + " ")
                opens = opens && (word == "source" || word == "rich");
            if (!opens) throw error_at(at, "an example opens with " + kFence + " example, then source or rich");
            inside = true;
        } else if (inside && line == kFence) {
            const Example& ex = examples.back();
            if (ex.find("preamble") && !ex.find("pages")) throw error_at(at, "--- preamble without --- pages");
            for (const auto& section : ex.sections) join(section.second, "\n");  // checks the notation
            inside = false;
        } else if (inside && line.compare(0, 32, kFence) == 0) {
            throw error_at(at, "a content line that starts a fence: write its first byte as <x60>");
        } else if (inside && !marker.empty()) {
            const bool named = name == "file" || name == "out";
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

// Bytes split at `eol` into lines in the notation; a last line without its end gets <NO-EOL>.
std::vector<std::string> lines_of(const std::string& bytes, const std::string& eol) {
    std::vector<std::string> lines;
    for (std::size_t start = 0, end = 0; end != std::string::npos && start < bytes.size(); start = end + eol.size()) {
        end = bytes.find(eol, start);
        lines.push_back(encode(bytes.substr(start, end - start)) + (end == std::string::npos ? "<NO-EOL>" : ""));
    }
    return lines;
}

// A line diff: " " in both, "-" expected only, "+" actual only. Expected lines that come from
// `source`, in order, carry their line in the example file.
std::string diff(const std::string& want, const Lines& source, const std::string& eol, const std::string& got) {
    const std::vector<std::string> a = lines_of(want, eol), b = lines_of(got, eol);
    const std::size_t n = a.size(), m = b.size();
    if (n * m > 10000000) return "  (" + std::to_string(m) + " lines, too many to compare)\n";
    std::vector<std::vector<std::size_t>> common(n + 1, std::vector<std::size_t>(m + 1));
    for (std::size_t i = n; i-- > 0;)
        for (std::size_t j = m; j-- > 0;)
            common[i][j] = a[i] == b[j] ? common[i + 1][j + 1] + 1 : std::max(common[i + 1][j], common[i][j + 1]);
    std::vector<std::string> numbers(n);
    for (std::size_t i = 0, k = 0; i < n && k < source.size(); ++i)
        if (lines_of(join({source[k]}, eol), eol) == std::vector<std::string>{a[i]})
            numbers[i] = std::to_string(source[k++].at);
    std::string out;
    for (std::size_t i = 0, j = 0; i < n || j < m;) {
        const bool both = i < n && j < m && a[i] == b[j];
        const bool added = !both && j < m && (i == n || common[i][j + 1] > common[i + 1][j]);
        char head[24];
        std::snprintf(head, sizeof head, "%c %5s | ", both ? ' ' : added ? '+' : '-', added ? "" : numbers[i].c_str());
        out += head + (added || both ? b[j++] : a[i]) + "\n";
        i += !added;
    }
    return out;
}

// Runs one example in a fresh sandbox; returns what differs, or nothing.
std::string run_example(const Example& ex) {
    Sandbox box;
    std::vector<std::pair<std::string, std::string>> inputs;  // name, content
    std::set<std::string> stated = {ex.find("log") ? "kelvarin.log" : ""};  // their content after the run is given
    const Lines& input = *ex.find("");
    if (!input.empty() || std::none_of(ex.sections.begin(), ex.sections.end(),
                                       [](const auto& s) { return s.first.rfind("file ", 0) == 0; })) {
        const std::string body = join(input, "\n");
        const bool source = ex.words.find(" source ") != std::string::npos;
        inputs.push_back({"paper.tex", source ? body : "\\begin{document}\n" + body + "\\end{document}\n"});
    }
    for (const auto& [marker, lines] : ex.sections) {
        if (marker.rfind("file ", 0) == 0) inputs.push_back({decode({marker.substr(5), 0}), join(lines, "\n")});
        if (marker.rfind("out ", 0) == 0) stated.insert(decode({marker.substr(4), 0}));
    }
    for (const auto& [name, bytes] : inputs) {
        std::filesystem::create_directories(std::filesystem::path(box.path(name)).parent_path());
        write_file(box.path(name), bytes);
    }
    std::vector<std::string> args;
    if (!ex.find("run")) args.push_back("paper.tex");
    for (const Line& line : ex.find("run") ? *ex.find("run") : Lines{}) args.push_back(decode(line));
    if (ex.words.find(" rich ") != std::string::npos) args.insert(args.begin(), "--rich");
    const RunResult r = run_kelvarin(box.dir, args);

    std::string report;
    const auto check = [&](const std::string& what, const std::string& want, const Lines& source,
                           const std::string& eol, const std::string* got) {
        if (got && *got == want) return;
        report += what + (got ? " differs (- expected, + actual):\n" : " was not written; expected:\n");
        report += diff(want, source, eol, got ? *got : "");
    };
    const auto check_file = [&](const std::string& name, const std::string& want, const Lines& source) {
        const std::string got = read_file(box.path(name));
        check(encode(name), want, source, "\r\n", file_exists(box.path(name)) ? &got : nullptr);
    };
    const std::map<std::string, std::string> files = {
        {"wiki", "paper.wiki.txt"}, {"eq.tex", "paper.eq.tex"}, {"log", "kelvarin.log"}};
    for (const auto& [marker, lines] : ex.sections) {
        if (files.count(marker) || marker.rfind("out ", 0) == 0)
            check_file(files.count(marker) ? files.at(marker) : decode({marker.substr(4), 0}), join(lines, "\r\n"),
                       lines);
        for (const Line& absent : marker == "absent" ? lines : Lines{})
            if (file_exists(box.path(decode(absent))))
                report += absent.text + " exists, though line " + std::to_string(absent.at) + " says it must not\n";
    }
    if (!ex.find("log") && !ex.find("run")) check_file("kelvarin.log", crlf({"file : paper.tex", "  parse ok"}), {});
    if (const Lines* pages = ex.find("pages")) {
        Lines source = ex.find("preamble") ? *ex.find("preamble") : Lines{};
        std::vector<std::string> preamble, page_lines;
        for (const Line& line : source) preamble.push_back(decode(line));
        for (const Line& line : *pages) page_lines.push_back(decode(line));
        source.insert(source.end(), pages->begin(), pages->end());
        check_file("paper.eq.tex", equation_document(preamble, page_lines), source);
    }
    const std::string status = std::to_string(r.exit_status) + "\n";
    for (const auto& [name, got] : {std::pair<std::string, const std::string*>{"stdout", &r.out},
                                    {"stderr", &r.err}, {"exit", &status}}) {
        const Lines* want = ex.find(name);
        check(name, want ? join(*want, "\n") : name == "exit" ? "0\n" : "", want ? *want : Lines{}, "\n", got);
    }
    for (const auto& [name, bytes] : inputs)
        if (!stated.count(name) && read_file(box.path(name)) != bytes)
            report += "the run changed its input " + encode(name) + "\n";
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
    if (argc != 2) return std::cerr << "usage: kelvarin_examples FILE.md\n", 2;
    const std::string file = argv[1];
    std::vector<Example> examples;
    try {
        examples = parse(read_file(file));
    } catch (const std::exception& e) {
        return std::cerr << file << ": " << e.what() << "\n", 1;
    }
    // A "-" would start the negative patterns of a test filter.
    std::string suite = std::filesystem::path(file).stem().string();
    std::replace(suite.begin(), suite.end(), '-', '_');
    for (const Example& ex : examples)
        testing::RegisterTest(suite.c_str(), ("line" + std::to_string(ex.at)).c_str(), nullptr, nullptr, file.c_str(),
                              ex.at, [file, ex]() -> testing::Test* { return new ExampleTest(file, ex); });
    return RUN_ALL_TESTS();
}
