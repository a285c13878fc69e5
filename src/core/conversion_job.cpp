#include "core/conversion_job.h"

#include <cerrno>
#include <cstring>

#include "classic/body_translator.h"
#include "core/directives.h"
#include "core/equation_document.h"
#include "core/image_names.h"
#include "core/job_state.h"
#include "classic/math_capture.h"
#include "rich/body.h"
#include "io/file_identity.h"
#include "io/line_input.h"
#include "io/line_output.h"
#include "io/text_helpers.h"

namespace kelvarin {

namespace {

// A problem, naming the file it is about.
void report(ConversionResult& result, const std::string& path, const std::string& message) {
    result.problems.push_back(path + ": " + message);
}

void report_problem(ConversionResult& result, const std::string& path, const char* what, int error_number) {
    report(result, path, std::string(what) + ": " + std::strerror(error_number));
}

// A preamble line naming the document class is kept with the class alone,
// set at 12pt: "\documentclass[12pt]{" + first brace group + "}".
void rewrite_document_class(JobState& job, std::string& raw_line) {
    if (first_brace_group(raw_line, job.group) == -1) return;
    raw_line.assign("\\documentclass[12pt]{");
    raw_line.append(job.group);
    raw_line.append("}");
}

// A %%KELVARIN_EQUATION_NAMES= directive names every image of the page, so
// it is read before the body only: in the body, images already named would
// be named otherwise than the ones after it. The last one before the body
// counts.
void read_naming_directive(JobState& job) {
    job.settings.names_given = false;
    if (job.in_document) {
        if (job.naming_problem.empty())
            job.naming_problem = "line " + int_to_string(job.line_number) +
                                 ": %%KELVARIN_EQUATION_NAMES= counts only before \\begin{document}; ignored";
        return;
    }
    bool known = false;
    job.names_by_content = names_by_content(trim_blanks_and_tabs(job.settings.names), known);
    if (!known)
        job.naming_problem = "line " + int_to_string(job.line_number) + ": %%KELVARIN_EQUATION_NAMES=" +
                             job.settings.names + " is neither content nor number; images are named by number";
}

// Reads every line and routes it. Returns at "\end{document}", at the end of
// the input or at a read error.
// Rich mode reads a line's constructs itself; it asks only where the
// document begins and ends.
LineMentions document_markers(std::string_view line) {
    LineMentions m;
    for (std::size_t at = line.find('\\'); at != std::string_view::npos; at = line.find('\\', at + 1)) {
        const std::string_view rest = line.substr(at + 1);
        if (rest.empty()) break;
        if (rest[0] == 'b' && rest.compare(0, 15, "begin{document}") == 0) m.begin_document = true;
        if (rest[0] == 'e' && rest.compare(0, 13, "end{document}") == 0) m.end_document = true;
    }
    return m;
}

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
            if (job.settings.names_given) read_naming_directive(job);
            line_text = line_text.substr(0, percent);
        }

        // One pass finds every construct of the line that is looked for.
        const LineMentions mentions = job.rich_mode ? document_markers(line_text) : scan_mentions(line_text);

        // "\begin{document}" is tested first, so a line holding both markers
        // does not end the reading.
        if (mentions.begin_document) {
            job.in_document = true;
            if (job.names_by_content) name_images_by_content(job.registry);
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

// The folder of the input, where the paper's own style files are looked for.
std::string folder_of(const std::string& input_path) {
    const std::size_t slash = input_path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : input_path.substr(0, slash);
}

// The equation document's preamble: the source's, and after it the
// definitions the paper makes in its body, which hold for the formulas after
// them. At the end of the preamble, in the order met, latex knows them on
// every page and in every run that typesets a page.
std::vector<std::string> equation_preamble(JobState& job) {
    std::vector<std::string> preamble = std::move(job.preamble_lines);
    const std::vector<std::string>& body_definitions = job.rich.vocabulary.body_definitions;
    if (!body_definitions.empty()) {
        preamble.push_back("% definitions made in the paper's body");
        preamble.insert(preamble.end(), body_definitions.begin(), body_definitions.end());
    }
    return preamble;
}

// Reads the whole source as rich mode does, writing nothing, to learn what
// the page needs before it meets it: labels that are referred to before
// they are defined, and the headings they name.
RichOutline read_outline(const std::string& input_path, const std::string& equation_prefix) {
    JobState job;
    job.rich_mode = true;
    job.rich.pass = &kLearningPass;
    job.rich.source_folder = folder_of(input_path);
    job.equation_prefix = equation_prefix;
    LineInput in;
    if (open_input(in, input_path)) {
        read_source(job, in);
        if (job.in_document) rich_finish_body(job);
    }
    close_input(in);
    return std::move(job.rich.outline);
}

// Reports what became of the naming directives. Two different formulas
// whose names by content are equal would show one image for both, so the
// conversion fails, saying how to set them apart. Returns false then.
bool report_naming(ConversionResult& result, const std::string& input_path, const JobState& job) {
    if (!job.naming_problem.empty()) report(result, input_path, job.naming_problem);
    const EquationRegistry& registry = job.registry;
    for (const auto& [first, second] : registry.clashes) {
        char key[24];
        report(result, input_path, "the formulas of rows " + int_to_string(registry.formulas[first - 1].first_row) +
                               " and " + int_to_string(registry.formulas[second - 1].first_row) +
                               " differ, but their images would both be named " + job.equation_prefix +
                               std::string(image_key(registry, first, key)) + "." +
                                   std::string(image_type_of(registry, first, job.settings.type)) +
                               "; write one of them slightly differently (a {} anywhere will do)");
    }
    return registry.clashes.empty();
}

// Where the two outputs of one input go, and the names on its page.
struct OutputNames {
    std::string wiki;
    std::string equations;
    std::string equation_prefix;
};

OutputNames output_names(const std::string& input_path, const ConversionOptions& options) {
    const std::string stem = strip_extension(input_path);
    OutputNames names;
    std::string out_stem = stem;
    if (!options.out_folder.empty()) {
        out_stem = options.out_folder;
        if (out_stem.back() != '/') out_stem += '/';
        out_stem += base_name(stem);
    }
    names.wiki = out_stem + ".wiki.txt";
    names.equations = out_stem + ".eq.tex";
    names.equation_prefix = base_name(stem) + ".eq";
    return names;
}

// Both outputs are checked before either is touched: an output that is the
// input itself under another name would be truncated on opening and the
// source lost, and an output that cannot be written would leave a new page
// beside an old equation document, whose image numbers no longer match it.
bool outputs_can_be_written(ConversionResult& result, const std::string& input_path, const OutputNames& names) {
    for (const std::string* output : {&names.wiki, &names.equations}) {
        if (is_same_file(input_path, *output)) {
            report(result, *output, "is the input itself; nothing was written");
            return false;
        }
        if (!can_write_at(*output)) {
            report_problem(result, *output, "cannot be written", errno);
            return false;
        }
    }
    return true;
}

bool open_page_output(ConversionResult& result, LineOutput& out, const std::string& path, bool replacing) {
    if (replacing ? open_replacing_output(out, path) : open_output(out, path)) return true;
    report_problem(result, path, "cannot be written", errno);
    return false;
}

// Closes an output, renaming it into place when it is a replacing one.
bool finish_page_output(ConversionResult& result, LineOutput& out, const std::string& path, bool replacing) {
    if (replacing ? commit_output(out) : close_output(out)) return true;
    report_problem(result, path, "write error", out.error_number);
    return false;
}

}  // namespace

ConversionResult convert_file(const std::string& input_path, const ConversionOptions& options) {
    ConversionResult result;
    LineInput in;
    if (!open_input(in, input_path)) {
        result.ok = false;
        result.invalid_file = true;
        report(result, input_path, in.open_problem);
        return result;
    }

    JobState job;
    if (options.stable_names) name_images_by_content(job.registry);
    const OutputNames names = output_names(input_path, options);
    job.equation_prefix = names.equation_prefix;
    const bool replacing = options.rich;
    if (!outputs_can_be_written(result, input_path, names) ||
        !open_page_output(result, job.wiki, names.wiki, replacing)) {
        close_input(in);
        result.ok = false;
        result.invalid_file = true;
        return result;
    }

    if (options.rich) {
        job.rich_mode = true;
        job.rich.source_folder = folder_of(input_path);
        job.rich.outline = read_outline(input_path, job.equation_prefix);
    }
    read_source(job, in);
    if (job.rich_mode && job.in_document) rich_finish_body(job);
    close_input(in);
    bool& ok = result.ok;
    for (const std::string& warning : job.rich.vocabulary.warnings) result.problems.push_back(input_path + ":" + warning);
    ok = report_naming(result, input_path, job) && ok;
    if (in.read_error) {
        report_problem(result, input_path, "read error", in.error_number);
        ok = false;
    } else if (!job.in_document) {
        // Not a failure (a file of macros converts to an empty page, as it
        // should), but a chapter of a book looks like one, and an empty page
        // with "parse ok" would leave its user guessing.
        report(result, input_path,
               "no \\begin{document} in it, so its wiki page is empty; to convert a "
               "chapter of a book, flatten the book into one file first (README: "
               "Books and multi-file papers)");
    }

    LineOutput equations;
    if (!open_page_output(result, equations, names.equations, replacing)) {
        if (replacing)
            discard_output(job.wiki);
        else
            close_output(job.wiki);
        result.ok = false;
        result.invalid_file = true;
        return result;
    }
    write_equation_document(equations, equation_preamble(job), job.equation_prefix, job.settings, job.registry,
                            job.rich.figures_to_convert);
    // Rich mode writes each output beside its name and renames it into place
    // when complete, so that a link at the name is replaced, not written
    // through, and a page is kept only together with its equation document:
    // after any failure the old pair stays as it was. The default mode
    // writes its outputs in place, line by line, following a link at their
    // names, as pages were always made.
    flush_output(job.wiki);
    flush_output(equations);
    if (replacing && (!ok || job.wiki.failed || equations.failed)) {
        for (const auto& [out, path] : {std::pair<LineOutput*, const std::string*>{&job.wiki, &names.wiki},
                                        {&equations, &names.equations}})
            if (out->failed)
                report(result, *path, std::string("write error: ") + std::strerror(out->error_number) +
                                  "; the old page and equation document are kept");
        discard_output(equations);
        discard_output(job.wiki);
        result.ok = false;
        return result;
    }
    if (!finish_page_output(result, equations, names.equations, replacing)) ok = false;
    if (!finish_page_output(result, job.wiki, names.wiki, replacing)) ok = false;
    return result;
}

}  // namespace kelvarin
