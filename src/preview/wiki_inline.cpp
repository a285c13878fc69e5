#include "preview/wiki_inline.h"

#include <algorithm>
#include <unordered_map>

#include "preview/html_text.h"
#include "preview/ref_plugin.h"

namespace kelvarin::preview {

namespace {

constexpr char kSlot = '\x08';  // stands for an element while the rules run over the text

bool is_word(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

bool is_url_char(char c) {
    if (is_letter(c) || (c >= '0' && c <= '9')) return true;
    switch (c) {
        case '-': case '_': case '.': case '!': case '~': case '*': case '\'': case '(': case ')':
        case ';': case '/': case '?': case ':': case '@': case '&': case '=': case '+': case '$':
        case ',': case '%': case '#':
            return true;
        default:
            return false;
    }
}

// The length of "http://", "https://", "ftp://" or "news://" at text[at],
// followed by at least one character of a URL; 0 when there is none.
std::size_t scheme_length(std::string_view text, std::size_t at) {
    for (const std::string_view scheme : {"https://", "http://", "ftp://", "news://"})
        if (text.substr(at, scheme.size()) == scheme && at + scheme.size() < text.size() &&
            is_url_char(text[at + scheme.size()]))
            return scheme.size();
    return 0;
}

std::size_t url_end(std::string_view text, std::size_t at) {
    while (at < text.size() && is_url_char(text[at])) ++at;
    return at;
}

// A page name in "[[...]]": no blank at either end, none of \r\n\t\f[]<>#&":
// except a ":" at either end.
bool is_bracket_name(std::string_view p) {
    if (p.empty() || is_space(p.front()) || is_space(p.back())) return false;
    if (p.front() == ':') p.remove_prefix(1);
    if (!p.empty() && p.back() == ':') p.remove_suffix(1);
    if (p.empty()) return false;
    for (const char c : p)
        if (c == '\r' || c == '\n' || c == '\t' || c == '\f' || c == '[' || c == ']' || c == '<' || c == '>' ||
            c == '#' || c == '&' || c == '"' || c == ':')
            return false;
    return true;
}

// "", "#" or "#" and an anchor name: a letter, then letters, digits, "_", "-".
bool is_anchor_part(std::string_view a) {
    if (a.empty() || a == "#") return true;
    if (a[0] != '#' || !is_letter(a[1])) return false;
    for (std::size_t i = 2; i < a.size(); ++i)
        if (!is_word(a[i]) && a[i] != '-') return false;
    return true;
}

// Replaces every DELIM(?!c)(content without DELIM or a line end)DELIM by
// open content close, left to right, as one global regular-expression
// replacement does. Each line of `s` on its own, since no pair spans a line
// end; once a mark has no partner, no later mark of the line has one.
std::string pair_rule(const std::string& s, const std::string& delim, const char* open, const char* close) {
    const std::size_t len = delim.size();
    const char c = delim[0];
    std::string out;
    out.reserve(s.size());
    for (std::size_t begin = 0; begin <= s.size();) {
        std::size_t stop = s.find('\n', begin);
        if (stop == std::string::npos) stop = s.size();
        const std::string_view part(s.data() + begin, stop - begin);
        std::size_t done = 0;
        for (std::size_t pos = part.find(delim); pos != std::string_view::npos;) {
            if (pos + len < part.size() && part[pos + len] == c) {
                pos = part.find(delim, pos + 1);
                continue;
            }
            const std::size_t end = part.find(delim, pos + len);
            if (end == std::string_view::npos) break;
            out.append(part, done, pos - done);
            out += open;
            out.append(part, pos + len, end - pos - len);
            out += close;
            done = end + len;
            pos = part.find(delim, done);
        }
        out.append(part, done, std::string_view::npos);
        if (stop == s.size()) break;
        out += '\n';
        begin = stop + 1;
    }
    return out;
}

std::string trim(std::string s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v'; };
    std::size_t b = 0, e = s.size();
    while (b < e && blank(s[b])) ++b;
    while (e > b && blank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

}  // namespace

std::unordered_map<std::size_t, std::size_t> note_ends(std::string_view text) {
    std::unordered_map<std::size_t, std::size_t> ends;
    std::vector<std::size_t> open;
    for (std::size_t i = 0; i + 1 < text.size();) {
        if (text[i] == '(' && text[i + 1] == '(' && open.size() < 16) {
            open.push_back(i);
            i += 2;
        } else if (text[i] == ')' && text[i + 1] == ')' && !open.empty()) {
            ends[open.back()] = i + 2;
            open.pop_back();
            i += 2;
        } else {
            ++i;
        }
    }
    return ends;
}

// What the element readers look for on one text, each search remembered, so
// that a line with many openers and few closers costs one pass and not one
// pass per opener: the first match at or after a position is also the
// first at or after any later position up to it.
struct InlineReader::Scan {
    struct Next {
        std::size_t from = std::string_view::npos;  // where the last search started
        std::size_t found = std::string_view::npos;
    };
    explicit Scan(std::string_view t) : text(t) {}

    template <typename Find>
    std::size_t next(Next& cache, std::size_t from, Find find) {
        if (cache.from != std::string_view::npos && cache.from <= from && cache.found >= from) return cache.found;
        cache.from = from;
        cache.found = find(from);
        return cache.found;
    }
    std::size_t next_of(Next& cache, std::size_t from, std::string_view what) {
        return next(cache, from, [&](std::size_t f) { return text.find(what, f); });
    }
    // The last "]]" that starts at or before `limit`.
    std::size_t last_close_until(std::size_t limit) {
        if (!closes_known) {
            for (std::size_t p = text.find("]]"); p != std::string_view::npos; p = text.find("]]", p + 1))
                closes.push_back(p);
            closes_known = true;
        }
        const auto after = std::upper_bound(closes.begin(), closes.end(), limit);
        return after == closes.begin() ? std::string_view::npos : *(after - 1);
    }

    std::string_view text;
    Next open_brackets, close_brackets, arrows, plugin_args, plugin_body;
    std::vector<std::size_t> closes;  // every "]]", once asked for
    bool closes_known = false;
    std::unordered_map<std::size_t, std::size_t> notes;
    bool notes_known = false;
};

std::string InlineReader::convert(std::string_view text, int line) {
    return trim(convert_in(text, line, Scope::All));
}

std::string InlineReader::block_image(std::string_view args, int line) {
    return ref_html(args, true, line, images_, quiet_ ? nullptr : &facts_);
}

std::string InlineReader::plain_heading(std::string_view text) {
    std::string without_notes;
    const std::unordered_map<std::size_t, std::size_t> ends = note_ends(text);
    for (std::size_t i = 0; i < text.size();) {
        const auto note = ends.find(i);
        if (note != ends.end()) {
            i = note->second;
        } else {
            without_notes += text[i++];
        }
    }
    quiet_ = true;
    const std::string html = convert_in(without_notes, 0, Scope::All);
    quiet_ = false;
    return escape_html(trim(visible_text(html)));
}

std::string InlineReader::convert_in(std::string_view text, int line, Scope scope) {
    std::string rest;
    std::vector<std::string> pieces;
    std::size_t done = 0;
    Scan scan(text);
    for (std::size_t p = 0; p < text.size();) {
        std::size_t end = 0;
        std::string html;
        if (element_at(scan, p, line, scope, end, html)) {
            rest.append(text.substr(done, p - done));
            rest += kSlot;
            pieces.push_back(std::move(html));
            p = done = end;
        } else {
            ++p;
        }
    }
    rest.append(text.substr(done));
    const std::string ruled = line_rules(escape_html(rest), line);
    std::string out;
    out.reserve(ruled.size() + 64 * pieces.size());
    std::size_t k = 0;
    for (const char c : ruled) {
        if (c == kSlot) out += pieces[k++];
        else out += c;
    }
    if (scope == Scope::All && !quiet_) facts_.texts.push_back({line, visible_text(out, false)});
    return out;
}

std::string InlineReader::line_rules(std::string_view escaped, int line) {
    // The character references the wiki lets through: "&amp;#42;" back to "&#42;".
    std::string s;
    s.reserve(escaped.size() + 16);
    for (std::size_t i = 0; i < escaped.size();) {
        if (escaped.substr(i, 5) == "&amp;") {
            const std::size_t body = reference_body_length(escaped, i + 5);
            if (body > 0) {
                s += '&';
                s.append(escaped.substr(i + 5, body));
                i += 5 + body;
                continue;
            }
        }
        if (escaped[i] == '\r') s += "<br />\n";
        else s += escaped[i];
        ++i;
    }
    s = pair_rule(s, "%%%", "<ins>", "</ins>");
    s = pair_rule(s, "%%", "<del>", "</del>");
    s = pair_rule(s, "'''", "<em>", "</em>");
    s = pair_rule(s, "''", "<strong>", "</strong>");
    if (!quiet_ && line > 0) {
        for (std::size_t i = 0; i < s.size();) {
            if (s[i] != '\'' && s[i] != '%') {
                ++i;
                continue;
            }
            std::size_t j = i;
            while (j < s.size() && s[j] == s[i]) ++j;
            if (j - i >= 2) facts_.leftovers.push_back({line, s.substr(i, j - i)});
            i = j;
        }
    }
    return s;
}

bool InlineReader::element_at(Scan& scan, std::size_t at, int line, Scope scope, std::size_t& end,
                              std::string& html) {
    const std::string_view text = scan.text;
    const char c = text[at];
    if (c == '&') return plugin_at(scan, at, line, end, html);
    if (scope != Scope::All) return false;
    if (c == '(') return note_at(scan, at, line, end, html);
    if (c == '[') {
        if (text.substr(at, 2) != "[[") return false;
        // A link runs to the first "]]" after it; a "[[" before that one
        // opens the link, and this one is text.
        const std::size_t close = scan.next_of(scan.close_brackets, at + 2, "]]");
        if (close == std::string_view::npos || scan.next_of(scan.open_brackets, at + 1, "[[") < close) return false;
        return url_link_at(scan, at, close, line, end, html) || other_wiki_at(scan, at, close, line, end, html) ||
               bracket_at(scan, at, close, line, end, html);
    }
    if (c == 'h' || c == 'f' || c == 'n') return bare_url_at(scan, at, line, end, html);
    return false;
}

bool InlineReader::plugin_at(Scan& scan, std::size_t at, int line, std::size_t& end, std::string& html) {
    const std::string_view text = scan.text;
    std::size_t k = at + 1;
    while (k < text.size() && is_word(text[k])) ++k;
    if (k == at + 1) return false;
    const std::string_view name = text.substr(at + 1, k - at - 1);
    std::size_t j = k;
    bool with_args = false;
    std::string_view args;
    if (j < text.size() && text[j] == '(') {
        // The arguments end at the first ")" that a ";" or "{" follows.
        const std::size_t q = scan.next(scan.plugin_args, j + 1, [&](std::size_t from) {
            for (std::size_t i = text.find(')', from); i != std::string_view::npos; i = text.find(')', i + 1))
                if (i + 1 < text.size() && (text[i + 1] == ';' || text[i + 1] == '{')) return i;
            return std::string_view::npos;
        });
        if (q != std::string_view::npos) {
            args = text.substr(j + 1, q - j - 1);
            with_args = true;
            j = q + 1;
        }
    }
    bool with_body = false;
    std::string_view body;
    if (j < text.size() && text[j] == '{') {
        const std::size_t close = scan.next_of(scan.plugin_body, j + 1, "};");
        if (close != std::string_view::npos) {
            body = text.substr(j + 1, close - j - 1);
            with_body = true;
            j = close + 1;
        }
    }
    if (j >= text.size() || text[j] != ';') return false;
    end = j + 1;
    if (name == "ref" && with_args) {
        html = ref_html(args, false, line, images_, quiet_ ? nullptr : &facts_);
    } else if (name == "br") {
        html = "<br />";
    } else if (name == "aname" && with_args && args.size() >= 2 && is_anchor_part("#" + std::string(args))) {
        // An anchor inside a line, as rich mode puts before a theorem's lead-in.
        html = "<a class=\"anchor\" id=\"" + std::string(args) + "\"></a>";
        if (!quiet_ && !facts_.anchors.insert(std::string(args)).second)
            facts_.anchors_again.push_back({line, std::string(args)});
    } else {
        // No such plug-in here: the wiki shows it as written, and so a named
        // character reference ("&eacute;") as its character.
        std::string literal = escape_html(std::string("&").append(text.substr(at + 1, k - at - 1)));
        if (with_args) literal += escape_html(std::string("(").append(args).append(")"));
        if (with_body) literal += "{" + convert_in(body, line, Scope::All) + "}";
        literal += ";";
        const bool was_quiet = quiet_;
        quiet_ = true;
        html = line_rules(literal, 0);
        quiet_ = was_quiet;
    }
    return true;
}

bool InlineReader::note_at(Scan& scan, std::size_t at, int line, std::size_t& end, std::string& html) {
    const std::string_view text = scan.text;
    if (text.substr(at, 2) != "((") return false;
    if (!scan.notes_known) {
        scan.notes = note_ends(text);
        scan.notes_known = true;
    }
    const auto found = scan.notes.find(at);
    if (found == scan.notes.end()) return false;
    const std::size_t close = found->second;
    end = close;
    if (quiet_) {
        html.clear();
        return true;
    }
    const std::size_t id = notes_.size() + 1;
    notes_.emplace_back();
    const std::string body = convert_in(text.substr(at + 2, close - at - 4), line, Scope::All);
    const std::string n = std::to_string(id);
    notes_[id - 1] = "<a id=\"_note-" + n + "\" href=\"#_noteref-" + n + "\" class=\"note-mark\">*" + n +
                     "</a>\n<span class=\"small\">" + body + "</span><br />";
    html = "<a id=\"_noteref-" + n + "\" href=\"#_note-" + n + "\" class=\"note-mark\">*" + n + "</a>";
    if (close < text.size() && text[close] == ')') facts_.notes_cut.push_back(line);
    return true;
}

bool InlineReader::bare_url_at(Scan& scan, std::size_t at, int line, std::size_t& end, std::string& html) {
    const std::size_t scheme = scheme_length(scan.text, at);
    if (scheme == 0) return false;
    end = url_end(scan.text, at + scheme);
    const std::string_view url = scan.text.substr(at, end - at);
    html = "<a href=\"" + escape_html(url) + "\" rel=\"nofollow\">" + convert_in(url, line, Scope::PluginsOnly) + "</a>";
    return true;
}

bool InlineReader::url_link_at(Scan& scan, std::size_t at, std::size_t close, int line, std::size_t& end,
                               std::string& html) {
    // "[[text>http://...]]" or "[[text:http://...]]": the address runs back
    // from the "]]" over characters of an address to its scheme, after the
    // last ">" or ":" that one follows.
    const std::string_view text = scan.text;
    for (std::size_t a = close; a-- > at + 3;) {
        if ((text[a] == '>' || text[a] == ':') && scheme_length(text, a + 1) > 0) {
            const std::string_view alias = text.substr(at + 2, a - at - 2);
            const std::string_view url = text.substr(a + 1, close - a - 1);
            end = close + 2;
            html = "<a href=\"" + escape_html(url) + "\" rel=\"nofollow\">" +
                   convert_in(alias.empty() ? url : alias, line, Scope::PluginsOnly) + "</a>";
            return true;
        }
        if (!is_url_char(text[a])) return false;
    }
    return false;
}

bool InlineReader::other_wiki_at(Scan& scan, std::size_t at, std::size_t close, int line, std::size_t& end,
                                 std::string& html) {
    const std::string_view text = scan.text;
    // Where the other wiki's name may start: after the last ">" of an alias
    // first, then after earlier ones, then right after "[[". The name is a
    // word up to a ":" (no blank, no ">").
    std::vector<std::size_t> starts;
    for (std::size_t a = close; a-- > at + 3;)
        if (text[a] == '>') starts.push_back(a + 1);
    starts.push_back(at + 2);
    for (const std::size_t start : starts) {
        std::size_t k = start;
        while (k < close && !is_space(text[k]) && text[k] != ':' && text[k] != '>') ++k;
        if (k == start || k >= close || text[k] != ':') continue;
        // Its text runs to the last "]]" of the line before any ">>".
        const std::size_t param = k + 1;
        const std::size_t arrows = scan.next_of(scan.arrows, param, ">>");
        const std::size_t limit = std::min(arrows, text.size() >= 2 ? text.size() - 2 : 0);
        const std::size_t last = scan.last_close_until(limit);
        if (last == std::string_view::npos || last < param + 1) continue;
        const std::string_view name = text.substr(start, k - start);
        const std::string_view rest = text.substr(param, last - param);
        const std::string_view alias = start > at + 2 ? text.substr(at + 2, start - 1 - at - 2) : std::string_view();
        end = last + 2;
        const std::string shown = alias.empty() ? std::string(name) + ":" + std::string(rest) : std::string(alias);
        html = "<a class=\"other-wiki\" href=\"?" +
               escape_html(path_to_url("[[" + std::string(name) + ":" + std::string(rest) + "]]")) + "\" title=\"" +
               escape_html(std::string(name)) + "\">" + convert_in(shown, line, Scope::PluginsOnly) + "</a>";
        if (!quiet_) facts_.other_wikis.push_back({line, std::string(name), std::string(text.substr(at, end - at))});
        return true;
    }
    return false;
}

bool InlineReader::bracket_at(Scan& scan, std::size_t at, std::size_t close, int line, std::size_t& end,
                              std::string& html) {
    const std::string_view text = scan.text;
    const std::string_view inner = text.substr(at + 2, close - at - 2);
    // "[[page]]", "[[page#anchor]]", "[[#anchor]]", each with "text>" before
    // it or not. Neither a page name nor an anchor holds a ">", so only the
    // last ">" can end the text.
    const std::size_t g = inner.rfind('>');
    if (g == 0) return false;
    const std::string_view rest = g == std::string_view::npos ? inner : inner.substr(g + 1);
    const std::size_t hash = rest.find('#');
    const std::string_view page = rest.substr(0, hash);
    const std::string_view anchor = hash == std::string_view::npos ? std::string_view() : rest.substr(hash);
    if ((!page.empty() && !is_bracket_name(page)) || !is_anchor_part(anchor)) return false;
    const std::string_view alias = g == std::string_view::npos ? std::string_view() : inner.substr(0, g);
    end = close + 2;
    if (page.empty() && anchor.empty()) {
        // Nothing to link to: the wiki shows what was written.
        const bool was_quiet = quiet_;
        quiet_ = true;
        html = line_rules(escape_html(text.substr(at, end - at)), 0);
        quiet_ = was_quiet;
        return true;
    }
    const std::string shown = alias.empty() ? escape_html(rest) : convert_in(alias, line, Scope::PluginsOnly);
    if (page.empty()) {
        html = "<a href=\"" + escape_html(anchor) + "\">" + shown + "</a>";
        if (!quiet_ && anchor.size() > 1) facts_.links.push_back({line, std::string(anchor.substr(1))});
    } else {
        html = "<a class=\"page-link\" title=\"the wiki page " + escape_html(page) + "\">" + shown + "</a>";
    }
    return true;
}

}  // namespace kelvarin::preview
