// Formula numbers on a scale no example can show: tens of thousands of
// formulas, most of them sharing long beginnings, some met once and some
// thousands of times, some of them longer than anything kept together, each
// checked against a plain model of the numbering rule: a text's number is
// the count of distinct texts met before it, plus one.
#include <map>
#include <random>

#include "support/harness.h"

using namespace kelvarin_test;

namespace {

// The texts of the formulas: long shared beginnings, lengths of every size
// class up to a few hundred bytes, pairs that differ in one byte only (at the
// start, in the middle, at the end, in the last eight bytes), and two texts
// longer than 64 KiB that differ in their last byte. None holds a "$", a
// "%", an escape ("\\", "\{", "\}") or a command the body looks for, so
// every text reaches the registry as written.
std::vector<std::string> formula_pool() {
    std::vector<std::string> pool;
    const std::string shared = "\\frac{\\partial u_{3}}{\\partial t}+\\alpha\\,\\nabla^{2}u_{3}";
    for (int k = 0; k < 300; ++k) pool.push_back(shared + "+c_{" + std::to_string(k) + "}");
    for (std::size_t n = 0; n <= 40; ++n) pool.push_back(std::string(n, 'x'));
    for (std::size_t n : {1u, 2u, 3u, 4u, 7u, 8u, 9u, 15u, 16u, 17u, 63u, 64u, 65u, 200u}) {
        const std::string base(n, 'q');
        for (std::size_t at : {std::size_t{0}, n / 2, n - 1, n >= 8 ? n - 8 : 0}) {
            std::string changed = base;
            changed[at] = 'r';
            pool.push_back(changed);
        }
    }
    std::string huge(70000, 'h');
    pool.push_back(huge + "a");
    pool.push_back(huge + "b");
    return pool;
}

std::string image(int number) { return "paper.eq" + std::to_string(number) + ".gif"; }

struct Model {
    std::map<std::string, int> numbers;  // text as registered -> number
    std::vector<std::string> pages;      // page comment and lines of each
    // The number of the text `key`; a new one gets its page, the comment
    // "% <image><where>" and then `lines`.
    int number_of(const std::string& key, const std::string& where,
                  const std::vector<std::string>& lines) {
        const auto found = numbers.find(key);
        if (found != numbers.end()) return found->second;
        const int number = static_cast<int>(numbers.size()) + 1;
        numbers.emplace(key, number);
        pages.push_back("% " + image(number) + where);
        pages.insert(pages.end(), lines.begin(), lines.end());
        return number;
    }
};

}  // namespace

TEST(FormulaNumbering, TensOfThousandsOfFormulasAreNumberedByFirstOccurrence) {
    const std::vector<std::string> pool = formula_pool();
    std::mt19937 gen(20261206);
    // Zipf-like: the k-th text of the pool about as often as 1/k, plus a
    // tail of texts met once.
    std::vector<double> weights;
    for (std::size_t k = 0; k < pool.size(); ++k) weights.push_back(1.0 / static_cast<double>(k + 1));
    std::discrete_distribution<std::size_t> pick(weights.begin(), weights.end());
    int tail = 0;
    const auto draw = [&] {
        if (gen() % 8 == 0) return "t_{" + std::to_string(++tail) + "}";
        return pool[pick(gen)];
    };

    std::string source = "\\documentclass{article}\n\\begin{document}\n";
    std::vector<std::string> wiki;
    Model model;
    int row = 2;
    for (int line = 0; line < 12000; ++line) {
        if (line % 97 == 0) {
            // A display formula of one to three lines, often one met before.
            std::vector<std::string> lines;
            for (int k = 0, n = 1 + static_cast<int>(gen() % 3); k < n; ++k)
                lines.push_back(gen() % 2 == 0 ? pool[gen() % 20] : draw());
            source += "\\[\n";
            std::string key;
            for (const std::string& l : lines) {
                source += l + "\n";
                key += l + "\\n";
            }
            source += "\\]\n";
            const int number = model.number_of(
                key,
                " - block (row : " + std::to_string(row + 2) + " - " +
                    std::to_string(row + 1 + static_cast<int>(lines.size())) + ")",
                lines);
            wiki.push_back("#ref(" + image(number) + ",,70%)");
            wiki.push_back("");
            row += 2 + static_cast<int>(lines.size());
            continue;
        }
        ++row;
        std::string text = "w" + std::to_string(line);
        std::string page_line = text;
        for (int k = 0, n = static_cast<int>(gen() % 5); k < n; ++k) {
            const std::string formula = draw();
            text += " and ";
            page_line += " and ";
            const std::size_t open = text.size();
            text += "$" + formula + "$";
            const std::string where = " - inline (row : " + std::to_string(row) + ", column : " +
                                      std::to_string(open) + " - " + std::to_string(text.size() - 1) + ")";
            page_line += "&ref(" + image(model.number_of(formula, where, {formula})) + ",,70%);";
        }
        source += text + "\n";
        wiki.push_back(page_line);
    }
    source += "\\end{document}\n";

    ASSERT_GT(model.numbers.size(), 1500u);

    const Converted c = convert_source(source);
    EXPECT_EQ(c.run.exit_status, 0);
    EXPECT_TRUE(c.wiki == crlf(wiki)) << "the wiki page differs from the model's";
    EXPECT_TRUE(c.equations == equation_document({"\\documentclass[12pt]{article}"}, model.pages))
        << "the equation document differs from the model's";
}
