#include "classic/body_translator.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/job_state.h"
#include "classic/math_capture.h"
#include "io/text_helpers.h"
#include "wiki/markup.h"

namespace kelvarin {

namespace {

// The figure block: the image and, when there is one, its centred caption as
// the two rows of a one-column table.
void write_figure_block(JobState& job) {
    write_empty_line(job.wiki);
    std::vector<std::string> captions;
    if (!job.caption.empty()) captions.push_back(job.caption);
    // With a caption, the image is a table row even when the name is empty.
    const std::vector<std::string> lines =
        captions.empty() ? std::vector<std::string>{wiki::block_image(job.graphic)}
                         : wiki::figure_block({{job.graphic, ""}}, captions);
    for (const std::string& line : lines) write_line(job.wiki, line);
    write_empty_line(job.wiki);
}

// A list item: drops everything up to and including "\item" and the one byte
// after it, and puts the item marker in front.
void rewrite_item(std::string& line, char marker) {
    const std::size_t p = line.find("\\item");
    line.erase(0, std::min(line.size(), p + 6));
    line.insert(line.begin(), marker);
}

// Whether `rest` starts with `literal`; the length is known when compiling,
// so the comparison is made in place, without a call.
template <std::size_t N>
bool starts_with(std::string_view rest, const char (&literal)[N]) {
    return rest.size() >= N - 1 && std::memcmp(rest.data(), literal, N - 1) == 0;
}

}  // namespace

LineMentions scan_mentions(std::string_view line) {
    LineMentions m;
    const char* p = line.data();
    const char* const end = p + line.size();
    while (p != end) {
        p = static_cast<const char*>(std::memchr(p, '\\', static_cast<std::size_t>(end - p)));
        if (p == nullptr) break;
        ++p;  // behind the backslash
        const std::string_view rest(p, static_cast<std::size_t>(end - p));
        if (rest.empty()) break;
        switch (rest.front()) {
        case '\\':
        case '{':
        case '}':
            m.escape = true;
            break;
        case 'b':
            if (starts_with(rest, "begin{document}"))
                m.begin_document = true;
            else if (starts_with(rest, "begin{figure}"))
                m.begin_figure = true;
            else if (starts_with(rest, "bib"))
                m.bib = true;
            break;
        case 'e':
            if (starts_with(rest, "end{document}"))
                m.end_document = true;
            else if (starts_with(rest, "end{figure}"))
                m.end_figure = true;
            break;
        case 's':
            if (starts_with(rest, "section{"))
                m.section = true;
            else if (starts_with(rest, "subsection{"))
                m.subsection = true;
            else if (starts_with(rest, "subsubsection{"))
                m.subsubsection = true;
            break;
        case 'p':
            if (starts_with(rest, "paragraph{")) m.paragraph = true;
            break;
        case 'i':
            if (starts_with(rest, "item"))
                m.item = true;
            else if (starts_with(rest, "includegraphics"))
                m.includegraphics = true;
            break;
        case 'c':
            if (starts_with(rest, "caption{")) m.caption = true;
            break;
        default:
            break;
        }
    }
    return m;
}

namespace {

// Whether byte `at` lies between the two signs of a "$" pair, the pairs
// being those the inline rewrite takes: from the first "$" to the next, then
// from the "$" after that to the next, and so on; a last "$" without a
// partner opens no pair.
bool inside_dollar_pair(std::string_view line, std::size_t at) {
    std::size_t open = line.find('$');
    while (open != std::string_view::npos && open < at) {
        const std::size_t close = line.find('$', open + 1);
        if (close == std::string_view::npos) return false;
        if (at < close) return true;
        open = line.find('$', close + 1);
    }
    return false;
}

// Replaces the first occurrence of the two bytes `from` by `to`, unless that
// occurrence stands inside a formula: a formula's text is what latex gets,
// and "\{" in it is a brace latex must see. An occurrence inside a formula
// is still the one occurrence the replacement is made at, so a later one
// outside stays as it is, as it always has.
void replace_first_outside_formulas(std::string& line, std::string_view from, char to) {
    const std::size_t at = line.find(from);
    if (at == std::string::npos || inside_dollar_pair(line, at)) return;
    line.replace(at, from.size(), 1, to);
}

// Figures: one image and one caption, written at the figure's end. Returns
// true when the line is used up.
bool figure_line(JobState& job, const std::string& line, const LineMentions& m) {
    BodyState& mode = job.body;
    if (m.begin_figure) {
        mode.in_figure = true;
        job.graphic.clear();
        job.caption.clear();
        return true;
    }
    if (mode.in_figure) {
        // Any "\includegraphics", with options or not; the name is still the
        // line's first brace group.
        if (m.includegraphics && first_brace_group(line, job.group) != -1)
            job.graphic = job.group;
        if (m.caption && first_brace_group(line, job.group) != -1)
            job.caption = job.group;
    }
    if (m.end_figure) {
        write_figure_block(job);
        mode.in_figure = false;
        return true;
    }
    if (mode.in_figure) return true;

    return false;
}

// Numbered and bulleted lists: an item's "\\item" becomes its marker.
// Returns true when the line is used up.
bool list_line(JobState& job, std::string& line, LineMentions& m) {
    BodyState& mode = job.body;
    // Numbered lists.
    if (equals(line, "\\begin{enumerate}")) {
        mode.in_enumerate = true;
        return true;
    }
    if (equals(line, "\\end{enumerate}")) {
        mode.in_enumerate = false;
        return true;
    }
    if (mode.in_enumerate && m.item) {
        rewrite_item(line, '+');
        m = scan_mentions(line);
    }

    // Bulleted lists.
    if (equals(line, "\\begin{itemize}")) {
        mode.in_itemize = true;
        return true;
    }
    if (equals(line, "\\end{itemize}")) {
        mode.in_itemize = false;
        write_empty_line(job.wiki);
        return true;
    }
    if (mode.in_itemize && m.item) {
        rewrite_item(line, '-');
        m = scan_mentions(line);
    }

    return false;
}

// Verbatim blocks and quotations. Returns true when the line is used up.
bool verbatim_or_quote_line(JobState& job, const std::string& line) {
    BodyState& mode = job.body;
    // Verbatim blocks.
    if (equals(line, "\\begin{verbatim}")) {
        mode.in_verbatim = true;
        write_line(job.wiki, wiki::kCodeOpen);
        return true;
    }
    if (equals(line, "\\end{verbatim}")) {
        mode.in_verbatim = false;
        write_line(job.wiki, wiki::kCodeClose);
        return true;
    }
    if (mode.in_verbatim) {
        write_line(job.wiki, line);
        return true;
    }

    // Quotations: the opening (an empty line and ">") is written only once
    // the quotation has a line of its own to show.
    if (equals(line, "\\begin{quote}")) {
        mode.in_quote = true;
        mode.quote_pending = true;
        return true;
    }
    if (equals(line, "\\end{quote}")) {
        mode.in_quote = false;
        if (!mode.quote_pending) write_empty_line(job.wiki);
        mode.quote_pending = false;
        return true;
    }
    if (mode.in_quote && mode.quote_pending) {
        write_empty_line(job.wiki);
        write_line(job.wiki, wiki::quotation(1));
        mode.quote_pending = false;
    }

    return false;
}

}  // namespace

void replace_escapes(std::string& line) {
    replace_first_outside_formulas(line, "\\\\", '~');
    replace_first_outside_formulas(line, "\\{", '{');
    replace_first_outside_formulas(line, "\\}", '}');
}

void translate_body_line(JobState& job, std::string& line, LineMentions m) {
    BodyState& mode = job.body;

    // Leading blanks, except where layout matters. No construct looked for
    // starts with a blank, so what the line mentions stays as it was.
    if (!mode.in_verbatim && !mode.in_quote) trim_leading_blanks(line);

    // Headings: the first brace group of the line; the rest is dropped.
    const int level = m.section ? 1 : m.subsection ? 2 : m.subsubsection ? 3 : 0;
    if (level != 0) {
        if (first_brace_group(line, job.group) != -1)
            write_line(job.wiki, wiki::heading(level, job.group));
        return;
    }

    // Paragraph title; the rest of the line goes on.
    if (m.paragraph) {
        const std::int64_t close = first_brace_group(line, job.group);
        if (close != -1) {
            write_line(job.wiki, wiki::run_in_title(job.group));
            line.erase(0, static_cast<std::size_t>(close) + 1);
            m = scan_mentions(line);
        }
    }

    // Escapes. Formula lines keep them. A line that may start with a display
    // marker is kept as written first: behind its marker stands formula text,
    // or a line of its own that gets its own escape replacements.
    const bool keep_as_written =
        !mode.in_display_math && may_begin_display_marker(line);
    if (keep_as_written) job.as_written.assign(line);
    if (!mode.in_display_math && m.escape) {
        replace_escapes(line);
        m = scan_mentions(line);
    }

    if (figure_line(job, line, m) || list_line(job, line, m) || verbatim_or_quote_line(job, line)) return;

    // Formulas.
    if (handle_math_line(job, line, keep_as_written ? job.as_written : line))
        return;

    // Bibliography commands are dropped; everything else is copied.
    if (m.bib) return;
    write_line(job.wiki, line);
}

}  // namespace kelvarin
