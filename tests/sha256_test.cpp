// The renderer's manifests store SHA-256 digests, and image names are made
// from them, so the digest must match every other SHA-256 exactly: these
// were computed with sha256sum. The lengths are the padding's edges (55 and
// 56 bytes leave room for the length or not; 63, 64 and 65 end a block or
// cross it; 119 and 120 the same with two blocks) and longer texts whose
// message schedule runs through many blocks.
#include <gtest/gtest.h>

#include <string>

#include "io/sha256.h"

namespace {

// "abc...zabc..." of `length` bytes.
std::string alphabet_text(std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i) text += static_cast<char>('a' + i % 26);
    return text;
}

struct KnownDigest {
    std::size_t length;
    const char* hex;
};

const KnownDigest kKnown[] = {
    {0, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {1, "ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb"},
    {55, "595615dbe4f0f407ae397d08b4c2cb870cb9b0e11937416f950c5160acf9c005"},
    {56, "784f623b787495078e93ff28a25b581df0584055a7e71d8cd90c454716b92f51"},
    {63, "5ca3e1ef5207490eac01a795e5cc94d59582a5118bf9534665c8668d87aa647c"},
    {64, "2fcd5a0d60e4c941381fcc4e00a4bf8be422c3ddfafb93c809e8d1e2bfffae8e"},
    {65, "1b3cd1877ab2f2f19f7be001722554f336cb799df0329de0bb4c118dc6abc06d"},
    {119, "faef67da856d6fd9c8d12f9ed0a4fefd3cf0ce085ab43e2907418d457e3c354b"},
    {120, "c9512b08619c19fbb503c7da6b46ef20301e5f7a7a5f43989182398536f5c5c8"},
    {127, "1b9907986f18ddc2b37e18be502d82d69d6e18bb9dff9e16f2aceea7d88cb933"},
    {128, "6c05be2c4268843ae47e68e611277ce62c02153f2f4d2e1e2a1a4b44f766cf74"},
    {1000, "915e53a44c18b19bb06ba5b3f5fcaf1dc4651e8404c63425cfc6174e74659d87"},
};

TEST(Sha256, MatchesKnownDigestsAtBlockEdges) {
    for (const KnownDigest& known : kKnown)
        EXPECT_EQ(kelvarin::sha256_hex(alphabet_text(known.length)), known.hex) << known.length << " bytes";
}

// Fed in pieces that straddle the blocks, the digest is the same.
TEST(Sha256, PiecesGiveTheSameDigest) {
    for (const KnownDigest& known : kKnown) {
        const std::string text = alphabet_text(known.length);
        for (std::size_t piece : {1, 7, 63, 65}) {
            kelvarin::Sha256 digest;
            for (std::size_t at = 0; at < text.size(); at += piece)
                kelvarin::sha256_add(digest, std::string_view(text).substr(at, piece));
            EXPECT_EQ(kelvarin::sha256_finish_hex(digest), known.hex) << known.length << " bytes in pieces of " << piece;
        }
    }
}

}  // namespace
