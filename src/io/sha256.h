// SHA-256 (FIPS 180-4), written out here so that image names and the
// renderer's manifest need no library: any tool can compute the same digest
// (`sha256sum`, Python's hashlib, ...), which is why it was chosen.
#ifndef KELVARIN_SHA256_H
#define KELVARIN_SHA256_H

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kelvarin {

// A digest being computed: feed bytes in any pieces, then finish once.
struct Sha256 {
    std::array<std::uint32_t, 8> state{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<unsigned char, 64> block{};  // bytes not yet compressed
    std::size_t filled = 0;                 // of `block`
    std::uint64_t length = 0;               // bytes fed so far
};

void sha256_add(Sha256& digest, std::string_view bytes);

// Feeds one field of a list with its length in front ("5:hello"), so that
// no two different lists of fields feed the same bytes.
void sha256_add_field(Sha256& digest, std::string_view field);

// The 32 bytes of the digest as 64 lower-case hexadecimal digits.
std::string sha256_finish_hex(Sha256& digest);

inline std::string sha256_hex(std::string_view bytes) {
    Sha256 digest;
    sha256_add(digest, bytes);
    return sha256_finish_hex(digest);
}

}  // namespace kelvarin

#endif
