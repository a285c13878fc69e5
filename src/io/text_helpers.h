// Small byte-string and path helpers used throughout the conversion engine.
// They know nothing of LaTeX or wiki syntax; their edge behaviour (unclosed
// groups, odd paths, unusual leading bytes) shows directly in the output, so
// it is kept exactly as documented on each function.
#ifndef KELVARIN_TEXT_HELPERS_H
#define KELVARIN_TEXT_HELPERS_H

#include <cstdint>
#include <string>
#include <string_view>

namespace kelvarin {

// Finds the first `open` at or after `pos`; on success sets `pos` to it, puts
// the bytes after it up to the first `close` found from pos + 1 (or to the end
// of the text when there is none) into `out`, and returns the position of that
// `close`, or -1. With no `open` at all it returns -1 and leaves `out` and
// `pos` untouched. Groups do not nest.
std::int64_t extract_group(std::string_view text, std::string& out,
                           std::int64_t& pos, std::string_view open,
                           std::string_view close);

// The line's first brace group: the bytes after its first "{" up to the
// first "}" after that, without nesting. Returns the position of that "}",
// or -1 when there is none, in which case `out` is not to be used.
inline std::int64_t first_brace_group(std::string_view line, std::string& out) {
    std::int64_t pos = 0;
    return extract_group(line, out, pos, "{", "}");
}

// Removes leading bytes while they are 0x20, 0x81, 0x40 ("@") or 0x09. Each
// byte counts on its own, so of the Shift_JIS ideographic space 0x81 0x40 both
// halves go, and of any other 0x81 lead byte only that byte goes.
void trim_leading_blanks(std::string& text);
// How many bytes trim_leading_blanks would remove.
std::size_t leading_blank_count(std::string_view text);

// The text without the blanks (0x20) and tabs at its end, or at both ends.
std::string_view trim_trailing_blanks_and_tabs(std::string_view text);
std::string_view trim_blanks_and_tabs(std::string_view text);

// The path up to its last "." (anywhere in the path), or the whole path.
std::string strip_extension(std::string_view path);

// The bytes after the last backslash; if there is none, after the last "/";
// otherwise the whole path. A backslash wins even when a "/" follows it.
std::string base_name(std::string_view path);

// The text with A-Z made a-z, independent of the locale; other bytes as they are.
std::string ascii_lower(std::string_view text);

// Plain decimal, "-" for negatives, independent of the locale.
std::string int_to_string(std::int64_t value);
// The same digits appended to `out`, or written at the end of `buffer` and
// returned as a view of it.
void append_decimal(std::string& out, std::int64_t value);
std::string_view decimal_digits(std::int64_t value, char (&buffer)[24]);

// The three kinds of line test. All are byte-wise and case-sensitive.
inline bool contains(std::string_view line, std::string_view what) {
    return line.find(what) != std::string_view::npos;
}
inline bool equals(std::string_view line, std::string_view what) {
    return line == what;
}
// The first occurrence of `what` is at byte 0, i.e. the line starts with it.
inline bool begins_with(std::string_view line, std::string_view what) {
    return line.substr(0, what.size()) == what;
}

}  // namespace kelvarin

#endif
