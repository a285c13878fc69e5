#include "preview/html_text.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace kelvarin::preview {

namespace {

// The 252 named character references of HTML 4.01, sorted.
constexpr std::array<std::string_view, 252> kEntityNames = {
    "AElig", "Aacute", "Acirc", "Agrave", "Alpha", "Aring", "Atilde", "Auml", "Beta", "Ccedil",
    "Chi", "Dagger", "Delta", "ETH", "Eacute", "Ecirc", "Egrave", "Epsilon", "Eta", "Euml",
    "Gamma", "Iacute", "Icirc", "Igrave", "Iota", "Iuml", "Kappa", "Lambda", "Mu", "Ntilde",
    "Nu", "OElig", "Oacute", "Ocirc", "Ograve", "Omega", "Omicron", "Oslash", "Otilde", "Ouml",
    "Phi", "Pi", "Prime", "Psi", "Rho", "Scaron", "Sigma", "THORN", "Tau", "Theta",
    "Uacute", "Ucirc", "Ugrave", "Upsilon", "Uuml", "Xi", "Yacute", "Yuml", "Zeta", "aacute",
    "acirc", "acute", "aelig", "agrave", "alefsym", "alpha", "amp", "and", "ang", "aring",
    "asymp", "atilde", "auml", "bdquo", "beta", "brvbar", "bull", "cap", "ccedil", "cedil",
    "cent", "chi", "circ", "clubs", "cong", "copy", "crarr", "cup", "curren", "dArr",
    "dagger", "darr", "deg", "delta", "diams", "divide", "eacute", "ecirc", "egrave", "empty",
    "emsp", "ensp", "epsilon", "equiv", "eta", "eth", "euml", "euro", "exist", "fnof",
    "forall", "frac12", "frac14", "frac34", "frasl", "gamma", "ge", "gt", "hArr", "harr",
    "hearts", "hellip", "iacute", "icirc", "iexcl", "igrave", "image", "infin", "int", "iota",
    "iquest", "isin", "iuml", "kappa", "lArr", "lambda", "lang", "laquo", "larr", "lceil",
    "ldquo", "le", "lfloor", "lowast", "loz", "lrm", "lsaquo", "lsquo", "lt", "macr",
    "mdash", "micro", "middot", "minus", "mu", "nabla", "nbsp", "ndash", "ne", "ni",
    "not", "notin", "nsub", "ntilde", "nu", "oacute", "ocirc", "oelig", "ograve", "oline",
    "omega", "omicron", "oplus", "or", "ordf", "ordm", "oslash", "otilde", "otimes", "ouml",
    "para", "part", "permil", "perp", "phi", "pi", "piv", "plusmn", "pound", "prime",
    "prod", "prop", "psi", "quot", "rArr", "radic", "rang", "raquo", "rarr", "rceil",
    "rdquo", "real", "reg", "rfloor", "rho", "rlm", "rsaquo", "rsquo", "sbquo", "scaron",
    "sdot", "sect", "shy", "sigma", "sigmaf", "sim", "spades", "sub", "sube", "sum",
    "sup", "sup1", "sup2", "sup3", "supe", "szlig", "tau", "there4", "theta", "thetasym",
    "thinsp", "thorn", "tilde", "times", "trade", "uArr", "uacute", "uarr", "ucirc", "ugrave",
    "uml", "upsih", "upsilon", "uuml", "weierp", "xi", "yacute", "yen", "yuml", "zeta",
    "zwj", "zwnj"};

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_lower_hex(char c) { return is_digit(c) || (c >= 'a' && c <= 'f'); }
bool is_alnum(char c) { return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

std::string escape_html(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

bool is_entity_name(std::string_view name) {
    return std::binary_search(kEntityNames.begin(), kEntityNames.end(), name);
}

std::size_t reference_body_length(std::string_view text, std::size_t at) {
    std::size_t i = at;
    if (i < text.size() && text[i] == '#') {
        ++i;
        const bool hex = i < text.size() && text[i] == 'x';
        if (hex) ++i;
        const std::size_t digits = i;
        while (i < text.size() && (hex ? is_lower_hex(text[i]) : is_digit(text[i]))) ++i;
        return i > digits && i < text.size() && text[i] == ';' ? i + 1 - at : 0;
    }
    const std::size_t name = i;
    while (i < text.size() && is_alnum(text[i])) ++i;
    if (i == name || i >= text.size() || text[i] != ';') return 0;
    return is_entity_name(text.substr(name, i - name)) ? i + 1 - at : 0;
}

std::size_t reference_length(std::string_view text, std::size_t at) {
    if (at >= text.size() || text[at] != '&') return 0;
    const std::size_t body = reference_body_length(text, at + 1);
    return body == 0 ? 0 : body + 1;
}

std::string utf8_of(unsigned long cp) {
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    std::string out;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
}

std::string visible_text(std::string_view html, bool decode_references) {
    std::string out;
    out.reserve(html.size());
    for (std::size_t i = 0; i < html.size();) {
        const char c = html[i];
        if (c == '<') {
            const std::size_t end = html.find('>', i);
            i = end == std::string_view::npos ? html.size() : end + 1;
            continue;
        }
        if (c != '&') {
            out += c;
            ++i;
            continue;
        }
        const std::size_t semi = html.find(';', i);
        if (semi == std::string_view::npos || semi - i > 12) {
            out += c;
            ++i;
            continue;
        }
        const std::string_view ref = html.substr(i + 1, semi - i - 1);
        if (ref == "amp") out += '&';
        else if (ref == "lt") out += '<';
        else if (ref == "gt") out += '>';
        else if (ref == "quot") out += '"';
        else if (!decode_references) out.append(html, i, semi + 1 - i);
        else if (ref.size() > 1 && ref[0] == '#') {
            const bool hex = ref[1] == 'x' || ref[1] == 'X';
            unsigned long cp = 0;
            for (std::size_t k = hex ? 2 : 1; k < ref.size(); ++k) {
                const char d = ref[k];
                const unsigned long v = is_digit(d) ? static_cast<unsigned long>(d - '0')
                                        : hex && d >= 'a' && d <= 'f' ? static_cast<unsigned long>(d - 'a' + 10)
                                        : hex && d >= 'A' && d <= 'F' ? static_cast<unsigned long>(d - 'A' + 10)
                                                                      : 0x110000;
                cp = std::min<unsigned long>(cp * (hex ? 16 : 10) + v, 0x110000);
            }
            // A reference to a control character shows as a replacement,
            // as in the browser; the text a reader sees holds none.
            const bool control = (cp < 0x20 && cp != '\t' && cp != '\n') || (cp >= 0x7F && cp <= 0x9F);
            out += utf8_of(control ? 0xFFFD : cp);
        } else {
            out += ' ';
        }
        i = semi + 1;
    }
    return out;
}

std::string path_to_url(std::string_view path) {
    std::string out;
    for (const char c : path) {
        if (is_alnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            out += c;
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", static_cast<unsigned char>(c));
            out += buf;
        }
    }
    return out;
}

}  // namespace kelvarin::preview
