#include "rich/latex_lexing.h"

#include <algorithm>
#include <cstring>

namespace kelvarin {

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

namespace {

bool is_verb_command(std::string_view name) { return name == "verb" || name == "lstinline"; }

bool is_address_command(std::string_view name) { return name == "url" || name == "href"; }

}  // namespace

std::size_t command_name_length(std::string_view text, std::size_t at) {
    std::size_t p = at + 1;
    if (p >= text.size()) return 0;
    if (!is_letter(text[p])) return 1;
    while (p < text.size() && is_letter(text[p])) ++p;
    return p - at - 1;
}

std::size_t find_byte(LatexIndex& index, char byte, std::size_t from) {
    const unsigned char key = static_cast<unsigned char>(byte);
    std::size_t& absent = index.absent_from[key];
    const bool known = std::find(index.absent_set.begin(), index.absent_set.end(), key) != index.absent_set.end();
    if (from >= index.text.size() || (known && from >= absent)) return kNoPosition;
    const void* hit = std::memchr(index.text.data() + from, byte, index.text.size() - from);
    if (hit == nullptr) {
        if (!known) index.absent_set.push_back(key);
        absent = from;
        return kNoPosition;
    }
    return static_cast<std::size_t>(static_cast<const char*>(hit) - index.text.data());
}

std::size_t verb_end(LatexIndex& index, std::size_t after_name) {
    std::size_t p = after_name;
    const std::string_view text = index.text;
    if (p < text.size() && text[p] == '*') ++p;
    if (p >= text.size() || is_letter(text[p]) || text[p] == ' ') return kNoPosition;
    // \lstinline also takes its code in braces.
    const char close = text[p] == '{' ? '}' : text[p];
    const std::size_t end = find_byte(index, close, p + 1);
    return end == kNoPosition ? kNoPosition : end + 1;
}

void index_latex(std::string_view text, LatexIndex& index) {
    index.text = text;
    index.built = false;
    index.absent_set.clear();
}

namespace {

void build(LatexIndex& index) {
    // The bytes the index is about; runs of other bytes are skipped whole.
    static const std::array<bool, 256> kLexical = [] {
        std::array<bool, 256> lexical{};
        for (unsigned char c : std::string_view("\\{}$")) lexical[c] = true;
        return lexical;
    }();
    const std::string_view text = index.text;
    index.built = true;
    index.opens.clear();
    index.closes.clear();
    index.dollars.clear();
    std::vector<std::size_t> open_stack;  // indexes into opens
    std::size_t p = 0;
    while (p < text.size()) {
        while (p < text.size() && !kLexical[static_cast<unsigned char>(text[p])]) ++p;
        if (p == text.size()) break;
        const char c = text[p];
        if (c == '\\') {
            const std::size_t n = command_name_length(text, p);
            const std::string_view name = text.substr(p + 1, n);
            p += 1 + n;
            if (is_verb_command(name)) {
                const std::size_t end = verb_end(index, p);
                if (end != kNoPosition) p = end;
            }
            continue;
        }
        if (c == '{') {
            open_stack.push_back(index.opens.size());
            index.opens.push_back(p);
            index.closes.push_back(kNoPosition);
        } else if (c == '}') {
            if (!open_stack.empty()) {
                index.closes[open_stack.back()] = p;
                open_stack.pop_back();
            }
        } else if (c == '$') {
            index.dollars.push_back(p);
        }
        ++p;
    }
}

}  // namespace

std::size_t group_close(LatexIndex& index, std::size_t open) {
    if (!index.built) build(index);
    const auto it = std::lower_bound(index.opens.begin(), index.opens.end(), open);
    if (it == index.opens.end() || *it != open) return kNoPosition;
    return index.closes[static_cast<std::size_t>(it - index.opens.begin())];
}

bool all_groups_close(LatexIndex& index) {
    if (!index.built) build(index);
    return std::find(index.closes.begin(), index.closes.end(), kNoPosition) == index.closes.end();
}

std::size_t next_dollar(LatexIndex& index, std::size_t from) {
    if (!index.built) build(index);
    const auto it = std::lower_bound(index.dollars.begin(), index.dollars.end(), from);
    return it == index.dollars.end() ? kNoPosition : *it;
}

std::size_t skip_blanks(std::string_view text, std::size_t at) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    return at;
}

std::size_t skip_optional_argument(LatexIndex& index, std::size_t at, bool skip) {
    // Longer brackets are text, not an argument; the bound also keeps a line
    // of many unclosed "[" linear.
    constexpr std::size_t kLongestOptionalArgument = 4096;
    const std::string_view text = index.text;
    const std::size_t open = skip ? skip_blanks(text, at) : at;
    if (open >= text.size() || text[open] != '[') return at;
    if (find_byte(index, ']', open + 1) == kNoPosition) return at;
    const std::size_t limit = std::min(text.size(), open + kLongestOptionalArgument);
    std::size_t p = open + 1;
    while (p < limit) {
        const char c = text[p];
        if (c == ']') return p + 1;
        if (c == '\\') {
            p += 2;
        } else if (c == '{') {
            const std::size_t close = group_close(index, p);
            if (close == kNoPosition) return at;
            p = close + 1;
        } else {
            ++p;
        }
    }
    return at;
}

std::size_t comment_start(std::string_view line) {
    const void* any = std::memchr(line.data(), '%', line.size());
    if (any == nullptr) return kNoPosition;
    // Searches for the end of a \verb or an address, remembering failures so
    // that a line of many unclosed ones is still scanned once.
    std::array<std::size_t, 256> absent_from;
    absent_from.fill(kNoPosition);
    const auto find = [&](char byte, std::size_t from) {
        std::size_t& absent = absent_from[static_cast<unsigned char>(byte)];
        if (from >= absent) return kNoPosition;
        const std::size_t at = line.find(byte, from);
        if (at == kNoPosition) absent = from;
        return at;
    };
    std::size_t p = 0;
    while (p < line.size()) {
        const char c = line[p];
        if (c == '%') return p;
        if (c != '\\') {
            ++p;
            continue;
        }
        const std::size_t n = command_name_length(line, p);
        const std::string_view name = line.substr(p + 1, n);
        p += 1 + n;
        if (is_verb_command(name)) {
            std::size_t q = p < line.size() && line[p] == '*' ? p + 1 : p;
            if (q < line.size() && !is_letter(line[q]) && line[q] != ' ') {
                const char close = line[q] == '{' ? '}' : line[q];
                const std::size_t end = find(close, q + 1);
                if (end != kNoPosition) p = end + 1;
            }
        } else if (is_address_command(name)) {
            // An address is taken as written: "%20" in it is no comment.
            const std::size_t open = skip_blanks(line, p);
            if (open < line.size() && line[open] == '{') {
                const std::size_t end = find('}', open + 1);
                if (end != kNoPosition) p = end + 1;
            }
        }
    }
    return kNoPosition;
}

}  // namespace kelvarin
