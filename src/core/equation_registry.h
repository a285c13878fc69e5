// The formulas found so far in one source, keyed by their exact text. The
// first registration of a text fixes its number; later ones share it.
#ifndef KELVARIN_EQUATION_REGISTRY_H
#define KELVARIN_EQUATION_REGISTRY_H

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kelvarin {

// A formula as a caller hands it in for registration. The text it is
// registered under is its one line for an inline formula, and each of its
// lines followed by the two bytes backslash and "n" for a display formula.
struct EquationRecord {
    std::int64_t index = 0;           // reference number - 1; 0, 1, 2 ... in order met
    bool is_inline = false;           // "$...$" in a line, or a display formula
    std::int64_t line_count = 0;      // captured lines (1 for inline)
    std::vector<std::string> lines;   // the formula, one element per source line
    std::int64_t first_row = 0;       // source row of the first formula line
    std::int64_t last_row = 0;        // source row of the last formula line
    std::int64_t first_column = -1;   // inline: byte position of the opening "$"
    std::int64_t last_column = -1;    // inline: byte position of the closing "$"
    bool bare = false;                // a drawing: its lines are typeset as they are, not as display math
    bool postscript = false;          // a drawing made of PostScript: its image is png (core/image_names.h)
};

// What the registry keeps of a formula: where it stood and where its text
// and lines are kept. Nothing of it is allocated on its own, so a source of
// a million formulas costs no million allocations, and no million frees.
struct KeptEquation {
    bool is_inline = false;
    bool bare = false;
    bool postscript = false;
    std::int64_t first_row = 0;
    std::int64_t last_row = 0;
    std::int64_t first_column = -1;
    std::int64_t last_column = -1;
    const char* text = nullptr;   // the kept text, read by kept_text
    std::uint64_t place = 0;      // where the text is kept, as a table place holds it
    std::size_t line_count = 0;   // display: its lines are
    std::size_t first_line = 0;   // display_lines[first_line, + line_count)
};

// The formulas in number order, and a hash table from text to number.
//
// The table is open addressing with linear probing, at most three quarters
// full, so a lookup costs one hash of the text and, almost always, one
// comparison, however many formulas there are and however much of their
// text they share. A place of the table is eight bytes: the top bits of the
// text's hash, and where the text is kept (0: the place is free). A small
// table stays in the processor's caches better, and a lookup for a new
// formula, which cannot be served from them, costs one memory access.
//
// Each text is kept with its number in large blocks, so a lookup reads its
// place in the table and the kept text beside its number, and nothing else.
// The lines of display formulas are kept in the blocks too. Deques never
// move what they hold and grow without the copy a vector makes when it
// doubles.
struct EquationRegistry {
    std::deque<KeptEquation> formulas;            // formulas[i] has number i + 1
    std::deque<std::string_view> display_lines;   // into the blocks
    std::vector<std::uint64_t> slots;             // size 0 or a power of two
    std::vector<std::unique_ptr<char[]>> blocks;  // the kept bytes
    std::size_t filling = 0;      // the block being filled, when block_left > 0
    std::size_t block_left = 0;   // its free bytes
    std::uint64_t seed;           // varies from run to run, so that no
                                  // source can be made to collide

    // Images named by content (core/image_names.h); the rest is empty when
    // they are named by number.
    bool content_names = false;
    std::vector<std::uint64_t> content_keys;                    // formula i + 1's key
    std::unordered_map<std::uint64_t, std::int64_t> by_key;     // key -> first number
    std::vector<std::pair<std::int64_t, std::int64_t>> clashes; // numbers whose keys are equal
    EquationRegistry();
};

inline std::int64_t registry_size(const EquationRegistry& registry) {
    return static_cast<std::int64_t>(registry.formulas.size());
}

// The text a formula is registered under.
std::string_view kept_text(const KeptEquation& formula);

// Line `k` of a formula, k < equation_line_count(formula).
std::size_t equation_line_count(const KeptEquation& formula);
std::string_view equation_line(const EquationRegistry& registry,
                               const KeptEquation& formula, std::size_t k);

// Where a text was looked for: what add_equation needs to put it there.
struct EquationLookup {
    std::uint64_t hash = 0;
    std::size_t slot = 0;
};

// The reference number of the formula with text `formula_text`, or 0 when
// there is none yet; `where` is then where it goes, as long as nothing is
// added in between.
std::int64_t find_equation(const EquationRegistry& registry,
                           std::string_view formula_text, EquationLookup& where);

// Adds the formula `record` describes, with text `formula_text`, which was
// just looked for in vain, and returns its reference number, the count of
// formulas before it plus one. Of an inline formula, the one line is its
// text, and `record.lines` is not read.
std::int64_t add_equation(EquationRegistry& registry, const EquationLookup& where,
                          std::string_view formula_text, const EquationRecord& record);

// Names the images by content from now on, and those of the formulas
// registered so far too.
void name_images_by_content(EquationRegistry& registry);

// Registers `formula_text` with the content of `pending` when the text is new
// and returns the reference number of the text's formula. The registry keeps
// copies; `pending` is left as it was.
std::int64_t register_equation(EquationRegistry& registry,
                               std::string_view formula_text,
                               const EquationRecord& pending);

}  // namespace kelvarin

#endif
