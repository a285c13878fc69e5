#include "convert/equation_registry.h"

#include <chrono>
#include <cstring>

namespace kelvarin {

namespace {

constexpr std::uint64_t kMultiplier = 0x9e3779b97f4a7c15ULL;
constexpr std::uint64_t kMixer = 0xd6e8feb86659fd93ULL;
constexpr std::size_t kFirstTableSize = 64;
constexpr std::size_t kBlockSize = 1 << 16;

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

// A kept text starts with its number and its length; its bytes follow.
struct KeptHeader {
    std::int64_t number;
    std::size_t size;
};

KeptHeader header_of(const char* kept) {
    KeptHeader h;
    std::memcpy(&h, kept, sizeof h);
    return h;
}

bool has_text(const char* kept, std::string_view text) {
    const KeptHeader h = header_of(kept);
    return h.size == text.size() &&
           (text.empty() || std::memcmp(kept + sizeof h, text.data(), text.size()) == 0);
}

// `size` bytes in the blocks, at an address that is a multiple of 8.
char* take_bytes(EquationRegistry& registry, std::size_t size) {
    const std::size_t need = (size + 7) / 8 * 8;
    if (need > kBlockSize) {
        // More than a block gets a block of its own, and the block being
        // filled stays the last one.
        auto& blocks = registry.blocks;
        const auto before_last = blocks.empty() ? blocks.end() : blocks.end() - 1;
        return blocks.insert(before_last, std::unique_ptr<char[]>(new char[need]))->get();
    }
    if (need > registry.block_left) {
        registry.blocks.emplace_back(new char[kBlockSize]);
        registry.block_left = kBlockSize;
    }
    char* at = registry.blocks.back().get() + (kBlockSize - registry.block_left);
    registry.block_left -= need;
    return at;
}

std::string_view keep_bytes(EquationRegistry& registry, std::string_view bytes) {
    if (bytes.empty()) return {};
    char* at = take_bytes(registry, bytes.size());
    std::memcpy(at, bytes.data(), bytes.size());
    return {at, bytes.size()};
}

const char* keep_text(EquationRegistry& registry, std::string_view text,
                      std::int64_t number) {
    char* at = take_bytes(registry, sizeof(KeptHeader) + text.size());
    const KeptHeader h{number, text.size()};
    std::memcpy(at, &h, sizeof h);
    if (!text.empty()) std::memcpy(at + sizeof h, text.data(), text.size());
    return at;
}

std::size_t free_slot(const std::vector<EquationSlot>& slots, std::uint64_t hash) {
    const std::size_t mask = slots.size() - 1;
    std::size_t i = static_cast<std::size_t>(hash) & mask;
    while (slots[i].text != nullptr) i = (i + 1) & mask;
    return i;
}

// Doubles the table (or makes the first one) and puts every text back.
void grow(EquationRegistry& registry) {
    std::vector<EquationSlot> bigger(
        registry.slots.empty() ? kFirstTableSize : registry.slots.size() * 2);
    for (const EquationSlot& slot : registry.slots)
        if (slot.text != nullptr) bigger[free_slot(bigger, slot.hash)] = slot;
    registry.slots.swap(bigger);
}

}  // namespace

EquationRegistry::EquationRegistry()
    : seed(finish(static_cast<std::uint64_t>(
                      std::chrono::steady_clock::now().time_since_epoch().count()) ^
                  reinterpret_cast<std::uintptr_t>(this))) {}

std::string_view kept_text(const KeptEquation& formula) {
    const KeptHeader h = header_of(formula.text);
    return {formula.text + sizeof h, h.size};
}

std::size_t equation_line_count(const KeptEquation& formula) {
    return formula.is_inline ? 1 : formula.line_count;
}

std::string_view equation_line(const EquationRegistry& registry,
                               const KeptEquation& formula, std::size_t k) {
    if (formula.is_inline) return kept_text(formula);
    return registry.display_lines[formula.first_line + k];
}

std::int64_t find_equation(const EquationRegistry& registry,
                           std::string_view formula_text, EquationLookup& where) {
    where.hash = hash_text(formula_text, registry.seed);
    const std::vector<EquationSlot>& slots = registry.slots;
    if (slots.empty()) return 0;
    const std::size_t mask = slots.size() - 1;
    std::size_t i = static_cast<std::size_t>(where.hash) & mask;
    for (;; i = (i + 1) & mask) {
        const EquationSlot& slot = slots[i];
        if (slot.text == nullptr) break;
        if (slot.hash == where.hash && has_text(slot.text, formula_text))
            return header_of(slot.text).number;
    }
    where.slot = i;
    return 0;
}

std::int64_t add_equation(EquationRegistry& registry, const EquationLookup& where,
                          std::string_view formula_text, const EquationRecord& record) {
    const std::int64_t number = registry_size(registry) + 1;
    KeptEquation kept;
    kept.is_inline = record.is_inline;
    kept.first_row = record.first_row;
    kept.last_row = record.last_row;
    kept.first_column = record.first_column;
    kept.last_column = record.last_column;
    kept.text = keep_text(registry, formula_text, number);
    if (!record.is_inline) {
        kept.line_count = record.lines.size();
        kept.first_line = registry.display_lines.size();
        for (const std::string& line : record.lines)
            registry.display_lines.push_back(keep_bytes(registry, line));
    }
    registry.formulas.push_back(kept);

    const EquationSlot slot{where.hash, kept.text};
    // At most half full: probes stay short even when texts hash to
    // neighbouring places.
    if (registry.formulas.size() * 2 > registry.slots.size()) {
        grow(registry);
        registry.slots[free_slot(registry.slots, where.hash)] = slot;
    } else {
        registry.slots[where.slot] = slot;
    }
    return number;
}

std::int64_t register_equation(EquationRegistry& registry,
                               std::string_view formula_text,
                               const EquationRecord& pending) {
    EquationLookup where;
    const std::int64_t found = find_equation(registry, formula_text, where);
    if (found != 0) return found;
    return add_equation(registry, where, formula_text, pending);
}

}  // namespace kelvarin
