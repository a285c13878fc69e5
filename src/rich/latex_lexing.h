// Lexical facts about LaTeX text for rich mode: where brace groups close,
// where the dollar signs stand, where a comment starts, how long a command
// name is. Everything is found in one pass over a logical line, so that the
// translator never rescans: an input full of unclosed groups costs linear
// time like any other.
#ifndef KELVARIN_LATEX_LEXING_H
#define KELVARIN_LATEX_LEXING_H

#include <array>
#include <cstddef>
#include <string_view>
#include <vector>

namespace kelvarin {

constexpr std::size_t kNoPosition = std::string_view::npos;

// A backslash escapes the byte after it ("\{", "\$", "\\" are no group,
// dollar or escape); the text of \verb and \lstinline is skipped.
struct LatexIndex {
    std::string_view text;
    // The groups and the dollars are each found on first need, in a pass of
    // their own: a line of formulas asks where its dollars are and seldom
    // where its groups close, and most lines of prose ask neither.
    bool groups_found = false;
    bool dollars_found = false;
    std::vector<std::size_t> opens;    // positions of "{", ascending
    std::vector<std::size_t> closes;   // the "}" matching each, or kNoPosition
    std::vector<std::size_t> dollars;  // positions of "$", ascending
    std::vector<std::size_t> unclosed; // while groups are found: indexes into opens of the open ones
    // Per byte value, a position from which on the byte was once looked for
    // and not found; later searches from there on fail at once. Only the
    // entries in `absent_set` hold a position; the others are unset.
    std::array<std::size_t, 256> absent_from;
    std::vector<unsigned char> absent_set;
};

// Makes `index` the index of `text`, which must outlive it. The groups and
// dollars are found when first asked for: most lines of prose never ask.
// An index made again keeps the memory of its vectors.
void index_latex(std::string_view text, LatexIndex& index);

// The "}" that closes the group opened at `open` (a "{" of the text), or
// kNoPosition when it does not close.
std::size_t group_close(LatexIndex& index, std::size_t open);

// Whether every "{" of the text closes.
bool all_groups_close(LatexIndex& index);

// The first "$" at or after `from`, or kNoPosition.
std::size_t next_dollar(LatexIndex& index, std::size_t from);

// The first `byte` at or after `from`, or kNoPosition; a failed search is
// remembered, so repeated failures cost nothing.
std::size_t find_byte(LatexIndex& index, char byte, std::size_t from);

// Length of the name of the command whose backslash is at `at`: a run of
// letters, or one other byte (0 at the end of the text).
std::size_t command_name_length(std::string_view text, std::size_t at);

// Whether `c` is a letter as TeX reads command words: ASCII only.
bool is_letter(char c);

// Where the delimited text of \verb (or \verb*, \lstinline) whose name ends
// at `after_name` ends: the position after its closing delimiter, or
// kNoPosition when the delimiter does not come again on the line.
std::size_t verb_end(LatexIndex& index, std::size_t after_name);

// The position after an optional argument "[...]" starting at `at` (blanks
// before it skipped when `skip_blanks`), braces inside it counted; `at`
// itself when there is none or it does not close.
std::size_t skip_optional_argument(LatexIndex& index, std::size_t at, bool skip_blanks);

// The position of the first non-blank byte at or after `at`.
std::size_t skip_blanks(std::string_view text, std::size_t at);

// Where the comment of a line starts: its first "%" that no backslash
// escapes, outside \verb text and \url or \href addresses; kNoPosition when
// the line has none.
std::size_t comment_start(std::string_view line);

}  // namespace kelvarin

#endif
