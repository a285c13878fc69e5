#include "io/sha256.h"

#include <algorithm>

namespace kelvarin {

namespace {

constexpr std::array<std::uint32_t, 64> kRound = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t rotate_right(std::uint32_t x, int n) { return x >> n | x << (32 - n); }

std::uint32_t big_endian_word(const unsigned char* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | std::uint32_t{p[3]};
}

// Word I of the message schedule, from I = 16 on, kept in a ring of 16: it
// takes the place of word I - 16, which is needed for the last time here.
template <int I>
std::uint32_t next_word(std::uint32_t* w) {
    const std::uint32_t w15 = w[(I - 15) & 15], w2 = w[(I - 2) & 15];
    // Each sum of rotations is written as rotations of partial sums, which
    // is the same value in fewer instructions.
    const std::uint32_t s0 = rotate_right(rotate_right(w15, 11) ^ w15, 7) ^ (w15 >> 3);
    const std::uint32_t s1 = rotate_right(rotate_right(w2, 2) ^ w2, 17) ^ (w2 >> 10);
    return w[I & 15] += s0 + w[(I - 7) & 15] + s1;
}

// One round. Rather than shifting the eight working variables along, each
// round is given them in turned order, so that only d and h are written.
inline void round_step(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t& d, std::uint32_t e,
                       std::uint32_t f, std::uint32_t g, std::uint32_t& h, std::uint32_t k_plus_w) {
    const std::uint32_t s1 = rotate_right(rotate_right(rotate_right(e, 14) ^ e, 5) ^ e, 6);
    const std::uint32_t choice = g ^ (e & (f ^ g));
    const std::uint32_t s0 = rotate_right(rotate_right(rotate_right(a, 9) ^ a, 11) ^ a, 2);
    const std::uint32_t majority = (a & b) | (c & (a | b));
    const std::uint32_t t1 = h + s1 + choice + k_plus_w;
    d += t1;
    h = t1 + s0 + majority;
}

// The rounds are written out, not looped over: the compiler then keeps the
// variables in registers and the word indexes constant, some 3,000
// instructions a block where a loop took 3,700 to 4,200.
void compress(std::array<std::uint32_t, 8>& state, const unsigned char* block) {
    std::uint32_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = big_endian_word(block + 4 * i);
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    round_step(a, b, c, d, e, f, g, h, kRound[0] + w[0]);
    round_step(h, a, b, c, d, e, f, g, kRound[1] + w[1]);
    round_step(g, h, a, b, c, d, e, f, kRound[2] + w[2]);
    round_step(f, g, h, a, b, c, d, e, kRound[3] + w[3]);
    round_step(e, f, g, h, a, b, c, d, kRound[4] + w[4]);
    round_step(d, e, f, g, h, a, b, c, kRound[5] + w[5]);
    round_step(c, d, e, f, g, h, a, b, kRound[6] + w[6]);
    round_step(b, c, d, e, f, g, h, a, kRound[7] + w[7]);

    round_step(a, b, c, d, e, f, g, h, kRound[8] + w[8]);
    round_step(h, a, b, c, d, e, f, g, kRound[9] + w[9]);
    round_step(g, h, a, b, c, d, e, f, kRound[10] + w[10]);
    round_step(f, g, h, a, b, c, d, e, kRound[11] + w[11]);
    round_step(e, f, g, h, a, b, c, d, kRound[12] + w[12]);
    round_step(d, e, f, g, h, a, b, c, kRound[13] + w[13]);
    round_step(c, d, e, f, g, h, a, b, kRound[14] + w[14]);
    round_step(b, c, d, e, f, g, h, a, kRound[15] + w[15]);

    round_step(a, b, c, d, e, f, g, h, kRound[16] + next_word<16>(w));
    round_step(h, a, b, c, d, e, f, g, kRound[17] + next_word<17>(w));
    round_step(g, h, a, b, c, d, e, f, kRound[18] + next_word<18>(w));
    round_step(f, g, h, a, b, c, d, e, kRound[19] + next_word<19>(w));
    round_step(e, f, g, h, a, b, c, d, kRound[20] + next_word<20>(w));
    round_step(d, e, f, g, h, a, b, c, kRound[21] + next_word<21>(w));
    round_step(c, d, e, f, g, h, a, b, kRound[22] + next_word<22>(w));
    round_step(b, c, d, e, f, g, h, a, kRound[23] + next_word<23>(w));

    round_step(a, b, c, d, e, f, g, h, kRound[24] + next_word<24>(w));
    round_step(h, a, b, c, d, e, f, g, kRound[25] + next_word<25>(w));
    round_step(g, h, a, b, c, d, e, f, kRound[26] + next_word<26>(w));
    round_step(f, g, h, a, b, c, d, e, kRound[27] + next_word<27>(w));
    round_step(e, f, g, h, a, b, c, d, kRound[28] + next_word<28>(w));
    round_step(d, e, f, g, h, a, b, c, kRound[29] + next_word<29>(w));
    round_step(c, d, e, f, g, h, a, b, kRound[30] + next_word<30>(w));
    round_step(b, c, d, e, f, g, h, a, kRound[31] + next_word<31>(w));

    round_step(a, b, c, d, e, f, g, h, kRound[32] + next_word<32>(w));
    round_step(h, a, b, c, d, e, f, g, kRound[33] + next_word<33>(w));
    round_step(g, h, a, b, c, d, e, f, kRound[34] + next_word<34>(w));
    round_step(f, g, h, a, b, c, d, e, kRound[35] + next_word<35>(w));
    round_step(e, f, g, h, a, b, c, d, kRound[36] + next_word<36>(w));
    round_step(d, e, f, g, h, a, b, c, kRound[37] + next_word<37>(w));
    round_step(c, d, e, f, g, h, a, b, kRound[38] + next_word<38>(w));
    round_step(b, c, d, e, f, g, h, a, kRound[39] + next_word<39>(w));

    round_step(a, b, c, d, e, f, g, h, kRound[40] + next_word<40>(w));
    round_step(h, a, b, c, d, e, f, g, kRound[41] + next_word<41>(w));
    round_step(g, h, a, b, c, d, e, f, kRound[42] + next_word<42>(w));
    round_step(f, g, h, a, b, c, d, e, kRound[43] + next_word<43>(w));
    round_step(e, f, g, h, a, b, c, d, kRound[44] + next_word<44>(w));
    round_step(d, e, f, g, h, a, b, c, kRound[45] + next_word<45>(w));
    round_step(c, d, e, f, g, h, a, b, kRound[46] + next_word<46>(w));
    round_step(b, c, d, e, f, g, h, a, kRound[47] + next_word<47>(w));

    round_step(a, b, c, d, e, f, g, h, kRound[48] + next_word<48>(w));
    round_step(h, a, b, c, d, e, f, g, kRound[49] + next_word<49>(w));
    round_step(g, h, a, b, c, d, e, f, kRound[50] + next_word<50>(w));
    round_step(f, g, h, a, b, c, d, e, kRound[51] + next_word<51>(w));
    round_step(e, f, g, h, a, b, c, d, kRound[52] + next_word<52>(w));
    round_step(d, e, f, g, h, a, b, c, kRound[53] + next_word<53>(w));
    round_step(c, d, e, f, g, h, a, b, kRound[54] + next_word<54>(w));
    round_step(b, c, d, e, f, g, h, a, kRound[55] + next_word<55>(w));

    round_step(a, b, c, d, e, f, g, h, kRound[56] + next_word<56>(w));
    round_step(h, a, b, c, d, e, f, g, kRound[57] + next_word<57>(w));
    round_step(g, h, a, b, c, d, e, f, kRound[58] + next_word<58>(w));
    round_step(f, g, h, a, b, c, d, e, kRound[59] + next_word<59>(w));
    round_step(e, f, g, h, a, b, c, d, kRound[60] + next_word<60>(w));
    round_step(d, e, f, g, h, a, b, c, kRound[61] + next_word<61>(w));
    round_step(c, d, e, f, g, h, a, b, kRound[62] + next_word<62>(w));
    round_step(b, c, d, e, f, g, h, a, kRound[63] + next_word<63>(w));

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

}  // namespace

void sha256_add(Sha256& digest, std::string_view bytes) {
    digest.length += bytes.size();
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size();
    while (n > 0) {
        if (digest.filled == 0 && n >= 64) {
            compress(digest.state, p);
            p += 64;
            n -= 64;
            continue;
        }
        const std::size_t take = std::min(n, 64 - digest.filled);
        std::copy(p, p + take, digest.block.begin() + static_cast<std::ptrdiff_t>(digest.filled));
        digest.filled += take;
        p += take;
        n -= take;
        if (digest.filled == 64) {
            compress(digest.state, digest.block.data());
            digest.filled = 0;
        }
    }
}

void sha256_add_field(Sha256& digest, std::string_view field) {
    char length[24];
    char* end = length + sizeof length;
    char* at = end;
    *--at = ':';
    std::size_t n = field.size();
    do *--at = static_cast<char>('0' + n % 10);
    while ((n /= 10) != 0);
    sha256_add(digest, std::string_view(at, static_cast<std::size_t>(end - at)));
    sha256_add(digest, field);
}

std::string sha256_finish_hex(Sha256& digest) {
    // The padding: a one bit, zeros, and the length in bits, big-endian, so
    // that the message ends at a block's end.
    const std::uint64_t bits = digest.length * 8;
    unsigned char tail[72] = {0x80};
    const std::size_t zeros = (digest.filled < 56 ? 56 : 120) - digest.filled;
    for (int i = 0; i < 8; ++i) tail[zeros + static_cast<std::size_t>(i)] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    sha256_add(digest, std::string_view(reinterpret_cast<const char*>(tail), zeros + 8));
    static const char kHex[] = "0123456789abcdef";
    char hex[64];
    char* at = hex;
    for (std::uint32_t word : digest.state)
        for (int shift = 28; shift >= 0; shift -= 4) *at++ = kHex[(word >> shift) & 0xf];
    return std::string(hex, sizeof hex);
}

}  // namespace kelvarin
