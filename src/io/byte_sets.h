// Sets of bytes, and the search for the next byte of a set, for the
// scanners that stop at a few kinds of byte and pass over all others.
#ifndef KELVARIN_BYTE_SETS_H
#define KELVARIN_BYTE_SETS_H

#include <array>
#include <cstddef>
#include <string_view>

namespace kelvarin {

// Whether each byte value is in the set.
using ByteSet = std::array<bool, 256>;

// The set of the bytes of `bytes`.
inline ByteSet byte_set(std::string_view bytes) {
    ByteSet set{};
    for (const char c : bytes) set[static_cast<unsigned char>(c)] = true;
    return set;
}

inline bool in_set(const ByteSet& set, char c) { return set[static_cast<unsigned char>(c)]; }

// The first position in [from, end) whose byte is in `set`, or `end`. Most
// bytes of a text are in none of the sets searched for: they are looked at
// four at a time, with one test for the four.
inline std::size_t next_in_set(std::string_view text, std::size_t from, std::size_t end, const ByteSet& set) {
    const char* t = text.data();
    while (from + 4 <= end &&
           !(in_set(set, t[from]) | in_set(set, t[from + 1]) | in_set(set, t[from + 2]) | in_set(set, t[from + 3])))
        from += 4;
    while (from < end && !in_set(set, t[from])) ++from;
    return from;
}

}  // namespace kelvarin

#endif
