#include "rich/macros.h"

#include "io/text_helpers.h"

namespace kelvarin {

bool substitute(std::string_view body, const std::vector<std::string_view>& arguments, std::size_t limit,
                std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (c == '#' && i + 1 < body.size()) {
            const char next = body[i + 1];
            if (next == '#') {
                out.push_back('#');
                ++i;
            } else if (next >= '1' && next <= '9') {
                const std::size_t k = static_cast<std::size_t>(next - '1');
                if (k < arguments.size()) out.append(arguments[k]);
                ++i;
            } else {
                out.push_back(c);
            }
        } else {
            out.push_back(c);
        }
        if (out.size() > limit) return false;
    }
    return true;
}

bool is_math_body(std::string_view body) {
    body = trim_blanks_and_tabs(body);
    for (std::string_view tail : {std::string_view("\\xspace"), std::string_view("{}")})
        if (body.size() > tail.size() && body.substr(body.size() - tail.size()) == tail)
            body = trim_blanks_and_tabs(body.substr(0, body.size() - tail.size()));
    const std::string_view lead = "\\ensuremath";
    if (body.substr(0, lead.size()) == lead) {
        const std::string_view rest = trim_blanks_and_tabs(body.substr(lead.size()));
        return rest.size() >= 2 && rest.front() == '{' && rest.back() == '}';
    }
    return body.size() >= 2 && body.front() == '$' && body.back() == '$' &&
           body.find('$', 1) == body.size() - 1;
}

bool* flag_set_by(PaperVocabulary& v, std::string_view name, bool& value) {
    for (const std::string_view word : {std::string_view("true"), std::string_view("false")}) {
        if (name.size() <= word.size() || name.substr(name.size() - word.size()) != word) continue;
        const auto flag = v.flags.find(std::string(name.substr(0, name.size() - word.size())));
        if (flag == v.flags.end()) continue;
        value = word == "true";
        return &flag->second;
    }
    return nullptr;
}

bool is_tex_conditional(std::string_view name) {
    static const std::set<std::string_view> kConditionals = {
        "if", "ifx", "ifnum", "ifdim", "ifodd", "ifdefined", "ifcsname", "ifmmode", "ifvmode", "ifhmode",
        "ifinner", "ifvoid", "ifeof", "ifcat", "ifhbox", "ifvbox", "ifincsname", "iffontchar", "ifpdf",
        "ifxetex", "ifluatex", "iftex", "ifpdftex"};
    return kConditionals.count(name) != 0;
}

}  // namespace kelvarin
