// Runs the examples of one file under tests/examples through the real kelvarin executable, one
// test per example; tests/examples/README.md describes the file format.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <set>
#include <sstream>

#include "support/example_main.h"
#include "support/harness.h"

using namespace kelvarin_test;

namespace {

std::vector<Example> parse(const std::string& text) {
    static const ExampleFormat format = {
        {"wiki", "pages", "preamble", "eq.tex", "log", "stdout", "stderr", "exit", "run", "absent"},
        {"file", "out"},
        {"source", "rich"}};
    std::vector<Example> examples = parse_examples(text, format);
    for (const Example& ex : examples)
        if (ex.find("preamble") && !ex.find("pages")) throw error_at(ex.at, "--- preamble without --- pages");
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
        if (marker.rfind("file ", 0) == 0) inputs.push_back({decode(marker.substr(5)), join(lines, "\n")});
        if (marker.rfind("out ", 0) == 0) stated.insert(decode(marker.substr(4)));
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
            check_file(files.count(marker) ? files.at(marker) : decode(marker.substr(4)), join(lines, "\r\n"),
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

}  // namespace

int main(int argc, char** argv) {
    return example_main(argc, argv, "kelvarin_examples", "", parse, run_example);
}
