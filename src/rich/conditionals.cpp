// Conditionals in text: "\iffoo ... \else ... \fi" for the paper's own
// flags (\newif) follows the flag; "\iftrue" and "\iffalse" are decided;
// TeX's own tests, which rich mode cannot decide (\ifx, \ifdefined ...),
// keep their first branch. A branch not taken is passed over up to its
// \else or \fi, over as many lines as it takes.
#include "core/job_state.h"
#include "io/text_helpers.h"
#include "rich/commands.h"
#include "rich/macros.h"

namespace kelvarin {

namespace {

// Tokens after a TeX conditional's name that make its test: they print
// nothing either way.
std::size_t skip_test(const Walk& w, std::string_view name, std::size_t at, std::size_t end) {
    int tokens = name == "ifx" || name == "if" || name == "ifcat" ? 2 : name == "ifdefined" ? 1 : 0;
    if (name == "ifcsname") {
        const std::size_t close = w.text.substr(0, end).find("\\endcsname", at);
        return close == std::string_view::npos ? at : close + 10;
    }
    std::size_t p = at;
    for (; tokens > 0; --tokens) {
        p = skip_blanks(w.text, p);
        if (p >= end) return p;
        p += w.text[p] == '\\' ? 1 + std::max<std::size_t>(command_name_length(w.text, p), 1) : 1;
    }
    return std::min(p, end);
}

// Starts passing over a branch at `from`; returns where the text goes on,
// or `end` when the branch goes on past it.
std::size_t pass_over(Walk& w, std::size_t from, std::size_t end, bool stop_at_else) {
    PaperVocabulary& v = w.r.vocabulary;
    v.skipping = true;
    v.stop_at_else = stop_at_else;
    v.skipping_depth = 0;
    const std::size_t next = skip_branch(v, w.text.substr(0, end), from);
    return next == kNoPosition ? end : next;
}

}  // namespace

ConditionalToken conditional_token(const PaperVocabulary& v, std::string_view name) {
    if (name == "fi") return ConditionalToken::close;
    if (name == "else") return ConditionalToken::otherwise;
    if (name.size() < 2 || name.substr(0, 2) != "if") return ConditionalToken::none;
    if (name == "iftrue" || name == "iffalse" || is_tex_conditional(name) ||
        v.flags.count(std::string(name.substr(2))) != 0)
        return ConditionalToken::open;
    return ConditionalToken::none;
}

std::size_t skip_branch(PaperVocabulary& v, std::string_view text, std::size_t from) {
    for (std::size_t p = text.find('\\', from); p != std::string_view::npos; p = text.find('\\', p + 1)) {
        const std::size_t length = command_name_length(text, p);
        if (length == 0) {
            ++p;  // "\\" and other control symbols: the next byte is no command
            continue;
        }
        const ConditionalToken token = conditional_token(v, text.substr(p + 1, length));
        const std::size_t after = p + 1 + length;
        if (token == ConditionalToken::open) ++v.skipping_depth;
        if (token == ConditionalToken::close && v.skipping_depth-- == 0) {
            v.skipping = false;
            v.skipping_depth = 0;
            if (!v.conditionals.empty()) v.conditionals.pop_back();
            return after;
        }
        if (token == ConditionalToken::otherwise && v.skipping_depth == 0 && v.stop_at_else) {
            v.skipping = false;
            return after;
        }
        p = after - 1;
    }
    return kNoPosition;
}

std::size_t conditional_command(CommandCall& call, ConditionalToken token) {
    PaperVocabulary& v = call.w.r.vocabulary;
    if (token == ConditionalToken::close) {
        if (!v.conditionals.empty()) v.conditionals.pop_back();
        return call.after;
    }
    if (token == ConditionalToken::otherwise) {
        // The branch taken ends here; the other is passed over to its \fi.
        if (v.conditionals.empty()) return call.after;
        return pass_over(call.w, call.after, call.end, false);
    }
    const std::string_view name = call.name;
    const auto flag = v.flags.find(std::string(name.substr(2)));
    const bool value = name == "iffalse" ? false : flag != v.flags.end() && !is_tex_conditional(name) ? flag->second : true;
    v.conditionals.push_back(true);
    const std::size_t after = is_tex_conditional(name) ? skip_test(call.w, name, call.after, call.end) : call.after;
    return value ? after : pass_over(call.w, after, call.end, true);
}

}  // namespace kelvarin
