#include "convert/math_capture.h"

#include "convert/job_state.h"
#include "text/text_helpers.h"

namespace kelvarin {

namespace {

bool begins_display(std::string_view line) {
    return begins_with(line, "\\[") || begins_with(line, "\\begin{equation}") ||
           begins_with(line, "\\begin{equation*}");
}

bool ends_display(std::string_view line) {
    return begins_with(line, "\\]") || begins_with(line, "\\end{equation}") ||
           begins_with(line, "\\end{equation*}");
}

// Opens a display formula. One still open is abandoned: its text is dropped
// and never registered. The opening line itself contributes nothing.
void start_display(JobState& job) {
    job.formula_text.clear();
    job.body.in_display_math = true;
    EquationRecord& rec = job.pending_record;
    rec.index = registry_size(job.registry);
    rec.is_inline = false;
    rec.lines.clear();
    rec.first_row = rec.last_row = job.line_number + 1;
    rec.line_count = 0;
    rec.first_column = rec.last_column = -1;
}

// One line of an open display formula. The key gets the line and the two
// bytes backslash and "n", never a newline byte.
void capture_display_line(JobState& job, std::string_view line) {
    job.formula_text.append(line);
    job.formula_text.append("\\n");
    job.pending_record.lines.emplace_back(line);
    job.pending_record.line_count += 1;
}

// Closes a display formula and writes its block reference. A closing line
// with no formula open does nothing at all: whatever formula_text still holds
// is stale, and registering it would put a number on the page that no page
// of the equation document matches.
void end_display(JobState& job) {
    const bool was_open = job.body.in_display_math;
    job.body.in_display_math = false;
    if (!was_open || job.formula_text.empty()) return;
    job.pending_record.last_row = job.line_number - 1;
    const std::int64_t number =
        register_equation(job.registry, job.formula_text, job.pending_record);
    job.reference.clear();
    equation_reference(job.reference, false, number, job.equation_prefix,
                       job.settings);
    write_line(job.wiki, job.reference);
    write_empty_line(job.wiki);
}

// Replaces each "$...$" pair of the line by its inline reference. A "$"
// without a partner and everything behind it stay as they are.
//
// First pass: register each pair and remove it, remembering where it went.
// Second pass: put each pair's reference where the pair was removed. Both
// passes build fresh strings from left to right, so a line with many pairs
// costs time linear in its length.
void rewrite_inline(JobState& job, std::string_view line) {
    job.formula_text.clear();
    job.stripped.clear();
    job.removal_positions.clear();
    job.reference_numbers.clear();

    std::int64_t removed = 0;
    std::int64_t next = 0;  // where the next search starts
    std::int64_t pos = 0;
    for (;;) {
        pos = next;
        const std::int64_t close =
            extract_group(line, job.formula_text, pos, "$", "$");
        if (close == -1) break;
        const std::int64_t open = pos;

        EquationRecord& rec = job.pending_record;
        rec.index = registry_size(job.registry);
        rec.is_inline = true;
        rec.lines.assign(1, job.formula_text);
        rec.first_row = rec.last_row = job.line_number;
        rec.line_count = 1;
        rec.first_column = open;
        rec.last_column = close;
        EquationRecord* stored = nullptr;
        const std::int64_t number =
            register_equation(job.registry, job.formula_text, rec, &stored);

        const std::int64_t at = open - removed;
        stored->stripped_offset = at;
        job.stripped.append(line.substr(static_cast<std::size_t>(next),
                                        static_cast<std::size_t>(open - next)));
        job.removal_positions.push_back(at);
        job.reference_numbers.push_back(number);
        removed += close - open + 1;
        next = close + 1;
    }
    job.stripped.append(line.substr(static_cast<std::size_t>(next)));

    job.rewritten.clear();
    std::size_t copied = 0;  // bytes of the stripped line already placed
    for (std::size_t k = 0; k < job.removal_positions.size(); ++k) {
        const std::size_t at = static_cast<std::size_t>(job.removal_positions[k]);
        job.rewritten.append(job.stripped, copied, at - copied);
        copied = at;
        equation_reference(job.rewritten, true, job.reference_numbers[k],
                           job.equation_prefix, job.settings);
    }
    job.rewritten.append(job.stripped, copied, std::string::npos);
    write_line(job.wiki, job.rewritten);
}

}  // namespace

void equation_reference(std::string& out, bool is_inline, std::int64_t number,
                        std::string_view equation_prefix,
                        const EquationSettings& settings) {
    out.append(is_inline ? "&ref(" : "#ref(");
    out.append(equation_prefix);
    out.append(int_to_string(number));
    out.append(".");
    out.append(settings.type);
    out.append(",");
    out.append(settings.parameter);
    out.append(",");
    out.append(settings.scale);
    if (!settings.title.empty()) {
        out.append(",");
        out.append(settings.title);
    }
    out.append(is_inline ? ");" : ")");
}

bool handle_math_line(JobState& job, std::string_view line) {
    if (begins_display(line)) {
        start_display(job);
        return true;
    }
    if (ends_display(line)) {
        end_display(job);
        return true;
    }
    if (job.body.in_display_math) {
        capture_display_line(job, line);
        return true;
    }
    if (contains(line, "$")) {
        rewrite_inline(job, line);
        return true;
    }
    return false;
}

}  // namespace kelvarin
