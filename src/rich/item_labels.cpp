// The labels of a numbered list that are not the wiki's own 1., 2., …:
// enumitem's "[label=(\alph*)]" and its short form "[a)]" (the enumerate
// package's), "\renewcommand{\labelenumi}{...}" and "\theenumi". A label
// is kept as a template in LaTeX with its counter left open ("(\roman*)"),
// and made for each item by putting the item's number in.
#include <cctype>
#include <cstdlib>

#include "io/text_helpers.h"
#include "rich/internal.h"

namespace kelvarin {

namespace {

// \theenumi inside \labelenumi, inside each other at most this deep.
constexpr int kDeepestTemplate = 4;
// A label longer than this is no label but text gone astray: every item
// would copy it, so a list of many items would grow without bound.
constexpr std::size_t kLongestLabel = 256;

constexpr std::string_view kLevels[] = {"i", "ii", "iii", "iv"};

std::string roman_number(std::int64_t n, bool upper) {
    if (n < 1 || n > 3999) return std::to_string(n);
    static const std::pair<int, std::string_view> kDigits[] = {
        {1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"}, {90, "xc"}, {50, "l"},
        {40, "xl"},  {10, "x"},   {9, "ix"},  {5, "v"},    {4, "iv"},  {1, "i"}};
    std::string text;
    for (const auto& [value, digits] : kDigits)
        for (; n >= value; n -= value) text.append(digits);
    if (upper)
        for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string letter(std::int64_t n, char first) {
    if (n < 1 || n > 26) return std::to_string(n);
    return std::string(1, static_cast<char>(first + n - 1));
}

// The number as a counter style prints it; "" for a name that is none.
std::string styled(std::string_view style, std::int64_t n) {
    if (style == "arabic") return std::to_string(n);
    if (style == "alph") return letter(n, 'a');
    if (style == "Alph") return letter(n, 'A');
    if (style == "roman") return roman_number(n, false);
    if (style == "Roman") return roman_number(n, true);
    return "";
}

// The default \theenumi ... \theenumiv of LaTeX, or the paper's own.
std::string the_counter(const RichState& r, int level) {
    const auto own = r.vocabulary.macros.find("theenum" + std::string(kLevels[level - 1]));
    if (own != r.vocabulary.macros.end()) return own->second.body;
    static constexpr std::string_view kDefaults[] = {"\\arabic*", "\\alph*", "\\roman*", "\\Alph*"};
    return std::string(kDefaults[level - 1]);
}

// The template with the number put in: "\roman*" and "\roman{enumi}" become
// "iv", "\theenumi" its own template's text.
std::string fill(const RichState& r, std::string_view text, std::int64_t n, int level, int depth) {
    std::string out;
    std::size_t p = 0;
    while (p < text.size()) {
        if (text[p] != '\\') {
            out.push_back(text[p++]);
            continue;
        }
        const std::size_t length = std::max<std::size_t>(command_name_length(text, p), 1);
        const std::string_view name = text.substr(p + 1, length);
        std::size_t next = p + 1 + length;
        const std::string number = styled(name, n);
        if (!number.empty() && next < text.size() && (text[next] == '*' || text[next] == '{')) {
            next = text[next] == '*' ? next + 1 : std::min(text.find('}', next), text.size() - 1) + 1;
            out.append(number);
        } else if (name.substr(0, 7) == "theenum" && depth < kDeepestTemplate &&
                   the_counter(r, level).size() <= kLongestLabel) {
            out.append(fill(r, the_counter(r, level), n, level, depth + 1));
        } else {
            out.append(text.substr(p, next - p));
        }
        p = next;
    }
    return out;
}

// enumerate's short form: the first of "1", "a", "A", "i", "I" outside
// braces is the counter; everything else, braces taken off, is text.
std::string short_form_template(std::string_view options, std::string* counter) {
    std::string text;
    bool found = false;
    int braces = 0;
    for (const char c : options) {
        if (c == '{' || c == '}') {
            braces += c == '{' ? 1 : -1;
            continue;
        }
        const std::string_view style = c == '1' ? "\\arabic*" : c == 'a' ? "\\alph*" : c == 'A' ? "\\Alph*"
                                       : c == 'i' ? "\\roman*" : c == 'I' ? "\\Roman*" : "";
        if (!found && braces == 0 && !style.empty()) {
            text.append(style);
            *counter = std::string(style);
            found = true;
        } else {
            text.push_back(c);
        }
    }
    return found ? text : "";
}

// The value of "key=value" with its outer braces taken off.
std::string_view option_value(std::string_view value) {
    value = trim_blanks_and_tabs(value);
    if (value.size() >= 2 && value.front() == '{' && value.back() == '}') value = value.substr(1, value.size() - 2);
    return value;
}

// enumitem's keys: "label=...", "ref=...", "start=n", "resume" and
// "resume*" (which takes the labels of the list it resumes too); the others
// set spacing and go. Returns 0, or 1 for "resume", 2 for "resume*".
int read_keys(std::string_view options, OpenEnvironment& list) {
    int resume = 0;
    int braces = 0;
    std::size_t start = 0;
    for (std::size_t p = 0; p <= options.size(); ++p) {
        if (p < options.size() && options[p] == '{') ++braces;
        if (p < options.size() && options[p] == '}') --braces;
        if (p < options.size() && (options[p] != ',' || braces > 0)) continue;
        const std::string_view option = options.substr(start, p - start);
        start = p + 1;
        const std::size_t equals = option.find('=');
        if (trim_blanks_and_tabs(option) == "resume") resume = 1;
        if (trim_blanks_and_tabs(option) == "resume*") resume = 2;
        if (equals == std::string_view::npos) continue;
        const std::string_view key = trim_blanks_and_tabs(option.substr(0, equals));
        const std::string_view value = option_value(option.substr(equals + 1));
        if (key == "label" || key == "label*") list.label = std::string(value);
        if (key == "ref") list.reference = std::string(value);
        if (key == "start") list.first = std::strtoll(std::string(value).c_str(), nullptr, 10);
    }
    if (list.reference.empty()) list.reference = list.label;  // enumitem refers by the label
    return resume;
}

bool is_key_list(std::string_view options) {
    static constexpr std::string_view kBareKeys[] = {"noitemsep", "nosep", "nolistsep", "resume", "resume*",
                                                      "wide", "before", "after", "series"};
    if (options.find('=') != std::string_view::npos || options.find(',') != std::string_view::npos) return true;
    const std::string_view bare = trim_blanks_and_tabs(options);
    for (std::string_view key : kBareKeys)
        if (bare == key) return true;
    return false;
}

}  // namespace

void read_list_style(const RichState& r, OpenEnvironment& list, std::string_view options, int level) {
    if (level < 1 || level > 4) return;
    int resume = 0;
    if (!trim_blanks_and_tabs(options).empty()) {
        if (is_key_list(options)) {
            resume = read_keys(options, list);
        } else {
            std::string counter;
            list.label = short_form_template(trim_blanks_and_tabs(options), &counter);
            // The enumerate package refers by the counter alone, enumitem by
            // the whole label.
            list.reference = r.enumerate_package ? counter : list.label;
        }
    }
    if (list.label.empty()) {
        const std::string level_name(kLevels[level - 1]);
        const auto label = r.vocabulary.macros.find("labelenum" + level_name);
        const bool own_counter = r.vocabulary.macros.count("theenum" + level_name) != 0;
        if (label != r.vocabulary.macros.end())
            list.label = label->second.body;
        else if (own_counter)
            list.label = level == 2 ? "(\\theenum" + level_name + ")" : "\\theenum" + level_name + ".";
        if (!list.label.empty()) list.reference = "\\theenum" + level_name;
    }
    const RichState::FinishedList& before = r.finished_lists[level - 1];
    if (resume > 0) list.first = before.last + 1;
    if (resume == 2 && list.label.empty()) {
        list.label = before.label;
        list.reference = before.reference;
    }
    if (list.first != 1 && list.label.empty()) {
        // The wiki numbers every list from 1: one that starts elsewhere
        // shows LaTeX's own labels.
        static constexpr std::string_view kDefaultLabels[] = {"\\arabic*.", "(\\alph*)", "\\roman*.", "\\Alph*."};
        list.label = std::string(kDefaultLabels[level - 1]);
        list.reference = "\\theenum" + std::string(kLevels[level - 1]);
    }
    if (list.label.size() > kLongestLabel || list.reference.size() > kLongestLabel) list.label.clear();
    // A label that reads as the wiki's own numbers is left to the wiki.
    if (level == 1 && list.first == 1 && fill(r, list.label, 1, level, 0) == "1." &&
        fill(r, list.label, 12, level, 0) == "12.")
        list.label.clear();
    list.level = level;
}

std::string item_label_source(const RichState& r, const std::string& label, std::int64_t n, int level) {
    return fill(r, label, n, level, 0);
}

}  // namespace kelvarin
