#include "convert/equation_registry.h"

#include <utility>

namespace kelvarin {

std::int64_t register_equation(EquationRegistry& registry,
                               const std::string& formula_text,
                               EquationRecord& pending,
                               EquationRecord** stored) {
    auto found = registry.by_text.lower_bound(formula_text);
    if (found == registry.by_text.end() || found->first != formula_text) {
        // Every caller prepares the pending record afresh before its next
        // registration, so its content can be moved rather than copied.
        found = registry.by_text.emplace_hint(found, formula_text,
                                              std::move(pending));
        pending.lines.clear();
        // The number is the count of records before this one; callers take
        // it when a formula starts and nothing registers in between, so this
        // only guards the numbering the equation document relies on.
        found->second.index = registry_size(registry);
        registry.by_index.push_back(&found->second);
    }
    if (stored != nullptr) *stored = &found->second;
    return found->second.index + 1;
}

}  // namespace kelvarin
