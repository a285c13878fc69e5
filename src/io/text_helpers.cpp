#include "io/text_helpers.h"

namespace kelvarin {

std::int64_t extract_group(std::string_view text, std::string& out,
                           std::int64_t& pos, std::string_view open,
                           std::string_view close) {
    if (pos < 0 || static_cast<std::uint64_t>(pos) > text.size()) return -1;
    const std::size_t o = text.find(open, static_cast<std::size_t>(pos));
    if (o == std::string_view::npos) return -1;
    pos = static_cast<std::int64_t>(o);
    // The content and the search for the closing delimiter both start one
    // byte after the opening one, so "$" can serve as both delimiters.
    const std::size_t c = text.find(close, o + 1);
    if (c == std::string_view::npos) {
        out.assign(text.substr(o + 1));
        return -1;
    }
    out.assign(text.substr(o + 1, c - (o + 1)));
    return static_cast<std::int64_t>(c);
}

std::size_t leading_blank_count(std::string_view text) {
    std::size_t n = 0;
    while (n < text.size()) {
        const unsigned char b = static_cast<unsigned char>(text[n]);
        if (b != 0x20 && b != 0x81 && b != 0x40 && b != 0x09) break;
        ++n;
    }
    return n;
}

std::string_view trim_trailing_blanks_and_tabs(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

std::string_view trim_blanks_and_tabs(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    return trim_trailing_blanks_and_tabs(text);
}

void trim_leading_blanks(std::string& text) {
    if (const std::size_t n = leading_blank_count(text)) text.erase(0, n);
}

std::string strip_extension(std::string_view path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos) return std::string(path);
    return std::string(path.substr(0, dot));
}

std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string base_name(std::string_view path) {
    std::size_t sep = path.rfind('\\');
    if (sep == std::string_view::npos) sep = path.rfind('/');
    if (sep == std::string_view::npos) return std::string(path);
    return std::string(path.substr(sep + 1));
}

std::string_view decimal_digits(std::int64_t value, char (&buffer)[24]) {
    // Two digits at a time, from a table of the hundred pairs.
    static constexpr char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    // Work on the unsigned magnitude so that the smallest value keeps all
    // its digits.
    std::uint64_t magnitude = value < 0
        ? 0 - static_cast<std::uint64_t>(value)
        : static_cast<std::uint64_t>(value);
    std::size_t n = sizeof buffer;
    while (magnitude >= 100) {
        const std::size_t pair = static_cast<std::size_t>(magnitude % 100) * 2;
        magnitude /= 100;
        buffer[--n] = kPairs[pair + 1];
        buffer[--n] = kPairs[pair];
    }
    if (magnitude >= 10) {
        const std::size_t pair = static_cast<std::size_t>(magnitude) * 2;
        buffer[--n] = kPairs[pair + 1];
        buffer[--n] = kPairs[pair];
    } else {
        buffer[--n] = static_cast<char>('0' + magnitude);
    }
    if (value < 0) buffer[--n] = '-';
    return {buffer + n, sizeof buffer - n};
}

void append_decimal(std::string& out, std::int64_t value) {
    char buffer[24];
    out.append(decimal_digits(value, buffer));
}

std::string int_to_string(std::int64_t value) {
    std::string s;
    append_decimal(s, value);
    return s;
}

}  // namespace kelvarin
