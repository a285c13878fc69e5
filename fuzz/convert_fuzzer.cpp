// libFuzzer target: converts arbitrary bytes as an input file, in the
// default mode and in rich mode, and checks, on every run, the promises the
// outputs make to their readers:
//   - every line of both outputs ends with CR LF;
//   - the equation document has one page per distinct formula, and its page
//     comments carry the numbers 1..n in order;
//   - the wiki page refers to exactly the numbers 1..n;
//   - the input file is unchanged.
// Any broken promise aborts, which libFuzzer reports as a finding.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/conversion_job.h"
#include "support/file_bytes.h"

namespace {

using kelvarin_test::all_lines_end_with_crlf;
using kelvarin_test::read_file;
using kelvarin_test::write_file;

[[noreturn]] void broken(const char* promise) {
    std::fprintf(stderr, "broken promise: %s\n", promise);
    std::abort();
}

const std::string& work_dir() {
    static const std::string dir = [] {
        std::string templ =
            (std::filesystem::temp_directory_path() / "kelvarin-fuzz-XXXXXX").string();
        if (mkdtemp(templ.data()) == nullptr) std::abort();
        return templ;
    }();
    return dir;
}

std::vector<std::string> split_crlf(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", start);
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// Reads the decimal number at `pos`; -1 when there is none.
long long number_at(const std::string& text, std::size_t pos) {
    long long n = 0;
    std::size_t digits = 0;
    while (pos + digits < text.size() && digits < 18 && text[pos + digits] >= '0' &&
           text[pos + digits] <= '9') {
        n = n * 10 + (text[pos + digits] - '0');
        ++digits;
    }
    return digits == 0 ? -1 : n;
}

// Checks both outputs of one conversion of `input`, written as base + ".tex".
void check_outputs(const std::string& input, const std::string& base, const std::string& prefix) {
    const std::string wiki = read_file(base + ".wiki.txt");
    const std::string equations = read_file(base + ".eq.tex");
    if (read_file(base + ".tex") != input) broken("the input is unchanged");
    if (!all_lines_end_with_crlf(wiki)) broken("wiki lines end with CR LF");
    if (!all_lines_end_with_crlf(equations)) broken("equation document lines end with CR LF");

    // Pages: a page comment is the only line that starts with "% " + prefix.
    const std::vector<std::string> lines = split_crlf(equations);
    std::vector<std::size_t> comments;
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].compare(0, prefix.size() + 2, "% " + prefix) == 0) comments.push_back(i);
    std::set<std::pair<bool, std::vector<std::string>>> distinct;
    for (std::size_t k = 0; k < comments.size(); ++k) {
        const std::string& comment = lines[comments[k]];
        if (number_at(comment, prefix.size() + 2) != static_cast<long long>(k + 1))
            broken("page comments carry 1..n in order");
        const bool is_inline = comment.rfind(" - inline (row : ") != std::string::npos &&
                               (comment.rfind(" - block (row : ") == std::string::npos ||
                                comment.rfind(" - inline (row : ") > comment.rfind(" - block (row : "));
        // The page's formula lines sit between "\[" and "\]", "\newpage", "".
        const std::size_t first = comments[k] + 1;
        const std::size_t end = k + 1 < comments.size() ? comments[k + 1] : lines.size() - 2;
        if (end < first + 4 || lines[first] != "\\[" || lines[end - 3] != "\\]" ||
            lines[end - 2] != "\\newpage" || !lines[end - 1].empty())
            broken("a page is \\[ lines \\] \\newpage and an empty line");
        std::vector<std::string> formula(lines.begin() + static_cast<long>(first) + 1,
                                         lines.begin() + static_cast<long>(end) - 3);
        if (is_inline && formula.size() != 1) broken("an inline page holds one line");
        if (!distinct.insert({is_inline, formula}).second) broken("one page per distinct formula");
    }
    const long long n = static_cast<long long>(comments.size());

    // References: every number after the prefix on the wiki page is 1..n,
    // and every formula is referred to.
    std::set<long long> referred;
    for (std::size_t at = wiki.find(prefix); at != std::string::npos;
         at = wiki.find(prefix, at + 1)) {
        const long long number = number_at(wiki, at + prefix.size());
        if (number < 1 || number > n) broken("references carry numbers 1..n");
        referred.insert(number);
    }
    if (static_cast<long long>(referred.size()) != n) broken("every formula is referred to");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    // A stem with a control byte that the input does not hold: no
    // translation can make it out of the input's bytes or the converter's
    // own texts, so every occurrence of the image prefix in the outputs is an
    // image name the converter wrote.
    std::string stem;
    for (char c = 1; c < 32 && stem.empty(); ++c) {
        if (c == '\t' || c == '\n' || c == '\r') continue;
        if (input.find(c) == std::string::npos) stem = std::string("fz") + c;
    }
    if (stem.empty()) return 0;
    const std::string prefix = stem + ".eq";
    const std::string base = work_dir() + "/" + stem;
    write_file(base + ".tex", input);
    for (const bool rich : {false, true}) {
        kelvarin::ConversionOptions options;
        options.rich = rich;
        kelvarin::convert_file(base + ".tex", options);
        check_outputs(input, base, prefix);
    }
    return 0;
}
