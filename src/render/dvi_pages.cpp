#include "render/dvi_pages.h"

#include <fstream>
#include <sstream>

namespace kelvarin {

namespace {

constexpr unsigned char kBop = 139;
constexpr unsigned char kPost = 248;
constexpr unsigned char kPostPost = 249;
constexpr unsigned char kFiller = 223;

std::int32_t be32(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
    return static_cast<std::int32_t>(v);
}

}  // namespace

bool read_dvi_pages(const std::string& path, std::vector<PageCounts>& pages, std::string& error) {
    std::ostringstream buffer;
    buffer << std::ifstream(path, std::ios::binary).rdbuf();
    const std::string b = buffer.str();
    pages.clear();
    error = "the DVI file " + path + " is not whole";
    // The end: post_post, the pointer to the postamble, the format id and
    // four to seven filler bytes.
    std::size_t end = b.size();
    while (end > 0 && static_cast<unsigned char>(b[end - 1]) == kFiller) --end;
    if (b.size() - end < 4 || end < 6 || static_cast<unsigned char>(b[end - 6]) != kPostPost) return false;
    const std::int32_t post = be32(b, end - 5);
    if (post < 0 || static_cast<std::size_t>(post) + 5 > b.size() || static_cast<unsigned char>(b[post]) != kPost)
        return false;
    // Back from the last page along each page's pointer to the one before.
    std::vector<PageCounts> backwards;
    for (std::int32_t bop = be32(b, static_cast<std::size_t>(post) + 1); bop != -1;) {
        if (bop < 0 || static_cast<std::size_t>(bop) + 45 > b.size() || static_cast<unsigned char>(b[bop]) != kBop ||
            backwards.size() > b.size() / 45)
            return false;
        PageCounts counts;
        for (std::size_t i = 0; i < 10; ++i) counts[i] = be32(b, static_cast<std::size_t>(bop) + 1 + 4 * i);
        backwards.push_back(counts);
        const std::int32_t previous = be32(b, static_cast<std::size_t>(bop) + 41);
        if (previous != -1 && previous >= bop) return false;
        bop = previous;
    }
    pages.assign(backwards.rbegin(), backwards.rend());
    error.clear();
    return true;
}

}  // namespace kelvarin
