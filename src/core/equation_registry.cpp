#include "core/equation_registry.h"

#include <chrono>
#include <cstring>

#include "core/image_names.h"

namespace kelvarin {

namespace {

constexpr std::uint64_t kMultiplier = 0x9e3779b97f4a7c15ULL;
constexpr std::uint64_t kMixer = 0xd6e8feb86659fd93ULL;
constexpr std::size_t kFirstTableSize = 64;
constexpr std::size_t kBlockSize = 1 << 16;  // a multiple of 8

std::uint64_t finish(std::uint64_t h) {
    h ^= h >> 32;
    h *= kMixer;
    h ^= h >> 32;
    h *= kMixer;
    h ^= h >> 32;
    return h;
}

std::uint64_t load8(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    return word;
}

std::uint64_t load4(const char* p) {
    std::uint32_t word;
    std::memcpy(&word, p, 4);
    return word;
}

// Eight bytes at a time: each word is folded in by a multiplication, whose
// high bits are brought down again before the next word, and the result is
// mixed once more so that every bit of the text moves the low bits that pick
// the place in the table. The last word is read ending at the last byte,
// overlapping the one before it, so that no byte is read one at a time; the
// length, folded in first, keeps texts of different lengths apart.
std::uint64_t hash_text(std::string_view text, std::uint64_t seed) {
    std::uint64_t h = seed ^ (text.size() * kMultiplier);
    const auto fold = [&h](std::uint64_t word) {
        h = (h ^ word) * kMultiplier;
        h ^= h >> 29;
    };
    const char* p = text.data();
    const std::size_t n = text.size();
    if (n >= 8) {
        const char* const last = p + n - 8;
        for (; p < last; p += 8) fold(load8(p));
        fold(load8(last));
    } else if (n >= 4) {
        fold(load4(p) | load4(p + n - 4) << 32);
    } else if (n > 0) {
        const auto byte = [](char c) { return static_cast<std::uint64_t>(static_cast<unsigned char>(c)); };
        fold(byte(p[0]) | byte(p[n / 2]) << 8 | byte(p[n - 1]) << 16);
    }
    return finish(h);
}

// A kept text starts with its number, its length and its hash; its bytes
// follow.
struct KeptHeader {
    std::int64_t number;
    std::size_t size;
    std::uint64_t hash;
};

KeptHeader header_of(const char* kept) {
    KeptHeader h;
    std::memcpy(&h, kept, sizeof h);
    return h;
}

// Compared eight bytes at a time in place, the last word overlapping the one
// before it, as the hash reads them: formulas are short, and a call to a
// general comparison costs as much as the comparing.
bool has_text(const char* kept, std::string_view text) {
    const KeptHeader h = header_of(kept);
    if (h.size != text.size()) return false;
    const char* a = kept + sizeof h;
    const char* b = text.data();
    const std::size_t n = text.size();
    if (n >= 8) {
        for (std::size_t i = 0; i + 8 < n; i += 8)
            if (load8(a + i) != load8(b + i)) return false;
        return load8(a + n - 8) == load8(b + n - 8);
    }
    if (n >= 4) return load4(a) == load4(b) && load4(a + n - 4) == load4(b + n - 4);
    for (std::size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

// A place of the table: the top bits of the hash above, below them where the
// text is kept, counted in units of 8 bytes from the start of block 0 as if
// every block were a standard one, plus one. 40 bits of place reach 8 TiB.
constexpr int kPlaceBits = 40;
constexpr std::uint64_t kPlaceMask = (std::uint64_t{1} << kPlaceBits) - 1;
constexpr std::size_t kUnitsPerBlock = kBlockSize / 8;

std::uint64_t tag_of(std::uint64_t hash) { return hash & ~kPlaceMask; }

const char* text_at(const EquationRegistry& registry, std::uint64_t slot) {
    const std::uint64_t unit = (slot & kPlaceMask) - 1;
    return registry.blocks[static_cast<std::size_t>(unit / kUnitsPerBlock)].get() +
           (unit % kUnitsPerBlock) * 8;
}

// `size` bytes in the blocks, at an address that is a multiple of 8; `place`
// receives where they are, as text_at reads it.
char* take_bytes(EquationRegistry& registry, std::size_t size, std::uint64_t& place) {
    const std::size_t need = (size + 7) / 8 * 8;
    auto& blocks = registry.blocks;
    if (need > kBlockSize) {
        // More than a block gets a block of its own; the block being filled
        // goes on being filled.
        blocks.emplace_back(new char[need]);
        place = (blocks.size() - 1) * kUnitsPerBlock + 1;
        return blocks.back().get();
    }
    if (need > registry.block_left) {
        blocks.emplace_back(new char[kBlockSize]);
        registry.filling = blocks.size() - 1;
        registry.block_left = kBlockSize;
    }
    const std::size_t offset = kBlockSize - registry.block_left;
    registry.block_left -= need;
    place = registry.filling * kUnitsPerBlock + offset / 8 + 1;
    return blocks[registry.filling].get() + offset;
}

std::string_view keep_bytes(EquationRegistry& registry, std::string_view bytes) {
    if (bytes.empty()) return {};
    std::uint64_t place;
    char* at = take_bytes(registry, bytes.size(), place);
    std::memcpy(at, bytes.data(), bytes.size());
    return {at, bytes.size()};
}

std::size_t free_slot(const std::vector<std::uint64_t>& slots, std::uint64_t hash) {
    const std::size_t mask = slots.size() - 1;
    std::size_t i = static_cast<std::size_t>(hash) & mask;
    while (slots[i] != 0) i = (i + 1) & mask;
    return i;
}

// Doubles the table (or makes the first one) and puts every formula back,
// reading the formulas and their kept texts in the order they were kept.
void grow(EquationRegistry& registry) {
    std::vector<std::uint64_t> bigger(
        registry.slots.empty() ? kFirstTableSize : registry.slots.size() * 2);
    for (const KeptEquation& formula : registry.formulas) {
        const std::uint64_t hash = header_of(formula.text).hash;
        bigger[free_slot(bigger, hash)] = tag_of(hash) | formula.place;
    }
    registry.slots.swap(bigger);
}

// The name by content of the formula just added. Two different texts whose
// names are equal (one pair in about a million formulas) would show one
// image for both, so the pair is kept for the job to report.
void add_content_key(EquationRegistry& registry, std::string_view formula_text) {
    const std::uint64_t key = content_key_of(formula_text);
    const auto number = static_cast<std::int64_t>(registry.content_keys.size()) + 1;
    registry.content_keys.push_back(key);
    const auto [at, added] = registry.by_key.emplace(key, number);
    if (!added) registry.clashes.emplace_back(at->second, number);
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
    const std::vector<std::uint64_t>& slots = registry.slots;
    if (slots.empty()) return 0;
    const std::uint64_t tag = tag_of(where.hash);
    const std::size_t mask = slots.size() - 1;
    std::size_t i = static_cast<std::size_t>(where.hash) & mask;
    for (;; i = (i + 1) & mask) {
        const std::uint64_t slot = slots[i];
        if (slot == 0) break;
        if (tag_of(slot) == tag) {
            const char* kept = text_at(registry, slot);
            if (has_text(kept, formula_text)) return header_of(kept).number;
        }
    }
    where.slot = i;
    return 0;
}

std::int64_t add_equation(EquationRegistry& registry, const EquationLookup& where,
                          std::string_view formula_text, const EquationRecord& record) {
    const std::int64_t number = registry_size(registry) + 1;
    KeptEquation kept;
    kept.is_inline = record.is_inline;
    kept.bare = record.bare;
    kept.postscript = record.postscript;
    kept.first_row = record.first_row;
    kept.last_row = record.last_row;
    kept.first_column = record.first_column;
    kept.last_column = record.last_column;
    char* at = take_bytes(registry, sizeof(KeptHeader) + formula_text.size(), kept.place);
    const KeptHeader h{number, formula_text.size(), where.hash};
    std::memcpy(at, &h, sizeof h);
    if (!formula_text.empty()) std::memcpy(at + sizeof h, formula_text.data(), formula_text.size());
    kept.text = at;
    if (!record.is_inline) {
        kept.line_count = record.lines.size();
        kept.first_line = registry.display_lines.size();
        for (const std::string& line : record.lines)
            registry.display_lines.push_back(keep_bytes(registry, line));
    }
    registry.formulas.push_back(kept);
    if (registry.content_names) add_content_key(registry, formula_text);

    // At most three quarters full: with eight places to a cache line, even
    // the longer probes of a fuller table stay within a line or two.
    if (registry.formulas.size() * 4 > registry.slots.size() * 3)
        grow(registry);  // puts the new formula in too
    else
        registry.slots[where.slot] = tag_of(where.hash) | kept.place;
    return number;
}

void name_images_by_content(EquationRegistry& registry) {
    if (registry.content_names) return;
    registry.content_names = true;
    for (const KeptEquation& formula : registry.formulas) add_content_key(registry, kept_text(formula));
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
