#include "core/conversion_job.h"

#include <cstdio>
#include <cstring>

#include "classic/body_translator.h"
#include "core/directives.h"
#include "core/equation_document.h"
#include "core/job_state.h"
#include "classic/math_capture.h"
#include "rich/body.h"
#include "io/file_identity.h"
#include "io/line_input.h"
#include "io/text_helpers.h"

namespace kelvarin {

namespace {

void report_invalid_file() {
    std::fputs("Invalid file specified\n", stdout);
    std::fflush(stdout);
}

// One line on standard error, so standard output keeps only its own lines.
void report(const std::string& path, const std::string& message) {
    std::fputs("kelvarin: ", stderr);
    std::fwrite(path.data(), 1, path.size(), stderr);
    std::fputs(": ", stderr);
    std::fwrite(message.data(), 1, message.size(), stderr);
    std::fputs("\n", stderr);
    std::fflush(stderr);
}

void report_problem(const std::string& path, const char* what, int error_number) {
    report(path, std::string(what) + ": " + std::strerror(error_number));
}

// A preamble line naming the document class is kept with the class alone,
// set at 12pt: "\documentclass[12pt]{" + first brace group + "}".
void rewrite_document_class(JobState& job, std::string& raw_line) {
    if (first_brace_group(raw_line, job.group) == -1) return;
    raw_line.assign("\\documentclass[12pt]{");
    raw_line.append(job.group);
    raw_line.append("}");
}

// Reads every line and routes it. Returns at "\end{document}", at the end of
// the input or at a read error.
void read_source(JobState& job, LineInput& in) {
    std::string raw_line;
    while (read_line(in, raw_line)) {
        job.line_number += 1;

        std::string_view line_text = raw_line;
        const void* const cut = std::memchr(raw_line.data(), '%', raw_line.size());
        const std::size_t percent =
            cut == nullptr ? std::string::npos
                           : static_cast<std::size_t>(static_cast<const char*>(cut) - raw_line.data());
        if (percent != std::string::npos) {
            apply_directive(raw_line, job.settings);
            settings_may_have_changed(job.reference_parts);
            line_text = line_text.substr(0, percent);
        }

        // One pass finds every construct of the line that is looked for.
        const LineMentions mentions = scan_mentions(line_text);

        // "\begin{document}" is tested first, so a line holding both markers
        // does not end the reading.
        if (mentions.begin_document) {
            job.in_document = true;
            continue;
        }
        if (mentions.end_document) return;

        if (!job.in_document) {
            if (job.rich_mode) rich_preamble_line(job, raw_line);
            if (contains(line_text, "\\documentclass"))
                rewrite_document_class(job, raw_line);
            job.preamble_lines.push_back(raw_line);
            continue;
        }
        if (job.rich_mode) {
            rich_body_line(job, raw_line);
            continue;
        }
        // The body works on the text before the comment: '\%' cuts too.
        if (percent != std::string::npos) raw_line.resize(percent);
        translate_body_line(job, raw_line, mentions);
    }
}

// Reads the whole source as rich mode does, writing nothing, to learn what
// the page needs before it meets it: labels that are referred to before
// they are defined, and the headings they name.
RichOutline read_outline(const std::string& input_path, const std::string& equation_prefix) {
    JobState job;
    job.rich_mode = true;
    job.rich.collecting = true;
    job.equation_prefix = equation_prefix;
    LineInput in;
    if (open_input(in, input_path)) {
        read_source(job, in);
        if (job.in_document) rich_finish_body(job);
    }
    close_input(in);
    return std::move(job.rich.outline);
}

}  // namespace

bool convert_file(const std::string& input_path, const ConversionOptions& options) {
    LineInput in;
    if (!open_input(in, input_path)) {
        report_invalid_file();
        return false;
    }

    JobState job;
    const std::string stem = strip_extension(input_path);
    const std::string wiki_path = stem + ".wiki.txt";
    const std::string equation_path = stem + ".eq.tex";
    job.equation_prefix = base_name(stem) + ".eq";

    // An output that is the input itself under another name would be
    // truncated on opening, and the source lost; it fails like an output
    // that cannot be opened, before anything is opened for writing.
    if (is_same_file(input_path, wiki_path) ||
        is_same_file(input_path, equation_path) ||
        !open_output(job.wiki, wiki_path)) {
        close_input(in);
        report_invalid_file();
        return false;
    }

    if (options.rich) {
        job.rich_mode = true;
        job.rich.outline = read_outline(input_path, job.equation_prefix);
    }
    read_source(job, in);
    if (job.rich_mode && job.in_document) rich_finish_body(job);
    close_input(in);
    bool ok = true;
    if (in.read_error) {
        report_problem(input_path, "read error", in.error_number);
        ok = false;
    } else if (!job.in_document) {
        // Not a failure (a file of macros converts to an empty page, as it
        // should), but a chapter of a book looks like one, and an empty page
        // with "parse ok" would leave its user guessing.
        report(input_path,
               "no \\begin{document} in it, so its wiki page is empty; to convert a "
               "chapter of a book, flatten the book into one file first (README: "
               "Books and multi-file papers)");
    }
    if (!close_output(job.wiki)) {
        report_problem(wiki_path, "write error", job.wiki.error_number);
        ok = false;
    }

    LineOutput equations;
    if (!open_output(equations, equation_path)) {
        report_invalid_file();
        return false;
    }
    write_equation_document(equations, job.preamble_lines,
                            job.equation_prefix, job.settings, job.registry);
    if (equations.failed) {
        report_problem(equation_path, "write error", equations.error_number);
        ok = false;
    }
    return ok;
}

}  // namespace kelvarin
