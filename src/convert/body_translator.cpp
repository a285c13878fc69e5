#include "convert/body_translator.h"

#include <algorithm>

#include "convert/job_state.h"
#include "convert/math_capture.h"
#include "text/text_helpers.h"

namespace kelvarin {

namespace {

// The figure block: the image and, when there is one, its centred caption as
// the two rows of a one-column table.
void write_figure_block(JobState& job) {
    write_empty_line(job.wiki);
    if (job.caption.empty()) {
        write_line(job.wiki, {"#ref(", job.graphic, ",,100%)"});
    } else {
        write_line(job.wiki, {"|&ref(", job.graphic, ",,100%);|"});
        write_line(job.wiki, {"|CENTER:", job.caption, "|"});
    }
    write_empty_line(job.wiki);
}

// A list item: drops everything up to and including "\item" and the one byte
// after it, and puts the item marker in front.
void rewrite_item(std::string& line, char marker) {
    const std::size_t p = line.find("\\item");
    line.erase(0, std::min(line.size(), p + 6));
    line.insert(line.begin(), marker);
}

}  // namespace

void replace_escapes(std::string& line) {
    replace_first(line, "\\\\", "~");
    replace_first(line, "\\{", "{");
    replace_first(line, "\\}", "}");
}

void translate_body_line(JobState& job, std::string& line) {
    BodyState& mode = job.body;

    // Leading blanks, except where layout matters.
    if (!mode.in_verbatim && !mode.in_quote) trim_leading_blanks(line);

    // Headings: the first brace group of the line; the rest is dropped.
    const char* heading = nullptr;
    if (contains(line, "\\section{"))
        heading = "*";
    else if (contains(line, "\\subsection{"))
        heading = "**";
    else if (contains(line, "\\subsubsection{"))
        heading = "***";
    if (heading != nullptr) {
        if (first_brace_group(line, job.group) != -1)
            write_line(job.wiki, {heading, job.group});
        return;
    }

    // Paragraph title; the rest of the line goes on.
    if (contains(line, "\\paragraph{")) {
        const std::int64_t close = first_brace_group(line, job.group);
        if (close != -1) {
            write_line(job.wiki, {"-", job.group, "~"});
            line.erase(0, static_cast<std::size_t>(close) + 1);
        }
    }

    // Escapes. Formula lines keep them. A line that may start with a display
    // marker is kept as written first: behind its marker stands formula text,
    // or a line of its own that gets its own escape replacements.
    const bool keep_as_written =
        !mode.in_display_math && may_begin_display_marker(line);
    if (keep_as_written) job.as_written.assign(line);
    if (!mode.in_display_math) replace_escapes(line);

    // Figures: one image and one caption, written at the figure's end.
    if (contains(line, "\\begin{figure}")) {
        mode.in_figure = true;
        job.graphic.clear();
        job.caption.clear();
        return;
    }
    if (mode.in_figure) {
        // Any "\includegraphics", with options or not; the name is still the
        // line's first brace group.
        if (contains(line, "\\includegraphics") &&
            first_brace_group(line, job.group) != -1)
            job.graphic = job.group;
        if (contains(line, "\\caption{") && first_brace_group(line, job.group) != -1)
            job.caption = job.group;
    }
    if (contains(line, "\\end{figure}")) {
        write_figure_block(job);
        mode.in_figure = false;
        return;
    }
    if (mode.in_figure) return;

    // Numbered lists.
    if (equals(line, "\\begin{enumerate}")) {
        mode.in_enumerate = true;
        return;
    }
    if (equals(line, "\\end{enumerate}")) {
        mode.in_enumerate = false;
        return;
    }
    if (mode.in_enumerate && contains(line, "\\item")) rewrite_item(line, '+');

    // Bulleted lists.
    if (equals(line, "\\begin{itemize}")) {
        mode.in_itemize = true;
        return;
    }
    if (equals(line, "\\end{itemize}")) {
        mode.in_itemize = false;
        write_empty_line(job.wiki);
        return;
    }
    if (mode.in_itemize && contains(line, "\\item")) rewrite_item(line, '-');

    // Verbatim blocks.
    if (equals(line, "\\begin{verbatim}")) {
        mode.in_verbatim = true;
        write_line(job.wiki, "#code(C){{");
        return;
    }
    if (equals(line, "\\end{verbatim}")) {
        mode.in_verbatim = false;
        write_line(job.wiki, "}}");
        return;
    }
    if (mode.in_verbatim) {
        write_line(job.wiki, line);
        return;
    }

    // Quotations: the opening (an empty line and ">") is written only once
    // the quotation has a line of its own to show.
    if (equals(line, "\\begin{quote}")) {
        mode.in_quote = true;
        mode.quote_pending = true;
        return;
    }
    if (equals(line, "\\end{quote}")) {
        mode.in_quote = false;
        if (!mode.quote_pending) write_empty_line(job.wiki);
        mode.quote_pending = false;
        return;
    }
    if (mode.in_quote && mode.quote_pending) {
        write_empty_line(job.wiki);
        write_line(job.wiki, ">");
        mode.quote_pending = false;
    }

    // Formulas.
    if (handle_math_line(job, line, keep_as_written ? job.as_written : line))
        return;

    // Bibliography commands are dropped; everything else is copied.
    if (contains(line, "\\bib")) return;
    write_line(job.wiki, line);
}

}  // namespace kelvarin
