#include "rich/latex_characters.h"

#include <algorithm>
#include <cstdint>

namespace kelvarin {

namespace {

struct Accented {
    char accent;
    char letter;
    const char* text;
};

// Every precomposed Latin letter that an accent command can make, sorted by
// accent and letter.
const Accented kAccented[] = {
    {'\"', 'A', "\xC3\x84"}, {'\"', 'E', "\xC3\x8B"}, {'\"', 'H', "\xE1\xB8\xA6"}, {'\"', 'I', "\xC3\x8F"},
    {'\"', 'O', "\xC3\x96"}, {'\"', 'U', "\xC3\x9C"}, {'\"', 'W', "\xE1\xBA\x84"}, {'\"', 'X', "\xE1\xBA\x8C"},
    {'\"', 'Y', "\xC5\xB8"}, {'\"', 'a', "\xC3\xA4"}, {'\"', 'e', "\xC3\xAB"}, {'\"', 'h', "\xE1\xB8\xA7"},
    {'\"', 'i', "\xC3\xAF"}, {'\"', 'o', "\xC3\xB6"}, {'\"', 't', "\xE1\xBA\x97"}, {'\"', 'u', "\xC3\xBC"},
    {'\"', 'w', "\xE1\xBA\x85"}, {'\"', 'x', "\xE1\xBA\x8D"}, {'\"', 'y', "\xC3\xBF"}, {'\'', 'A', "\xC3\x81"},
    {'\'', 'C', "\xC4\x86"}, {'\'', 'E', "\xC3\x89"}, {'\'', 'G', "\xC7\xB4"}, {'\'', 'I', "\xC3\x8D"},
    {'\'', 'K', "\xE1\xB8\xB0"}, {'\'', 'L', "\xC4\xB9"}, {'\'', 'M', "\xE1\xB8\xBE"}, {'\'', 'N', "\xC5\x83"},
    {'\'', 'O', "\xC3\x93"}, {'\'', 'P', "\xE1\xB9\x94"}, {'\'', 'R', "\xC5\x94"}, {'\'', 'S', "\xC5\x9A"},
    {'\'', 'U', "\xC3\x9A"}, {'\'', 'W', "\xE1\xBA\x82"}, {'\'', 'Y', "\xC3\x9D"}, {'\'', 'Z', "\xC5\xB9"},
    {'\'', 'a', "\xC3\xA1"}, {'\'', 'c', "\xC4\x87"}, {'\'', 'e', "\xC3\xA9"}, {'\'', 'g', "\xC7\xB5"},
    {'\'', 'i', "\xC3\xAD"}, {'\'', 'k', "\xE1\xB8\xB1"}, {'\'', 'l', "\xC4\xBA"}, {'\'', 'm', "\xE1\xB8\xBF"},
    {'\'', 'n', "\xC5\x84"}, {'\'', 'o', "\xC3\xB3"}, {'\'', 'p', "\xE1\xB9\x95"}, {'\'', 'r', "\xC5\x95"},
    {'\'', 's', "\xC5\x9B"}, {'\'', 'u', "\xC3\xBA"}, {'\'', 'w', "\xE1\xBA\x83"}, {'\'', 'y', "\xC3\xBD"},
    {'\'', 'z', "\xC5\xBA"}, {'.', 'A', "\xC8\xA6"}, {'.', 'B', "\xE1\xB8\x82"}, {'.', 'C', "\xC4\x8A"},
    {'.', 'D', "\xE1\xB8\x8A"}, {'.', 'E', "\xC4\x96"}, {'.', 'F', "\xE1\xB8\x9E"}, {'.', 'G', "\xC4\xA0"},
    {'.', 'H', "\xE1\xB8\xA2"}, {'.', 'I', "\xC4\xB0"}, {'.', 'M', "\xE1\xB9\x80"}, {'.', 'N', "\xE1\xB9\x84"},
    {'.', 'O', "\xC8\xAE"}, {'.', 'P', "\xE1\xB9\x96"}, {'.', 'R', "\xE1\xB9\x98"}, {'.', 'S', "\xE1\xB9\xA0"},
    {'.', 'T', "\xE1\xB9\xAA"}, {'.', 'W', "\xE1\xBA\x86"}, {'.', 'X', "\xE1\xBA\x8A"}, {'.', 'Y', "\xE1\xBA\x8E"},
    {'.', 'Z', "\xC5\xBB"}, {'.', 'a', "\xC8\xA7"}, {'.', 'b', "\xE1\xB8\x83"}, {'.', 'c', "\xC4\x8B"},
    {'.', 'd', "\xE1\xB8\x8B"}, {'.', 'e', "\xC4\x97"}, {'.', 'f', "\xE1\xB8\x9F"}, {'.', 'g', "\xC4\xA1"},
    {'.', 'h', "\xE1\xB8\xA3"}, {'.', 'm', "\xE1\xB9\x81"}, {'.', 'n', "\xE1\xB9\x85"}, {'.', 'o', "\xC8\xAF"},
    {'.', 'p', "\xE1\xB9\x97"}, {'.', 'r', "\xE1\xB9\x99"}, {'.', 's', "\xE1\xB9\xA1"}, {'.', 't', "\xE1\xB9\xAB"},
    {'.', 'w', "\xE1\xBA\x87"}, {'.', 'x', "\xE1\xBA\x8B"}, {'.', 'y', "\xE1\xBA\x8F"}, {'.', 'z', "\xC5\xBC"},
    {'=', 'A', "\xC4\x80"}, {'=', 'E', "\xC4\x92"}, {'=', 'G', "\xE1\xB8\xA0"}, {'=', 'I', "\xC4\xAA"},
    {'=', 'O', "\xC5\x8C"}, {'=', 'U', "\xC5\xAA"}, {'=', 'Y', "\xC8\xB2"}, {'=', 'a', "\xC4\x81"},
    {'=', 'e', "\xC4\x93"}, {'=', 'g', "\xE1\xB8\xA1"}, {'=', 'i', "\xC4\xAB"}, {'=', 'o', "\xC5\x8D"},
    {'=', 'u', "\xC5\xAB"}, {'=', 'y', "\xC8\xB3"}, {'H', 'O', "\xC5\x90"}, {'H', 'U', "\xC5\xB0"},
    {'H', 'o', "\xC5\x91"}, {'H', 'u', "\xC5\xB1"}, {'^', 'A', "\xC3\x82"}, {'^', 'C', "\xC4\x88"},
    {'^', 'E', "\xC3\x8A"}, {'^', 'G', "\xC4\x9C"}, {'^', 'H', "\xC4\xA4"}, {'^', 'I', "\xC3\x8E"},
    {'^', 'J', "\xC4\xB4"}, {'^', 'O', "\xC3\x94"}, {'^', 'S', "\xC5\x9C"}, {'^', 'U', "\xC3\x9B"},
    {'^', 'W', "\xC5\xB4"}, {'^', 'Y', "\xC5\xB6"}, {'^', 'Z', "\xE1\xBA\x90"}, {'^', 'a', "\xC3\xA2"},
    {'^', 'c', "\xC4\x89"}, {'^', 'e', "\xC3\xAA"}, {'^', 'g', "\xC4\x9D"}, {'^', 'h', "\xC4\xA5"},
    {'^', 'i', "\xC3\xAE"}, {'^', 'j', "\xC4\xB5"}, {'^', 'o', "\xC3\xB4"}, {'^', 's', "\xC5\x9D"},
    {'^', 'u', "\xC3\xBB"}, {'^', 'w', "\xC5\xB5"}, {'^', 'y', "\xC5\xB7"}, {'^', 'z', "\xE1\xBA\x91"},
    {'`', 'A', "\xC3\x80"}, {'`', 'E', "\xC3\x88"}, {'`', 'I', "\xC3\x8C"}, {'`', 'N', "\xC7\xB8"},
    {'`', 'O', "\xC3\x92"}, {'`', 'U', "\xC3\x99"}, {'`', 'W', "\xE1\xBA\x80"}, {'`', 'Y', "\xE1\xBB\xB2"},
    {'`', 'a', "\xC3\xA0"}, {'`', 'e', "\xC3\xA8"}, {'`', 'i', "\xC3\xAC"}, {'`', 'n', "\xC7\xB9"},
    {'`', 'o', "\xC3\xB2"}, {'`', 'u', "\xC3\xB9"}, {'`', 'w', "\xE1\xBA\x81"}, {'`', 'y', "\xE1\xBB\xB3"},
    {'b', 'B', "\xE1\xB8\x86"}, {'b', 'D', "\xE1\xB8\x8E"}, {'b', 'K', "\xE1\xB8\xB4"}, {'b', 'L', "\xE1\xB8\xBA"},
    {'b', 'N', "\xE1\xB9\x88"}, {'b', 'R', "\xE1\xB9\x9E"}, {'b', 'T', "\xE1\xB9\xAE"}, {'b', 'Z', "\xE1\xBA\x94"},
    {'b', 'b', "\xE1\xB8\x87"}, {'b', 'd', "\xE1\xB8\x8F"}, {'b', 'h', "\xE1\xBA\x96"}, {'b', 'k', "\xE1\xB8\xB5"},
    {'b', 'l', "\xE1\xB8\xBB"}, {'b', 'n', "\xE1\xB9\x89"}, {'b', 'r', "\xE1\xB9\x9F"}, {'b', 't', "\xE1\xB9\xAF"},
    {'b', 'z', "\xE1\xBA\x95"}, {'c', 'C', "\xC3\x87"}, {'c', 'D', "\xE1\xB8\x90"}, {'c', 'E', "\xC8\xA8"},
    {'c', 'G', "\xC4\xA2"}, {'c', 'H', "\xE1\xB8\xA8"}, {'c', 'K', "\xC4\xB6"}, {'c', 'L', "\xC4\xBB"},
    {'c', 'N', "\xC5\x85"}, {'c', 'R', "\xC5\x96"}, {'c', 'S', "\xC5\x9E"}, {'c', 'T', "\xC5\xA2"},
    {'c', 'c', "\xC3\xA7"}, {'c', 'd', "\xE1\xB8\x91"}, {'c', 'e', "\xC8\xA9"}, {'c', 'g', "\xC4\xA3"},
    {'c', 'h', "\xE1\xB8\xA9"}, {'c', 'k', "\xC4\xB7"}, {'c', 'l', "\xC4\xBC"}, {'c', 'n', "\xC5\x86"},
    {'c', 'r', "\xC5\x97"}, {'c', 's', "\xC5\x9F"}, {'c', 't', "\xC5\xA3"}, {'d', 'A', "\xE1\xBA\xA0"},
    {'d', 'B', "\xE1\xB8\x84"}, {'d', 'D', "\xE1\xB8\x8C"}, {'d', 'E', "\xE1\xBA\xB8"}, {'d', 'H', "\xE1\xB8\xA4"},
    {'d', 'I', "\xE1\xBB\x8A"}, {'d', 'K', "\xE1\xB8\xB2"}, {'d', 'L', "\xE1\xB8\xB6"}, {'d', 'M', "\xE1\xB9\x82"},
    {'d', 'N', "\xE1\xB9\x86"}, {'d', 'O', "\xE1\xBB\x8C"}, {'d', 'R', "\xE1\xB9\x9A"}, {'d', 'S', "\xE1\xB9\xA2"},
    {'d', 'T', "\xE1\xB9\xAC"}, {'d', 'U', "\xE1\xBB\xA4"}, {'d', 'V', "\xE1\xB9\xBE"}, {'d', 'W', "\xE1\xBA\x88"},
    {'d', 'Y', "\xE1\xBB\xB4"}, {'d', 'Z', "\xE1\xBA\x92"}, {'d', 'a', "\xE1\xBA\xA1"}, {'d', 'b', "\xE1\xB8\x85"},
    {'d', 'd', "\xE1\xB8\x8D"}, {'d', 'e', "\xE1\xBA\xB9"}, {'d', 'h', "\xE1\xB8\xA5"}, {'d', 'i', "\xE1\xBB\x8B"},
    {'d', 'k', "\xE1\xB8\xB3"}, {'d', 'l', "\xE1\xB8\xB7"}, {'d', 'm', "\xE1\xB9\x83"}, {'d', 'n', "\xE1\xB9\x87"},
    {'d', 'o', "\xE1\xBB\x8D"}, {'d', 'r', "\xE1\xB9\x9B"}, {'d', 's', "\xE1\xB9\xA3"}, {'d', 't', "\xE1\xB9\xAD"},
    {'d', 'u', "\xE1\xBB\xA5"}, {'d', 'v', "\xE1\xB9\xBF"}, {'d', 'w', "\xE1\xBA\x89"}, {'d', 'y', "\xE1\xBB\xB5"},
    {'d', 'z', "\xE1\xBA\x93"}, {'k', 'A', "\xC4\x84"}, {'k', 'E', "\xC4\x98"}, {'k', 'I', "\xC4\xAE"},
    {'k', 'O', "\xC7\xAA"}, {'k', 'U', "\xC5\xB2"}, {'k', 'a', "\xC4\x85"}, {'k', 'e', "\xC4\x99"},
    {'k', 'i', "\xC4\xAF"}, {'k', 'o', "\xC7\xAB"}, {'k', 'u', "\xC5\xB3"}, {'r', 'A', "\xC3\x85"},
    {'r', 'U', "\xC5\xAE"}, {'r', 'a', "\xC3\xA5"}, {'r', 'u', "\xC5\xAF"}, {'r', 'w', "\xE1\xBA\x98"},
    {'r', 'y', "\xE1\xBA\x99"}, {'u', 'A', "\xC4\x82"}, {'u', 'E', "\xC4\x94"}, {'u', 'G', "\xC4\x9E"},
    {'u', 'I', "\xC4\xAC"}, {'u', 'O', "\xC5\x8E"}, {'u', 'U', "\xC5\xAC"}, {'u', 'a', "\xC4\x83"},
    {'u', 'e', "\xC4\x95"}, {'u', 'g', "\xC4\x9F"}, {'u', 'i', "\xC4\xAD"}, {'u', 'o', "\xC5\x8F"},
    {'u', 'u', "\xC5\xAD"}, {'v', 'A', "\xC7\x8D"}, {'v', 'C', "\xC4\x8C"}, {'v', 'D', "\xC4\x8E"},
    {'v', 'E', "\xC4\x9A"}, {'v', 'G', "\xC7\xA6"}, {'v', 'H', "\xC8\x9E"}, {'v', 'I', "\xC7\x8F"},
    {'v', 'K', "\xC7\xA8"}, {'v', 'L', "\xC4\xBD"}, {'v', 'N', "\xC5\x87"}, {'v', 'O', "\xC7\x91"},
    {'v', 'R', "\xC5\x98"}, {'v', 'S', "\xC5\xA0"}, {'v', 'T', "\xC5\xA4"}, {'v', 'U', "\xC7\x93"},
    {'v', 'Z', "\xC5\xBD"}, {'v', 'a', "\xC7\x8E"}, {'v', 'c', "\xC4\x8D"}, {'v', 'd', "\xC4\x8F"},
    {'v', 'e', "\xC4\x9B"}, {'v', 'g', "\xC7\xA7"}, {'v', 'h', "\xC8\x9F"}, {'v', 'i', "\xC7\x90"},
    {'v', 'j', "\xC7\xB0"}, {'v', 'k', "\xC7\xA9"}, {'v', 'l', "\xC4\xBE"}, {'v', 'n', "\xC5\x88"},
    {'v', 'o', "\xC7\x92"}, {'v', 'r', "\xC5\x99"}, {'v', 's', "\xC5\xA1"}, {'v', 't', "\xC5\xA5"},
    {'v', 'u', "\xC7\x94"}, {'v', 'z', "\xC5\xBE"}, {'~', 'A', "\xC3\x83"}, {'~', 'E', "\xE1\xBA\xBC"},
    {'~', 'I', "\xC4\xA8"}, {'~', 'N', "\xC3\x91"}, {'~', 'O', "\xC3\x95"}, {'~', 'U', "\xC5\xA8"},
    {'~', 'V', "\xE1\xB9\xBC"}, {'~', 'Y', "\xE1\xBB\xB8"}, {'~', 'a', "\xC3\xA3"}, {'~', 'e', "\xE1\xBA\xBD"},
    {'~', 'i', "\xC4\xA9"}, {'~', 'n', "\xC3\xB1"}, {'~', 'o', "\xC3\xB5"}, {'~', 'u', "\xC5\xA9"},
    {'~', 'v', "\xE1\xB9\xBD"}, {'~', 'y', "\xE1\xBB\xB9"},  
};

struct Combining {
    char accent;
    const char* text;  // the combining character, UTF-8
};

const Combining kCombining[] = {
    {'"', "\xCC\x88"}, {'\'', "\xCC\x81"}, {'.', "\xCC\x87"}, {'=', "\xCC\x84"}, {'H', "\xCC\x8B"},
    {'^', "\xCC\x82"}, {'`', "\xCC\x80"},  {'b', "\xCC\xB1"}, {'c', "\xCC\xA7"}, {'d', "\xCC\xA3"},
    {'k', "\xCC\xA8"}, {'r', "\xCC\x8A"},  {'u', "\xCC\x86"}, {'v', "\xCC\x8C"}, {'~', "\xCC\x83"},
};

struct Symbol {
    std::string_view name;
    std::string_view text;
};

// Sorted by name.
const Symbol kSymbols[] = {
    {"AA", "\xC3\x85"}, {"AE", "\xC3\x86"}, {"L", "\xC5\x81"}, {"LaTeX", "LaTeX"}, {"LaTeXe", "LaTeX2e"},
    {"O", "\xC3\x98"}, {"OE", "\xC5\x92"}, {"P", "\xC2\xB6"}, {"S", "\xC2\xA7"}, {"TeX", "TeX"},
    {"aa", "\xC3\xA5"}, {"ae", "\xC3\xA6"}, {"checkmark", "\xE2\x9C\x93"}, {"copyright", "\xC2\xA9"},
    {"dag", "\xE2\x80\xA0"}, {"ddag", "\xE2\x80\xA1"}, {"dots", "\xE2\x80\xA6"}, {"euro", "\xE2\x82\xAC"},
    {"i", "\xC4\xB1"}, {"j", "\xC8\xB7"}, {"l", "\xC5\x82"}, {"ldots", "\xE2\x80\xA6"}, {"o", "\xC3\xB8"},
    {"oe", "\xC5\x93"}, {"pounds", "\xC2\xA3"}, {"slash", "/"}, {"ss", "\xC3\x9F"},
    {"textasciicircum", "^"}, {"textasciitilde", "~"}, {"textbackslash", "\\"}, {"textbar", "|"},
    {"textbullet", "\xE2\x80\xA2"}, {"textdegree", "\xC2\xB0"}, {"textellipsis", "\xE2\x80\xA6"},
    {"textemdash", "\xE2\x80\x94"}, {"textendash", "\xE2\x80\x93"}, {"texteuro", "\xE2\x82\xAC"},
    {"textgreater", ">"}, {"textless", "<"}, {"textquotedblleft", "\xE2\x80\x9C"},
    {"textquotedblright", "\xE2\x80\x9D"}, {"textquoteleft", "\xE2\x80\x98"},
    {"textquoteright", "\xE2\x80\x99"}, {"textregistered", "\xC2\xAE"}, {"texttrademark", "\xE2\x84\xA2"},
    {"textunderscore", "_"},
};

}  // namespace

bool is_accent(std::string_view name) {
    if (name.size() != 1) return false;
    return std::any_of(std::begin(kCombining), std::end(kCombining),
                       [&](const Combining& c) { return c.accent == name[0]; });
}

void append_accented(std::string& out, char accent, char letter) {
    const auto found = std::lower_bound(
        std::begin(kAccented), std::end(kAccented), Accented{accent, letter, nullptr},
        [](const Accented& a, const Accented& b) {
            return a.accent != b.accent ? a.accent < b.accent : a.letter < b.letter;
        });
    if (found != std::end(kAccented) && found->accent == accent && found->letter == letter) {
        out.append(found->text);
        return;
    }
    out.push_back(letter);
    for (const Combining& c : kCombining)
        if (c.accent == accent) out.append(c.text);
}

std::string_view text_symbol(std::string_view name) {
    const auto found = std::lower_bound(std::begin(kSymbols), std::end(kSymbols), name,
                                        [](const Symbol& s, std::string_view n) { return s.name < n; });
    if (found == std::end(kSymbols) || found->name != name) return {};
    return found->text;
}

}  // namespace kelvarin
