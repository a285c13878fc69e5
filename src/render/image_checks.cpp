#include "render/image_checks.h"

#include <array>
#include <cstdint>
#include <cstdlib>

namespace kelvarin {

namespace {

// --- Whole images -------------------------------------------------------

std::size_t byte_at(std::string_view b, std::size_t i) { return static_cast<unsigned char>(b[i]); }

// Steps over GIF data sub-blocks (a length byte, that many bytes, ... a zero
// byte); returns the position after them, or npos when the file ends first.
std::size_t after_sub_blocks(std::string_view b, std::size_t at) {
    while (at < b.size()) {
        const std::size_t length = byte_at(b, at);
        at += 1 + length;
        if (length == 0) return at;
    }
    return std::string_view::npos;
}

// A GIF file walked block by block to its trailer, which must be its last byte.
bool whole_gif(std::string_view b) {
    if (b.size() < 14 || (b.substr(0, 6) != "GIF87a" && b.substr(0, 6) != "GIF89a")) return false;
    std::size_t at = 13;
    if (byte_at(b, 10) & 0x80) at += 3 * (std::size_t{2} << (byte_at(b, 10) & 7));
    while (at < b.size()) {
        const std::size_t kind = byte_at(b, at);
        if (kind == 0x3B) return at + 1 == b.size();
        if (kind == 0x21) {
            at = after_sub_blocks(b, at + 2);
        } else if (kind == 0x2C) {
            if (at + 10 > b.size()) return false;
            const std::size_t packed = byte_at(b, at + 9);
            at += 10;
            if (packed & 0x80) at += 3 * (std::size_t{2} << (packed & 7));
            at = after_sub_blocks(b, at + 1);  // after the LZW code size
        } else {
            return false;
        }
        if (at == std::string_view::npos) return false;
    }
    return false;
}

// A PNG file walked chunk by chunk to IEND, which must end it.
bool whole_png(std::string_view b) {
    if (b.size() < 8 || b.substr(0, 8) != std::string_view("\x89PNG\r\n\x1a\n", 8)) return false;
    std::size_t at = 8;
    while (at + 12 <= b.size()) {
        const std::size_t length =
            byte_at(b, at) << 24 | byte_at(b, at + 1) << 16 | byte_at(b, at + 2) << 8 | byte_at(b, at + 3);
        const std::string_view type = b.substr(at + 4, 4);
        if (length > b.size() - at - 12) return false;
        at += 12 + length;
        if (type == "IEND") return at == b.size();
    }
    return false;
}

// --- Harmless SVG -----------------------------------------------------------

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = lower(c);
    return out;
}

bool is_name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == ':' ||
           c == '-' || c == '.';
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The name after its namespace prefix: "svg:script" is a script too.
std::string local_name(std::string_view name) {
    const std::size_t colon = name.rfind(':');
    return lowered(colon == std::string_view::npos ? name : name.substr(colon + 1));
}

// An attribute value with its character references decoded and without the
// blanks and control characters a browser skips in a URL scheme, lowered.
std::string normalised_value(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        unsigned long code = static_cast<unsigned char>(value[i]);
        const std::size_t semicolon = value.find(';', i);
        if (value[i] == '&' && semicolon != std::string_view::npos && semicolon - i <= 12) {
            const std::string entity = lowered(value.substr(i + 1, semicolon - i - 1));
            static const std::array<std::pair<const char*, char>, 5> kNamed = {
                {{"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}}};
            bool known = false;
            for (const auto& [name, c] : kNamed)
                if (entity == name) code = static_cast<unsigned char>(c), known = true;
            if (!known && entity.size() > 1 && entity[0] == '#') {
                const bool hex = entity[1] == 'x';
                code = std::strtoul(entity.c_str() + (hex ? 2 : 1), nullptr, hex ? 16 : 10);
                known = true;
            }
            if (known) i = semicolon;
        }
        if (code <= 0x20 || code == 0x7F) continue;
        out += lower(code < 0x80 ? static_cast<char>(code) : '?');
    }
    return out;
}

// Elements that run script, embed other documents, or change attributes
// (a link) after the checks: none is in an image dvisvgm draws.
bool is_forbidden_element(const std::string& name) {
    static const std::array<const char*, 13> kForbidden = {
        "script", "foreignobject", "iframe", "embed", "object", "handler", "listener",
        "set",    "animate",       "animatemotion", "animatetransform", "animatecolor", "style"};
    for (const char* forbidden : kForbidden)
        if (name == forbidden) return true;
    return false;
}

// Checks one attribute of element `element`.
std::string attribute_problem(std::string_view name, std::string_view value) {
    const std::string n = local_name(name);
    if (n.size() > 2 && n.compare(0, 2, "on") == 0) return "an event handler (" + std::string(name) + ")";
    const std::string v = normalised_value(value);
    for (const char* scheme : {"javascript:", "vbscript:", "data:text/html"})
        if (v.find(scheme) != std::string::npos) return "a " + std::string(scheme) + " link";
    if ((n == "href" || n == "src") && (v.empty() || v[0] != '#'))
        return "a link out of the image (" + std::string(name) + ")";
    return "";
}

// Checks the tag that starts at `at` (after "<"); sets `at` after its ">".
std::string tag_problem(std::string_view svg, std::size_t& at) {
    std::size_t p = at;
    if (p < svg.size() && svg[p] == '/') ++p;
    const std::size_t name_start = p;
    while (p < svg.size() && is_name_char(svg[p])) ++p;
    const std::string_view name = svg.substr(name_start, p - name_start);
    if (name.empty()) return "a tag it cannot read";
    if (is_forbidden_element(local_name(name))) return "a <" + std::string(name) + "> element";
    for (;;) {
        while (p < svg.size() && is_space(svg[p])) ++p;
        if (p >= svg.size()) return "a tag left open";
        if (svg[p] == '>' || (svg[p] == '/' && p + 1 < svg.size() && svg[p + 1] == '>')) {
            at = svg.find('>', p) + 1;
            return "";
        }
        const std::size_t attribute_start = p;
        while (p < svg.size() && is_name_char(svg[p])) ++p;
        const std::string_view attribute = svg.substr(attribute_start, p - attribute_start);
        while (p < svg.size() && is_space(svg[p])) ++p;
        if (attribute.empty() || p >= svg.size() || svg[p] != '=') return "an attribute it cannot read";
        ++p;
        while (p < svg.size() && is_space(svg[p])) ++p;
        if (p >= svg.size() || (svg[p] != '"' && svg[p] != '\'')) return "an attribute it cannot read";
        const std::size_t close = svg.find(svg[p], p + 1);
        if (close == std::string_view::npos) return "a tag left open";
        const std::string problem = attribute_problem(attribute, svg.substr(p + 1, close - p - 1));
        if (!problem.empty()) return problem;
        p = close + 1;
    }
}

}  // namespace

std::string svg_problem(std::string_view svg) {
    for (std::size_t at = svg.find('<'); at != std::string_view::npos; at = svg.find('<', at)) {
        const std::string_view rest = svg.substr(at);
        if (rest.substr(0, 4) == "<!--") {
            const std::size_t end = svg.find("-->", at + 4);
            if (end == std::string_view::npos) return "a comment left open";
            at = end + 3;
        } else if (rest.substr(0, 2) == "<?") {
            const std::size_t end = svg.find("?>", at + 2);
            if (end == std::string_view::npos) return "a processing instruction left open";
            at = end + 2;
        } else if (rest.substr(0, 2) == "<!") {
            return "a <!...> declaration (entities or character data could hide script)";
        } else {
            ++at;
            const std::string problem = tag_problem(svg, at);
            if (!problem.empty()) return problem;
        }
    }
    return "";
}

std::string image_problem(std::string_view bytes, const std::string& ext) {
    if (ext == "gif") return whole_gif(bytes) ? "" : "the GIF file is not whole (a full disk?)";
    if (ext == "png") return whole_png(bytes) ? "" : "the PNG file is not whole (a full disk?)";
    std::size_t end = bytes.size();
    while (end > 0 && is_space(bytes[end - 1])) --end;
    if (end < 6 || bytes.substr(end - 6, 6) != "</svg>") return "the SVG file is not whole (a full disk?)";
    const std::string problem = svg_problem(bytes);
    return problem.empty() ? "" : "the SVG file holds " + problem + "; refused";
}

}  // namespace kelvarin
