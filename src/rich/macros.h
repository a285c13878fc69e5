// The paper's own vocabulary: the commands, environments and flags it
// defines (in its preamble, in its own style files, in its body), read in
// document order and expanded in text as LaTeX would, so that an index
// macro vanishes, a reference wrapper prints its reference and a
// theorem-defining macro defines a theorem. Formulas keep the paper's
// macros as written: latex expands them when the image is made.
#ifndef KELVARIN_RICH_MACROS_H
#define KELVARIN_RICH_MACROS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kelvarin {

struct Macro {
    int parameters = 0;                     // #1 .. #9
    std::optional<std::string> optional;    // the default of an optional first argument
    std::string body;
    bool expandable = true;                 // false: recorded, left as written where used
    // "\def\x<#1>#2.{...}": what the call must show before its first
    // argument ("<"), then what ends each argument (">", "."); "" where a
    // brace group or one token is the argument. Empty for \newcommand's.
    std::vector<std::string> delimiters;
};

struct PaperEnvironment {
    int parameters = 0;
    std::optional<std::string> optional;
    std::string begin, end;                 // the code around the environment's content
};

struct PaperVocabulary {
    std::unordered_map<std::string, Macro> macros;                  // by name, without the backslash
    std::unordered_map<std::string, PaperEnvironment> environments; // by name
    std::unordered_map<std::string, bool> flags;                    // \newif\iffoo: "foo" -> value
    // Open conditionals, innermost last: whether the walk takes the branch
    // it is in. While any says no, text is passed over.
    std::vector<bool> conditionals;
    int skipping_depth = 0;                 // conditionals nested inside a branch being passed over
    bool skipping = false;                  // passing over a branch, up to its \else or \fi
    bool stop_at_else = false;              // the branch passed over ends at an \else too
    // Expansion's bounds: how deep expansions stand inside each other now,
    // and how many bytes the logical line being walked may still expand to.
    int depth = 0;
    std::size_t budget = 0;
    bool overflow = false;                  // an expansion went past a bound: the outermost is undone
    std::set<std::string> reported;         // macros already named as expanding without end
    std::vector<std::string> warnings;      // "paper.tex:123: \foo expands without end; left as written"
    // Definitions met in the body, as written, for the equation document.
    std::vector<std::string> body_definitions;
};

// Expansion stops this deep, or when a logical line expands to more than
// kExpansionFactor times its size plus kExpansionAllowance bytes.
constexpr int kDeepestExpansion = 64;
constexpr std::size_t kExpansionFactor = 64;
constexpr std::size_t kExpansionAllowance = 64 * 1024;

// The body with "#1".."#9" replaced by the arguments and "##" by "#";
// false when the result would exceed `limit` bytes.
bool substitute(std::string_view body, const std::vector<std::string_view>& arguments, std::size_t limit,
                std::string& out);

// Whether a body is mathematics as it stands in text: "\ensuremath{...}"
// (with anything after it that prints nothing, as "\xspace"), or one "$...$".
bool is_math_body(std::string_view body);

// What a command name is to conditionals.
enum class ConditionalToken { none, open, otherwise, close };
ConditionalToken conditional_token(const PaperVocabulary& v, std::string_view name);

// Passes over text from `from` to the end of the branch being skipped (its
// \else when that ends it, or its \fi, which closes the conditional);
// returns the position after it, or kNoPosition when the text ends first,
// and the branch goes on over the next lines.
std::size_t skip_branch(PaperVocabulary& v, std::string_view text, std::size_t from);

// The flag "foo" of \newif that `name` sets when it is "footrue" or
// "foofalse", and in `value` the value it sets; null for any other name.
bool* flag_set_by(PaperVocabulary& v, std::string_view name, bool& value);

// TeX's own conditionals, which rich mode cannot decide: the walk keeps
// their first branch.
bool is_tex_conditional(std::string_view name);

}  // namespace kelvarin

#endif
