#include "render/latex_output.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>

namespace kelvarin {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The number the digits text[from, to) spell, or -1 when there are none or
// too many for a line or formula number (text printed by the paper may hold
// anything).
long number_at(const std::string& text, std::size_t from, std::size_t to) {
    if (to <= from || to - from > 9) return -1;
    long value = 0;
    for (std::size_t i = from; i < to; ++i) value = value * 10 + (text[i] - '0');
    return value;
}

// latex's messages end with "." and sometimes spaces; the report adds its own.
std::string trimmed_message(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '.' || text.back() == '\r')) text.pop_back();
    return text;
}

// Emits the markers that are complete in the line read so far. A marker cut
// by the end of the chunk is left for the next one.
void scan_markers(LatexOutputReader& reader, std::vector<LatexEvent>& events) {
    const std::string& text = reader.pending;
    std::size_t at = reader.scanned;
    for (;;) {
        const std::size_t found = text.find(reader.marker, at);
        if (found == std::string::npos) {
            // A marker may begin in the last few bytes: look there again.
            const std::size_t keep = reader.marker.size();
            reader.scanned = std::max(at, text.size() > keep ? text.size() - keep : std::size_t{0});
            return;
        }
        std::size_t p = found + reader.marker.size();
        if (p >= text.size()) {
            reader.scanned = found;
            return;
        }
        const char kind = text[p++];
        const std::size_t digits = p;
        while (p < text.size() && is_digit(text[p])) ++p;
        if (p >= text.size()) {
            reader.scanned = found;
            return;
        }
        const long number = number_at(text, digits, p);
        if (text[p] != 'k' || (p > digits && number < 0)) {  // not one of ours after all
            at = found + 1;
            continue;
        }
        LatexEvent event;
        switch (kind) {
            case 'r': event.kind = LatexEventKind::ready; break;
            case 'b': event.kind = LatexEventKind::begin; break;
            case 'e': event.kind = LatexEventKind::end; break;
            case 's': event.kind = LatexEventKind::shipped; break;
            case 'z': event.kind = LatexEventKind::done; break;
            default: at = found + 1; continue;
        }
        if (number >= 0) event.number = static_cast<std::size_t>(number);
        events.push_back(event);
        at = p + 1;
    }
}

// "FILE:LINE: message", as latex writes errors with -file-line-error. The
// file must exist, so that text of the paper's own that happens to look like
// this is not taken for an error.
bool file_line_error(const std::string& line, const std::string& folder, LatexEvent& event) {
    for (std::size_t colon = line.find(':'); colon != std::string::npos && colon > 0;
         colon = line.find(':', colon + 1)) {
        std::size_t p = colon + 1;
        while (p < line.size() && is_digit(line[p])) ++p;
        const long number = number_at(line, colon + 1, p);
        if (number < 0 || line.compare(p, 2, ": ") != 0) continue;
        const std::string file = line.substr(0, colon);
        std::error_code ec;
        const std::filesystem::path path = file[0] == '/' ? std::filesystem::path(file)
                                                          : std::filesystem::path(folder) / file;
        if (!std::filesystem::is_regular_file(path, ec)) continue;
        event.kind = LatexEventKind::error;
        event.file = file;
        event.line = number;
        event.text = trimmed_message(line.substr(p + 2));
        return true;
    }
    return false;
}

// kpathsea's "latex: Not reading from /etc/hostname (openin_any = p)." and
// "Not writing to ... (openout_any = p).", wherever they land in a line.
bool refusal(const std::string& line, LatexEvent& event) {
    struct Form {
        const char* lead;
        const char* tail;
        const char* what;
    };
    for (const Form& form : {Form{"Not reading from ", " (openin_any = ", "read"},
                             Form{"Not writing to ", " (openout_any = ", "write"}}) {
        const std::size_t lead = line.find(form.lead);
        if (lead == std::string::npos) continue;
        const std::size_t from = lead + std::char_traits<char>::length(form.lead);
        const std::size_t tail = line.find(form.tail, from);
        if (tail == std::string::npos) continue;
        event.kind = LatexEventKind::refused;
        event.text = line.substr(from, tail - from);
        event.file = form.what;
        return true;
    }
    return false;
}

// "latex: leak.tex: Permission denied", as latex dies when the kernel
// refuses a file kpathsea found (the paper is confined, see paper_view.h).
// latex's own output may come before it on the same line.
bool denied(const std::string& line, const std::string& program, LatexEvent& event) {
    const std::string tail = ": Permission denied";
    const std::string lead = program + ": ";
    if (line.size() <= tail.size() || line.compare(line.size() - tail.size(), tail.size(), tail) != 0) return false;
    const std::size_t at = line.rfind(lead, line.size() - tail.size());
    if (at == std::string::npos || at + lead.size() >= line.size() - tail.size()) return false;
    event.kind = LatexEventKind::refused;
    event.text = line.substr(at + lead.size(), line.size() - tail.size() - at - lead.size());
    event.file = "read";
    return true;
}

// The fatal error latex writes to its standard error when a line of input
// does not fit its buffer: it lands wherever the terminal line stood (after
// a page's "[1]", say), not at the start of a line.
const char* const kLineTooLong = "! Unable to read an entire line";

void read_line(LatexOutputReader& reader, const std::string& line, std::vector<LatexEvent>& events) {
    LatexEvent event;
    const std::size_t too_long = line.compare(0, 2, "! ") == 0 ? 0 : line.find(kLineTooLong);
    if (too_long != std::string::npos) {
        event.text = trimmed_message(line.substr(too_long + 2));
        events.push_back(event);
        reader.after_error = true;
    } else if (file_line_error(line, reader.folder, event)) {
        events.push_back(event);
        reader.after_error = true;
    } else if (reader.after_error && line.compare(0, 2, "l.") == 0 && line.size() > 2 && is_digit(line[2])) {
        std::size_t p = 2;
        while (p < line.size() && is_digit(line[p])) ++p;
        event.kind = LatexEventKind::context;
        event.line = number_at(line, 2, p);
        event.text = line.substr(p < line.size() ? p + 1 : p);
        events.push_back(event);
        reader.after_error = false;
    } else if (refusal(line, event) || denied(line, reader.program, event)) {
        events.push_back(event);
    }
}

}  // namespace

LatexOutputReader latex_output_reader(const std::string& marker, const std::string& folder,
                                      const std::string& program) {
    LatexOutputReader reader;
    reader.marker = marker;
    reader.folder = folder;
    reader.program = program;
    return reader;
}

void read_latex_output(LatexOutputReader& reader, std::string_view chunk, std::vector<LatexEvent>& events) {
    std::size_t start = 0;
    while (start < chunk.size()) {
        const std::size_t newline = chunk.find('\n', start);
        const std::size_t stop = newline == std::string_view::npos ? chunk.size() : newline;
        reader.pending.append(chunk.data() + start, stop - start);
        scan_markers(reader, events);
        if (newline == std::string_view::npos) return;
        read_line(reader, reader.pending, events);
        reader.pending.clear();
        reader.scanned = 0;
        start = newline + 1;
    }
}

void finish_latex_output(LatexOutputReader& reader, std::vector<LatexEvent>& events) {
    if (reader.pending.empty()) return;
    read_line(reader, reader.pending, events);
    reader.pending.clear();
    reader.scanned = 0;
}

}  // namespace kelvarin
