#include "rich/latex_lexing.h"

#include <algorithm>
#include <cstring>

#include "io/byte_sets.h"

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
    index.groups_found = false;
    index.dollars_found = false;
    index.absent_set.clear();
}

namespace {

// Calls `found` with the position of every byte of `stops` but the
// backslash (which `stops` must hold too) at or after `from` that no
// backslash escapes and that stands outside \verb text, in order. `from`
// must be where a token starts: the start of the text, or the first of a
// run of backslashes.
template <typename Found>
void find_unescaped(LatexIndex& index, std::size_t from, const ByteSet& stops, Found found) {
    const std::string_view text = index.text;
    std::size_t p = next_in_set(text, from, text.size(), stops);
    while (p < text.size()) {
        if (text[p] != '\\') {
            found(p);
            p = next_in_set(text, p + 1, text.size(), stops);
            continue;
        }
        // A command: the byte after the backslash is escaped, and a name of
        // letters holds no byte of the set, so only \verb and \lstinline,
        // whose text is skipped, need their names read.
        const char first = p + 1 < text.size() ? text[p + 1] : '\0';
        std::size_t next = p + 2;
        if (first == 'v' || first == 'l') {
            const std::size_t n = command_name_length(text, p);
            next = p + 1 + n;
            if (is_verb_command(text.substr(p + 1, n))) {
                const std::size_t end = verb_end(index, next);
                if (end != kNoPosition) next = end;
            }
        }
        p = next_in_set(text, std::min(next, text.size()), text.size(), stops);
    }
}

void find_groups(LatexIndex& index) {
    static const ByteSet kGroupBytes = byte_set("\\{}");
    index.groups_found = true;
    index.opens.clear();
    index.closes.clear();
    index.unclosed.clear();
    find_unescaped(index, 0, kGroupBytes, [&index](std::size_t p) {
        if (index.text[p] == '{') {
            index.unclosed.push_back(index.opens.size());
            index.opens.push_back(p);
            index.closes.push_back(kNoPosition);
        } else if (!index.unclosed.empty()) {
            index.closes[index.unclosed.back()] = p;
            index.unclosed.pop_back();
        }
    });
}

// Where the first \verb or \lstinline of the text may start: the first
// backslash followed by either name, or the size of the text.
std::size_t first_verb(std::string_view text) {
    for (std::size_t p = text.find('\\'); p != std::string_view::npos; p = text.find('\\', p + 1)) {
        const std::string_view after = text.substr(p + 1);
        if (after.substr(0, 4) == "verb" || after.substr(0, 9) == "lstinline") return p;
    }
    return text.size();
}

// Whether an odd number of backslashes stands right before `at`.
bool odd_backslashes_before(std::string_view text, std::size_t at) {
    std::size_t run = 0;
    while (run < at && text[at - 1 - run] == '\\') ++run;
    return run % 2 == 1;
}

void find_dollars(LatexIndex& index) {
    static const ByteSet kDollarBytes = byte_set("\\$");
    const std::string_view text = index.text;
    index.dollars_found = true;
    index.dollars.clear();
    // Before the first \verb, each run of backslashes starts a token, so its
    // backslashes pair off from its start, and a "$" after it is escaped
    // exactly when one is left over. Lines of formulas hold many dollars and
    // backslashes and seldom a \verb: their dollars are found by searching
    // for them, without reading the text between.
    const std::size_t verb = first_verb(text);
    for (std::size_t p = text.find('$'); p < verb; p = text.find('$', p + 1))
        if (!odd_backslashes_before(text, p)) index.dollars.push_back(p);
    if (verb == text.size()) return;
    std::size_t from = verb;
    while (from > 0 && text[from - 1] == '\\') --from;
    find_unescaped(index, from, kDollarBytes, [&index](std::size_t p) { index.dollars.push_back(p); });
}

}  // namespace

std::size_t group_close(LatexIndex& index, std::size_t open) {
    if (!index.groups_found) find_groups(index);
    const auto it = std::lower_bound(index.opens.begin(), index.opens.end(), open);
    if (it == index.opens.end() || *it != open) return kNoPosition;
    return index.closes[static_cast<std::size_t>(it - index.opens.begin())];
}

bool all_groups_close(LatexIndex& index) {
    if (!index.groups_found) find_groups(index);
    return std::find(index.closes.begin(), index.closes.end(), kNoPosition) == index.closes.end();
}

std::size_t next_dollar(LatexIndex& index, std::size_t from) {
    if (!index.dollars_found) find_dollars(index);
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
    // that a line of many unclosed ones is still scanned once. Most lines
    // hold neither: the memory is set up at the first search.
    std::array<std::size_t, 256> absent_from;
    bool searched = false;
    const auto find = [&](char byte, std::size_t from) {
        if (!searched) absent_from.fill(kNoPosition);
        searched = true;
        std::size_t& absent = absent_from[static_cast<unsigned char>(byte)];
        if (from >= absent) return kNoPosition;
        const std::size_t at = line.find(byte, from);
        if (at == kNoPosition) absent = from;
        return at;
    };
    static const ByteSet kCommentOrCommand = byte_set("%\\");
    std::size_t p = 0;
    while ((p = next_in_set(line, p, line.size(), kCommentOrCommand)) < line.size()) {
        if (line[p] == '%') return p;
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
