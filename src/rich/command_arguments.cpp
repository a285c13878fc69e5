#include "rich/command_arguments.h"

namespace kelvarin {

namespace {

// The optional argument at `at`, if one opens there.
Argument optional_argument(Walk& w, std::size_t at) {
    Argument arg;
    arg.next = skip_optional_argument(w.index, at, false);
    if (arg.next == at) return arg;
    arg.found = arg.closed = true;
    arg.begin = at + 1;
    arg.end = arg.next - 1;
    arg.text = w.text.substr(arg.begin, arg.end - arg.begin);
    return arg;
}

}  // namespace

CommandArguments read_arguments(Walk& w, std::string_view signature, std::size_t at, std::size_t end) {
    CommandArguments a;
    std::size_t p = at;
    a.carry_from = at;
    for (const char kind : signature) {
        switch (kind) {
            case '*':
                a.star = p < w.text.size() && w.text[p] == '*';
                if (a.star) ++p;
                a.carry_from = p;
                break;
            case '|':
                a.carry_from = p;
                break;
            case 'O':
                p = skip_blanks(w.text, p);
                [[fallthrough]];
            case 'o': {
                const Argument arg = optional_argument(w, p);
                if (arg.found) p = arg.next;
                a.list[a.count++] = arg;
                break;
            }
            case 'm': {
                const Argument arg = read_argument(w, p, end);
                a.list[a.count++] = arg;
                if (!arg.found || !arg.closed) {
                    a.status = arg.found ? CommandArguments::unclosed : CommandArguments::missing;
                    a.next = p;
                    return a;
                }
                p = arg.next;
                break;
            }
            default:
                break;
        }
    }
    a.next = p;
    return a;
}

}  // namespace kelvarin
