// Rich mode's commands as one table: each name with the signature of its
// arguments and the handler that acts on them. The handlers live in files by
// what they do: commands_text.cpp (emphasis, fonts, spaces, verbatim text,
// links, footnotes, accents), commands_structure.cpp (headings, environments,
// items, the title block), commands_references.cpp (labels, references,
// citations, the bibliography), commands_floats.cpp (images, captions, table
// cells and rules) and commands_declarations.cpp (definitions, theorem kinds,
// counters, what is dropped with its arguments).
#ifndef KELVARIN_RICH_COMMANDS_H
#define KELVARIN_RICH_COMMANDS_H

#include <cstddef>
#include <string>
#include <string_view>

#include "rich/command_arguments.h"
#include "rich/internal.h"

namespace kelvarin {

// The fonts that emphasis commands and switches ask for.
enum class Font : std::uint8_t { none, bold, italic, underline, strike, plain };

struct CommandEntry;

// One command met in the walk.
struct CommandCall {
    Walk& w;
    const CommandEntry& entry;
    std::string_view name;  // without the backslash
    std::size_t at;         // the backslash
    std::size_t after;      // just after the name
    std::size_t end;        // the end of the text being walked
    Place place;            // where the walk stands
    std::string& sink;      // where its text goes
    bool may_carry;         // an unclosed argument may carry the line on to the next

    bool top() const { return place.top(); }
    Context context() const { return place.context; }
    // Where the walk goes on after an argument that does not close: the next
    // source line, or `fallback` where the line cannot be carried.
    std::size_t unclosed(std::size_t fallback) const { return may_carry ? kNoPosition : fallback; }
    // The command as written, kept as text.
    std::size_t as_written() const;
};

// Acts on the command; returns the position after what it consumed, or
// kNoPosition to carry the line on.
using CommandHandler = std::size_t (*)(CommandCall&, const CommandArguments&);

struct CommandEntry {
    std::string_view signature;  // read before the handler is called
    CommandHandler handler;
    Font font = Font::none;      // emphasis commands and font switches
    bool declaration = false;    // acts in the preamble too
};

// The entry of a command by name, or null.
const CommandEntry* find_command(std::string_view name);

// Where a handler stops early: for a missing argument, where it was looked
// for; for an unclosed one, the next line (or the fallback). kNoStop when the
// arguments were all there.
constexpr std::size_t kNoStop = kNoPosition - 1;
std::size_t stop_at(const CommandCall& call, const CommandArguments& a);

// Helpers shared by the handlers.
void append_source_text(const Walk& w, std::string& sink, std::string_view text);
void append_emphasis(std::string& out, std::string_view marker, std::string_view content);
std::string_view font_marker(Font font);
std::string translate_range(Walk& w, std::size_t begin, std::size_t end, Context outer);
// A control symbol, "\\\\", "\\[", "\\'e", "\\&" ...: a one-byte name that is no letter.
std::size_t control_symbol(Walk& w, std::size_t at, std::size_t end, Place place, bool may_carry);
// "\\'{e}" with its group: the accented letter; `at` is after the name.
std::size_t accent(Walk& w, Context context, char mark, std::size_t at, std::size_t end, std::string& out);

// The handlers, by file.
// commands_text.cpp
std::size_t emphasis_command(CommandCall&, const CommandArguments&);
std::size_t font_switch(CommandCall&, const CommandArguments&);
std::size_t text_of_last_argument(CommandCall&, const CommandArguments&);
std::size_t horizontal_space(CommandCall&, const CommandArguments&);
std::size_t line_break(CommandCall&, const CommandArguments&);
std::size_t row_end_command(CommandCall&, const CommandArguments&);
std::size_t paragraph_command(CommandCall&, const CommandArguments&);
std::size_t verb_command(CommandCall&, const CommandArguments&);
std::size_t mintinline_command(CommandCall&, const CommandArguments&);
std::size_t url_command(CommandCall&, const CommandArguments&);
std::size_t href_command(CommandCall&, const CommandArguments&);
std::size_t footnote_command(CommandCall&, const CommandArguments&);
std::size_t ensuremath_command(CommandCall&, const CommandArguments&);
std::size_t texorpdfstring_command(CommandCall&, const CommandArguments&);
std::size_t xspace_command(CommandCall&, const CommandArguments&);
std::size_t skip_command(CommandCall&, const CommandArguments&);
std::size_t nothing_command(CommandCall&, const CommandArguments&);
std::size_t newblock_command(CommandCall&, const CommandArguments&);
// commands_structure.cpp
std::size_t heading_command(CommandCall&, const CommandArguments&);
std::size_t begin_command(CommandCall&, const CommandArguments&);
std::size_t end_command(CommandCall&, const CommandArguments&);
std::size_t item_command(CommandCall&, const CommandArguments&);
std::size_t maketitle_command(CommandCall&, const CommandArguments&);
std::size_t contents_command(CommandCall&, const CommandArguments&);
std::size_t appendix_command(CommandCall&, const CommandArguments&);
// commands_references.cpp
std::size_t label_command(CommandCall&, const CommandArguments&);
std::size_t reference_command(CommandCall&, const CommandArguments&);
std::size_t hyperref_command(CommandCall&, const CommandArguments&);
std::size_t crefname_command(CommandCall&, const CommandArguments&);
std::size_t cite_command(CommandCall&, const CommandArguments&);
std::size_t nocite_command(CommandCall&, const CommandArguments&);
std::size_t bibitem_command(CommandCall&, const CommandArguments&);
// commands_floats.cpp
std::size_t includegraphics_command(CommandCall&, const CommandArguments&);
std::size_t caption_command(CommandCall&, const CommandArguments&);
std::size_t subfloat_command(CommandCall&, const CommandArguments&);
std::size_t multicolumn_command(CommandCall&, const CommandArguments&);
std::size_t multirow_command(CommandCall&, const CommandArguments&);
std::size_t rule_command(CommandCall&, const CommandArguments&);
// commands_declarations.cpp
std::size_t drop_command(CommandCall&, const CommandArguments&);
std::size_t definition_command(CommandCall&, const CommandArguments&);
std::size_t environment_definition_command(CommandCall&, const CommandArguments&);
std::size_t def_command(CommandCall&, const CommandArguments&);
std::size_t let_command(CommandCall&, const CommandArguments&);
std::size_t title_command(CommandCall&, const CommandArguments&);
std::size_t author_command(CommandCall&, const CommandArguments&);
std::size_t date_command(CommandCall&, const CommandArguments&);
std::size_t newtheorem_command(CommandCall&, const CommandArguments&);
std::size_t numberwithin_command(CommandCall&, const CommandArguments&);
// commands_paper.cpp: the paper's own vocabulary
std::size_t newif_command(CommandCall&, const CommandArguments&);
std::size_t counter_command(CommandCall&, const CommandArguments&);
// A use of the paper's macro: its expansion walked where the call stands.
std::size_t expand_macro(CommandCall& call, const Macro& m);
// "\footrue" or "\foofalse": sets the flag; false when the name is none.
bool set_flag(CommandCall& call);
// paper_files.cpp
std::size_t own_package_command(CommandCall&, const CommandArguments&);
std::size_t own_input_command(CommandCall&, const CommandArguments&);
// conditionals.cpp
std::size_t conditional_command(CommandCall& call, ConditionalToken token);

}  // namespace kelvarin

#endif
