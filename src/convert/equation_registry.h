// The formulas found so far in one source, keyed by their exact text. The
// first registration of a text fixes its number; later ones share it.
#ifndef KELVARIN_EQUATION_REGISTRY_H
#define KELVARIN_EQUATION_REGISTRY_H

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace kelvarin {

// One registered formula. Its text, the key it is found by, is its one line
// for an inline formula, and each of its lines followed by the two bytes
// backslash and "n" for a display formula.
struct EquationRecord {
    std::int64_t index = 0;           // reference number - 1; 0, 1, 2 ... in order met
    bool is_inline = false;           // "$...$" in a line, or a display formula
    std::int64_t line_count = 0;      // captured lines (1 for inline)
    std::vector<std::string> lines;   // the formula, one element per source line
    std::int64_t first_row = 0;       // source row of the first formula line
    std::int64_t last_row = 0;        // source row of the last formula line
    std::int64_t first_column = -1;   // inline: byte position of the opening "$"
    std::int64_t last_column = -1;    // inline: byte position of the closing "$"
};

// A place of the hash table: the hash of a record's text and its number
// (0 while the place is free).
struct EquationSlot {
    std::uint64_t hash = 0;
    std::int64_t number = 0;
};

// The records in number order, and a hash table from text to number. The
// table is open addressing with linear probing, at most half full, so a
// lookup costs one hash of the text and, almost always, one comparison,
// however many formulas there are and however much of their text they share.
// The records live in a deque: it never moves them, and it grows without the
// copy a vector makes when it doubles.
struct EquationRegistry {
    std::deque<EquationRecord> records;  // records[i].index == i
    std::vector<EquationSlot> slots;     // size 0 or a power of two
    std::uint64_t seed;                  // varies from run to run, so that no
                                         // source can be made to collide
    EquationRegistry();
};

inline std::int64_t registry_size(const EquationRegistry& registry) {
    return static_cast<std::int64_t>(registry.records.size());
}

// Where a text was looked for: what add_equation needs to put it there.
struct EquationLookup {
    std::uint64_t hash = 0;
    std::size_t slot = 0;
};

// The reference number of the record with text `formula_text`, or 0 when
// there is none yet; `where` is then where it goes, as long as nothing is
// added in between.
std::int64_t find_equation(const EquationRegistry& registry,
                           std::string_view formula_text, EquationLookup& where);

// Adds `record`, whose text was just looked for in vain, and returns its
// reference number, the count of records before it plus one.
std::int64_t add_equation(EquationRegistry& registry, const EquationLookup& where,
                          EquationRecord&& record);

// Registers `formula_text` with the content of `pending` when the text is new
// (the pending record is then moved into the registry) and returns the
// reference number of the text's record. `formula_text` is the text of
// `pending`, as EquationRecord describes it.
std::int64_t register_equation(EquationRegistry& registry,
                               std::string_view formula_text,
                               EquationRecord& pending);

}  // namespace kelvarin

#endif
