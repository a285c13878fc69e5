#include "rich/environments.h"

#include <unordered_map>

#include "core/equation_format.h"

namespace kelvarin {

namespace {

using Kind = EnvironmentKind;

const std::unordered_map<std::string_view, EnvironmentEntry>& table() {
    using Map = std::unordered_map<std::string_view, EnvironmentEntry>;
    static const Map environments = [] {
        Map m;
        const auto add = [&m](std::initializer_list<std::string_view> names, EnvironmentEntry entry) {
            for (std::string_view name : names) m.emplace(name, entry);
        };
        add({"document"}, {Kind::document});
        for (std::string_view name : code_environments()) add({name}, {Kind::code});
        // Display math, starred or not; the starred forms are never numbered.
        const auto display = [&](std::string_view name, EnvironmentEntry entry) {
            entry.kind = Kind::display;
            m.emplace(name, entry);
        };
        for (const auto& [name, starred] : std::initializer_list<std::pair<std::string_view, std::string_view>>{
                 {"equation", "equation*"}, {"multline", "multline*"}})
            display(name, {Kind::display, 0, 0, true}), display(starred, {Kind::display, 0, 0, false});
        for (const auto& [name, starred] : std::initializer_list<std::pair<std::string_view, std::string_view>>{
                 {"align", "align*"}, {"gather", "gather*"}, {"eqnarray", "eqnarray*"}, {"flalign", "flalign*"}})
            display(name, {Kind::display, 0, 0, true, true}), display(starred, {Kind::display, 0, 0, false, true});
        display("alignat", {Kind::display, 1, 0, true, true});
        display("alignat*", {Kind::display, 1, 0, false, true});
        display("displaymath", {Kind::display});
        display("displaymath*", {Kind::display});
        display("math", {Kind::display, 0, 0, false, false, true});
        // Drawings: the environment as written is the image's page. picture
        // and xy draw with fonts and rules; the others with PostScript.
        for (const char* name : {"picture", "xy"}) display(name, {Kind::display, 0, 0, false, false, false, true});
        for (std::string_view name : equation_format::kPostScriptDrawings)
            display(name, {Kind::display, 0, 0, false, false, false, true, true});
        display("math*", {Kind::display, 0, 0, false, false, true});
        add({"itemize", "compactitem"}, {Kind::list, 0, '-'});
        add({"enumerate", "compactenum"}, {Kind::list, 0, '+'});
        add({"description"}, {Kind::list, 0, ':'});
        add({"thebibliography"}, {Kind::list, 1, 'b'});
        add({"quote", "quotation", "verse"}, {Kind::quote});
        add({"abstract"}, {Kind::abstract});
        add({"figure", "figure*", "SCfigure", "sidewaysfigure"}, {Kind::figure});
        add({"wrapfigure"}, {Kind::figure, 2});
        add({"subfigure"}, {Kind::subfigure, 1});
        add({"table", "table*", "sidewaystable"}, {Kind::table});
        add({"wraptable"}, {Kind::table, 2});
        add({"tabular", "longtable", "tabu"}, {Kind::tabular, 1});
        add({"tabular*", "tabularx", "supertabular"}, {Kind::tabular, 2});
        add({"minipage", "multicols", "multicols*", "spacing", "otherlanguage", "adjustbox"}, {Kind::layout, 1});
        add({"list"}, {Kind::layout, 2});
        return m;
    }();
    return environments;
}

}  // namespace

const std::vector<std::string_view>& code_environments() {
    static const std::vector<std::string_view> names = {"verbatim", "verbatim*", "lstlisting",
                                                        "minted",   "Verbatim",  "comment"};
    return names;
}

const EnvironmentEntry& environment_entry(std::string_view name) {
    static const EnvironmentEntry kLayout{};
    const auto found = table().find(name);
    return found == table().end() ? kLayout : found->second;
}

}  // namespace kelvarin
