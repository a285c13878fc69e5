#include "core/directives.h"

namespace kelvarin {

void apply_directive(std::string_view raw_line, EquationSettings& settings) {
    static constexpr std::string_view kPrefix = "%%KELVARIN_";
    const std::size_t at = raw_line.find(kPrefix);
    if (at == std::string_view::npos) return;
    // The key ends at the first "=" behind the prefix, so an "=" earlier in
    // the line ('x=1 % %%KELVARIN_EQUATION_TYPE=png') does not hide it.
    const std::size_t key_start = at + kPrefix.size();
    const std::size_t eq = raw_line.find('=', key_start);
    if (eq == std::string_view::npos) return;
    const std::string_view key = raw_line.substr(key_start, eq - key_start);
    const std::string_view value = raw_line.substr(eq + 1);
    if (key == "EQUATION_SCALE")
        settings.scale.assign(value);
    else if (key == "EQUATION_TYPE")
        settings.type.assign(value);
    else if (key == "EQUATION_PARAMETER")
        settings.parameter.assign(value);
    else if (key == "EQUATION_TITLE")
        settings.title.assign(value);
    else if (key == "EQUATION_NAMES") {
        settings.names.assign(value);
        settings.names_given = true;
    }
}

}  // namespace kelvarin
