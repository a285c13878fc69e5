// The notation of example files (tests/examples, tests/preview-examples):
// fenced examples of sections of lines, with names for the bytes a text
// file cannot show (<SP>, <TAB>, <CR>, <LT>, <xHH>, <NO-EOL>), and the
// parser both example runners share. tests/examples/README.md describes it.
#ifndef KELVARIN_TEST_EXAMPLE_NOTATION_H
#define KELVARIN_TEST_EXAMPLE_NOTATION_H

#include <algorithm>
#include <cstdio>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace kelvarin_test {

inline const std::string kFence(32, '`');

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

inline std::runtime_error error_at(int at, const std::string& why) {
    return std::runtime_error("line " + std::to_string(at) + ": " + why);
}

// Whether s[i] starts a UTF-8 sequence (no overlong form, no surrogate), and its length.
inline bool utf8_at(const std::string& s, std::size_t i, std::size_t& n) {
    const unsigned char c = s[i], d = i + 1 < s.size() ? s[i + 1] : 0;
    n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    for (std::size_t k = 1; k < n; ++k)
        if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    return n == 1 || (c >= 0xC2 && c <= 0xF4 && !(c == 0xE0 && d < 0xA0) && !(c == 0xED && d > 0x9F) &&
                      !(c == 0xF0 && d < 0x90) && !(c == 0xF4 && d > 0x8F));
}

// The length of the notation name at s[i] (0 if none) and its bytes; <NO-EOL> has none.
inline std::size_t name_at(const std::string& s, std::size_t i, std::string& bytes) {
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
inline std::string decode(const Line& line, bool* no_eol = nullptr) {
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

// A text in the notation to bytes.
inline std::string decode(const std::string& text) { return decode(Line{text, 0}); }

// Lines as bytes, each followed by `eol` unless the last ends with <NO-EOL>.
inline std::string join(const Lines& lines, const std::string& eol) {
    std::string out;
    bool no_eol = false;
    for (const Line& line : lines) {
        out += decode(line, &line == &lines.back() ? &no_eol : nullptr);
        if (!no_eol) out += eol;
    }
    return out;
}

// Bytes to the notation, to show a line that differs.
inline std::string encode(const std::string& s) {
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

// What a kind of example file allows: its plain section markers, the
// markers that take a name after them, and the words after "example".
struct ExampleFormat {
    std::set<std::string> plain, named, words;
};

// The examples of a file; throws with the line of the first fault.
inline std::vector<Example> parse_examples(const std::string& text, const ExampleFormat& format) {
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
                opens = opens && format.words.count(word) != 0;
            if (!opens) throw error_at(at, "an example opens with " + kFence + " example, then its words");
            inside = true;
        } else if (inside && line == kFence) {
            const Example& ex = examples.back();
            for (const auto& section : ex.sections) join(section.second, "\n");  // checks the notation
            inside = false;
        } else if (inside && line.compare(0, 32, kFence) == 0) {
            throw error_at(at, "a content line that starts a fence: write its first byte as <x60>");
        } else if (inside && !marker.empty()) {
            const bool named = format.named.count(name) != 0;
            if (named ? marker.size() <= name.size() + 1 : !format.plain.count(name) || marker != name)
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

}  // namespace kelvarin_test

#endif
