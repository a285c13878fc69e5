#include "core/image_names.h"

#include "io/sha256.h"
#include "io/text_helpers.h"

namespace kelvarin {

namespace {

constexpr int kKeyDigits = 10;

}  // namespace

std::string_view image_key(const EquationRegistry& registry, std::int64_t number, char (&buffer)[24]) {
    // Rich mode's first pass registers nothing (number 0): it learns the
    // outline, and the references it writes then are thrown away.
    if (!registry.content_names || number < 1 || static_cast<std::size_t>(number) > registry.content_keys.size())
        return decimal_digits(number, buffer);
    static const char kHex[] = "0123456789abcdef";
    const std::uint64_t key = registry.content_keys[static_cast<std::size_t>(number - 1)];
    buffer[0] = '-';
    for (int i = 0; i < kKeyDigits; ++i) buffer[1 + i] = kHex[(key >> (4 * (kKeyDigits - 1 - i))) & 0xf];
    return {buffer, kKeyDigits + 1};
}

std::string_view image_type_of(const EquationRegistry& registry, std::int64_t number,
                               std::string_view document_type) {
    const bool known = number >= 1 && static_cast<std::size_t>(number) <= registry.formulas.size();
    return known && registry.formulas[static_cast<std::size_t>(number - 1)].postscript ? "png" : document_type;
}

std::uint64_t content_key_of(std::string_view formula_text) {
    const std::string hex = sha256_hex(formula_text);
    std::uint64_t key = 0;
    for (int i = 0; i < kKeyDigits; ++i) {
        const char c = hex[static_cast<std::size_t>(i)];
        key = key << 4 | static_cast<std::uint64_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    }
    return key;
}

bool names_by_content(std::string_view value, bool& known) {
    known = value == "content" || value == "number";
    return value == "content";
}

}  // namespace kelvarin
