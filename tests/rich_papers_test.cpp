// Rich mode on whole papers of four kinds (bench/papers): the page it makes
// keeps at most a tenth of the LaTeX commands the default page keeps, and at
// least 95 % of that page's words. A regression in either is text left raw or
// text lost.
#include <map>

#include "support/harness.h"

using namespace kelvarin_test;

namespace {

bool is_letter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c >= 0x80; }

// Commands left outside code blocks: a backslash and a name or one byte.
std::size_t commands_left(const std::string& page) {
    std::size_t count = 0;
    bool in_code = false;
    std::size_t start = 0;
    while (start < page.size()) {
        const std::size_t end = std::min(page.find("\r\n", start), page.size());
        const std::string line = page.substr(start, end - start);
        if (line.rfind("#code(", 0) == 0) in_code = true;
        else if (in_code && line == "}}") in_code = false;
        else if (!in_code)
            for (std::size_t p = line.find('\\'); p != std::string::npos; p = line.find('\\', p + 2))
                count += p + 1 < line.size() && line[p + 1] != ' ';
        start = end + 2;
    }
    return count;
}

// Words of two letters or more, without command names, image references and
// the names of labels, citations and environments (`excluded`).
std::map<std::string, int> words(const std::string& page, const std::map<std::string, int>& excluded) {
    std::map<std::string, int> found;
    for (std::size_t p = 0; p < page.size();) {
        if (page.compare(p, 5, "&ref(") == 0 || page.compare(p, 5, "#ref(") == 0) {
            p = page.find(')', p);
            continue;
        }
        if (!is_letter(static_cast<unsigned char>(page[p]))) {
            ++p;
            continue;
        }
        const std::size_t start = p;
        while (p < page.size() && is_letter(static_cast<unsigned char>(page[p]))) ++p;
        const std::string word = page.substr(start, p - start);
        if (word.size() > 1 && (start == 0 || page[start - 1] != '\\') && !excluded.count(word)) ++found[word];
    }
    return found;
}

// The words in the braces after \label, \ref, \cite, \begin and their kind.
std::map<std::string, int> names_in(const std::string& source) {
    std::string names;
    for (const char* command : {"\\label", "ref{", "ref*{", "cite", "\\begin", "\\end", "\\bibitem"}) {
        for (std::size_t at = source.find(command); at != std::string::npos; at = source.find(command, at + 1)) {
            std::size_t p = at + std::char_traits<char>::length(command);
            while (p < source.size() && source[p] != '{' && source[p] != '\n') ++p;
            const std::size_t close = source.find('}', p);
            if (close == std::string::npos) break;
            names += " " + source.substr(p, close - p);
            // The options and column specifications after \begin{...}.
            for (std::size_t q = close + 1; q < source.size() && (source[q] == '[' || source[q] == '{');) {
                const std::size_t end = source.find(source[q] == '[' ? ']' : '}', q);
                if (end == std::string::npos) break;
                names += " " + source.substr(q, end - q);
                q = end + 1;
            }
        }
    }
    return words(names, {});
}

}  // namespace

TEST(RichPapers, LittleLatexLeftAndTheWordsKept) {
    for (const char* name : {"graphs", "notes", "systems", "oscillators"}) {
        const std::string source =
            read_file(std::string(KELVARIN_SOURCE_DIR) + "/bench/papers/" + name + ".tex");
        const Converted plain = convert_source(source);
        const Converted rich = convert_source(source, {"--rich"});
        EXPECT_LE(commands_left(rich.wiki) * 10, commands_left(plain.wiki)) << name;
        const auto excluded = names_in(source);
        const auto want = words(plain.wiki, excluded), have = words(rich.wiki, excluded);
        int total = 0, kept = 0;
        for (const auto& [word, count] : want) {
            total += count;
            kept += std::min(count, have.count(word) ? have.at(word) : 0);
        }
        EXPECT_GE(kept * 100, total * 95) << name << ": " << kept << " of " << total << " words kept";
    }
}
