#include "render/equation_pages.h"

#include "core/equation_format.h"

namespace kelvarin {

namespace {

namespace fmt = equation_format;
using fmt::kHeader;

// The lines of `bytes`, without their line ends; views into `bytes`.
std::vector<std::string_view> split_lines(const std::string& bytes) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string_view line(bytes.data() + start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// Splits "% <image name> - <position>". The image name may itself hold
// " - " (a source called "a - b.tex", or an odd type), so the position is
// found from the end.
bool parse_page_comment(std::string_view line, FormulaPage& page) {
    const std::size_t block = line.rfind(fmt::kBlockPosition);
    const std::size_t inl = line.rfind(fmt::kInlinePosition);
    std::size_t cut = std::string::npos;
    if (block != std::string_view::npos) cut = block;
    if (inl != std::string_view::npos && (cut == std::string::npos || inl > cut)) cut = inl;
    const std::size_t lead = fmt::kCommentLead.size();
    if (cut == std::string::npos || cut < lead) return false;
    page.image_name = line.substr(lead, cut - lead);
    page.position = line.substr(cut + fmt::kRange.size());
    return true;
}

bool is_page_comment(std::string_view line) {
    return line.compare(0, fmt::kCommentLead.size(), fmt::kCommentLead) == 0;
}

// The number of lines of the page whose comment is lines[first]: to the next
// page comment or the document's end. Its lines are then copied into room
// made once.
std::size_t lines_of_page(const std::vector<std::string_view>& lines, std::size_t first) {
    std::size_t end = first + 1;
    while (end < lines.size() && lines[end] != fmt::kDocumentEnd && !is_page_comment(lines[end])) ++end;
    return end - first;
}

}  // namespace

bool parse_equation_pages(const std::string& bytes, EquationPages& doc, std::string& error) {
    const std::vector<std::string_view> lines = split_lines(bytes);
    std::size_t header = std::string::npos;
    for (std::size_t i = 0; i + kHeader.size() <= lines.size() && header == std::string::npos; ++i) {
        bool match = true;
        for (std::size_t k = 0; k < kHeader.size() && match; ++k) match = lines[i + k] == kHeader[k];
        if (match) header = i;
    }
    if (header == std::string::npos) {
        error = "not an equation document written by kelvarin (no \"% kelvarin\" header)";
        return false;
    }
    const std::size_t body = header + kHeader.size();
    doc.head.assign(lines.begin(), lines.begin() + static_cast<long>(body));
    for (std::size_t i = body; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (line == fmt::kDocumentEnd) return true;
        if (is_page_comment(line)) {
            FormulaPage page;
            page.lines.reserve(lines_of_page(lines, i));
            if (!parse_page_comment(line, page)) {
                error = "line " + std::to_string(i + 1) + ": page comment without a source position";
                return false;
            }
            doc.pages.push_back(std::move(page));
        } else if (doc.pages.empty()) {
            if (!line.empty()) {
                error = "line " + std::to_string(i + 1) + ": text before the first page comment";
                return false;
            }
            continue;
        }
        doc.pages.back().lines.emplace_back(line);
    }
    error = "the document has no \\end{document} line";
    return false;
}

bool is_postscript_drawing(const FormulaPage& page) {
    if (page.lines.size() < 2 || image_extension(page.image_name) != "png") return false;
    const std::string_view first = page.lines[1];  // after the page comment
    constexpr std::string_view begin = "\\begin{";
    if (first.compare(0, begin.size(), begin) != 0) return false;
    // "\begin{" and the name and "}"
    const std::string_view rest = first.substr(begin.size());
    for (std::string_view name : fmt::kPostScriptDrawings)
        if (rest.size() > name.size() && rest.compare(0, name.size(), name) == 0 && rest[name.size()] == '}')
            return true;
    return false;
}

std::string image_extension(const std::string& image_name) {
    const std::size_t dot = image_name.rfind('.');
    return dot == std::string::npos ? std::string() : image_name.substr(dot + 1);
}

bool is_plain_file_name(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

}  // namespace kelvarin
