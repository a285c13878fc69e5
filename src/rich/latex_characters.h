// The characters that LaTeX text spells with commands: accented letters,
// named symbols, and the ligatures of dashes and quotes. Rich mode writes
// them as the UTF-8 characters a reader expects.
#ifndef KELVARIN_LATEX_CHARACTERS_H
#define KELVARIN_LATEX_CHARACTERS_H

#include <string>
#include <string_view>

namespace kelvarin {

// Whether `accent` (the byte after the backslash: ' ` ^ " ~ = . or the
// letters u v H c k r d b) makes an accent command.
bool is_accent(std::string_view name);

// Appends `letter` (one byte; 'i' also stands for the dotless i) with the
// accent to `out`: the precomposed character where Unicode has one, else the
// letter followed by the combining accent.
void append_accented(std::string& out, char accent, char letter);

// The text of a symbol command without argument (\ldots, \S, \ss, \o,
// \LaTeX, ...), or an empty view when `name` is no such command.
std::string_view text_symbol(std::string_view name);

}  // namespace kelvarin

#endif
