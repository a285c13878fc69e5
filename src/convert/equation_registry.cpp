#include "convert/equation_registry.h"

#include <chrono>
#include <cstring>
#include <utility>

namespace kelvarin {

namespace {

constexpr std::uint64_t kMultiplier = 0x9e3779b97f4a7c15ULL;
constexpr std::uint64_t kMixer = 0xd6e8feb86659fd93ULL;
constexpr std::size_t kFirstTableSize = 64;

std::uint64_t finish(std::uint64_t h) {
    h ^= h >> 32;
    h *= kMixer;
    h ^= h >> 32;
    h *= kMixer;
    h ^= h >> 32;
    return h;
}

// Eight bytes at a time: each word is folded in by a multiplication, whose
// high bits are brought down again before the next word, and the result is
// mixed once more so that every bit of the text moves the low bits that pick
// the place in the table.
std::uint64_t hash_text(std::string_view text, std::uint64_t seed) {
    std::uint64_t h = seed ^ (text.size() * kMultiplier);
    const char* p = text.data();
    std::size_t n = text.size();
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        h = (h ^ word) * kMultiplier;
        h ^= h >> 29;
    }
    if (n > 0) {
        std::uint64_t word = 0;
        std::memcpy(&word, p, n);
        h = (h ^ word) * kMultiplier;
        h ^= h >> 29;
    }
    return finish(h);
}

// Whether `text` is the text of `record`.
bool has_text(const EquationRecord& record, std::string_view text) {
    if (record.is_inline)
        return record.lines.empty() ? text.empty() : record.lines.front() == text;
    for (const std::string& line : record.lines) {
        if (text.compare(0, line.size(), line) != 0) return false;
        text.remove_prefix(line.size());
        if (text.compare(0, 2, "\\n") != 0) return false;
        text.remove_prefix(2);
    }
    return text.empty();
}

std::size_t free_slot(const std::vector<EquationSlot>& slots, std::uint64_t hash) {
    const std::size_t mask = slots.size() - 1;
    std::size_t i = static_cast<std::size_t>(hash) & mask;
    while (slots[i].number != 0) i = (i + 1) & mask;
    return i;
}

// Doubles the table (or makes the first one) and puts every number back.
void grow(EquationRegistry& registry) {
    std::vector<EquationSlot> bigger(
        registry.slots.empty() ? kFirstTableSize : registry.slots.size() * 2);
    for (const EquationSlot& slot : registry.slots)
        if (slot.number != 0) bigger[free_slot(bigger, slot.hash)] = slot;
    registry.slots.swap(bigger);
}

}  // namespace

EquationRegistry::EquationRegistry()
    : seed(finish(static_cast<std::uint64_t>(
                      std::chrono::steady_clock::now().time_since_epoch().count()) ^
                  reinterpret_cast<std::uintptr_t>(this))) {}

std::int64_t find_equation(const EquationRegistry& registry,
                           std::string_view formula_text, EquationLookup& where) {
    where.hash = hash_text(formula_text, registry.seed);
    const std::vector<EquationSlot>& slots = registry.slots;
    if (slots.empty()) return 0;
    const std::size_t mask = slots.size() - 1;
    std::size_t i = static_cast<std::size_t>(where.hash) & mask;
    for (;; i = (i + 1) & mask) {
        const EquationSlot& slot = slots[i];
        if (slot.number == 0) break;
        if (slot.hash == where.hash &&
            has_text(registry.records[static_cast<std::size_t>(slot.number - 1)],
                     formula_text))
            return slot.number;
    }
    where.slot = i;
    return 0;
}

std::int64_t add_equation(EquationRegistry& registry, const EquationLookup& where,
                          EquationRecord&& record) {
    const std::int64_t number = registry_size(registry) + 1;
    record.index = number - 1;
    registry.records.push_back(std::move(record));
    // At most half full: probes stay short even when texts hash to
    // neighbouring places.
    if (registry.records.size() * 2 > registry.slots.size()) {
        grow(registry);
        registry.slots[free_slot(registry.slots, where.hash)] = {where.hash, number};
    } else {
        registry.slots[where.slot] = {where.hash, number};
    }
    return number;
}

std::int64_t register_equation(EquationRegistry& registry,
                               std::string_view formula_text,
                               EquationRecord& pending) {
    EquationLookup where;
    const std::int64_t found = find_equation(registry, formula_text, where);
    if (found != 0) return found;
    // Every caller prepares the pending record afresh before its next
    // registration, so its content can be moved rather than copied.
    const std::int64_t number = add_equation(registry, where, std::move(pending));
    pending.lines.clear();
    return number;
}

}  // namespace kelvarin
