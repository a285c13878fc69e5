// The formulas found so far in one source, keyed by their exact text. The
// first registration of a text fixes its number; later ones share it.
#ifndef KELVARIN_EQUATION_REGISTRY_H
#define KELVARIN_EQUATION_REGISTRY_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kelvarin {

// One registered formula.
struct EquationRecord {
    std::int64_t index = 0;           // reference number - 1; 0, 1, 2 ... in order met
    bool is_inline = false;           // "$...$" in a line, or a display formula
    std::int64_t line_count = 0;      // captured lines (1 for inline)
    std::vector<std::string> lines;   // the formula, one element per source line
    std::int64_t first_row = 0;       // source row of the first formula line
    std::int64_t last_row = 0;        // source row of the last formula line
    std::int64_t first_column = -1;   // inline: byte position of the opening "$"
    std::int64_t last_column = -1;    // inline: byte position of the closing "$"
    std::int64_t stripped_offset = 0; // inline: where the group began once the
                                      // groups before it on its line were removed
};

// Ordered map from formula text to record, plus the records by number so that
// the equation document can be written in number order in linear time.
struct EquationRegistry {
    std::map<std::string, EquationRecord> by_text;
    std::vector<const EquationRecord*> by_index;  // by_index[i]->index == i
};

inline std::int64_t registry_size(const EquationRegistry& registry) {
    return static_cast<std::int64_t>(registry.by_index.size());
}

// Registers `formula_text` with the content of `pending` when the text is new
// (the pending record is then moved into the registry) and returns the
// reference number of the text's record. `stored`, when given, receives the
// record kept under the text.
std::int64_t register_equation(EquationRegistry& registry,
                               const std::string& formula_text,
                               EquationRecord& pending,
                               EquationRecord** stored = nullptr);

}  // namespace kelvarin

#endif
