#include "preview/page_lines.h"

namespace kelvarin::preview {

namespace {

// The length of the UTF-8 sequence at s[i], or 0 when it is not one (no
// overlong form, no surrogate, nothing above U+10FFFF).
std::size_t utf8_length(const std::string& s, std::size_t i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) return 1;
    const std::size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    if (c < 0xC2 || c > 0xF4 || i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    const unsigned char d = static_cast<unsigned char>(s[i + 1]);
    if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d > 0x9F) || (c == 0xF0 && d < 0x90) || (c == 0xF4 && d > 0x8F))
        return 0;
    return n;
}

// The line's bytes, cleaned as split_page_lines says.
std::string clean(const std::string& bytes, std::size_t begin, std::size_t end) {
    std::string out;
    out.reserve(end - begin);
    for (std::size_t i = begin; i < end;) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            if ((c >= 0x20 && c != 0x7F) || c == '\t') out += static_cast<char>(c);
            ++i;
            continue;
        }
        const std::size_t n = i < end ? utf8_length(bytes, i) : 0;
        if (n == 0 || i + n > end) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(bytes, i, n);
            i += n;
        }
    }
    return out;
}

}  // namespace

std::vector<std::string> split_page_lines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t begin = 0;
    while (begin < bytes.size()) {
        std::size_t end = bytes.find('\n', begin);
        const bool last = end == std::string::npos;
        if (last) end = bytes.size();
        std::size_t text_end = end;
        if (!last && text_end > begin && bytes[text_end - 1] == '\r') --text_end;
        lines.push_back(clean(bytes, begin, text_end));
        begin = last ? end : end + 1;
    }
    return lines;
}

}  // namespace kelvarin::preview
