#include "render/typesetting.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "render/interruption.h"
#include "render/latex_output.h"
#include "render/unclosed_group.h"

namespace kelvarin {

namespace fs = std::filesystem;

const char* const kLatexJobName = "kelvarin-formulas";

std::size_t document_begin_line(const EquationPages& doc) {
    for (std::size_t i = 0; i < doc.head.size(); ++i)
        if (doc.head[i] == "\\begin{document}") return i;
    return doc.head.size();
}

ChildCommand latex_command(const LatexSetup& setup, const std::string& run_folder,
                           const std::vector<std::string>& options, const std::string& file) {
    ChildCommand command;
    command.argv = {setup.latex};
    command.argv.insert(command.argv.end(), options.begin(), options.end());
    command.argv.insert(command.argv.end(), {"-interaction=nonstopmode", "-file-line-error", "-no-shell-escape",
                                             "-output-directory=" + run_folder, file});
    command.environment = {setup.trust_paper ? "openin_any=a" : "openin_any=p", "openout_any=p",
                           // long lines, so that a message is not cut in two
                           "max_print_line=1000"};
    confine_command(command, setup.confinement);
    if (command.directory.empty()) command.directory = setup.paper_folder;
    return command;
}

namespace {

// How many times the preamble's own time a formula may keep latex (when that
// is more than the limit given).
constexpr double kSilencePerPreamble = 3;
// The preamble prints as it loads each file; silent this long, it loops.
constexpr double kPreambleSilenceSeconds = 10;

// Writes the document latex typesets: the head as it is (so that latex's
// line numbers in the preamble are those of the equation document), then
// the markers' definitions, then each chosen page between a begin and an end
// marker, which latex writes to the terminal. The begin marker is a \message,
// which latex flushes at once, so that the pipe tells which formula latex is
// in while it works; the others wait in latex's buffer until then, which
// spares a write for each. The nonce lives in a macro: latex's echo of
// source lines in error messages shows "\kelvarinmark {e3}", never the
// printed marker itself. A page count comes from a marker after every
// shipout. Each marker puts latex back into nonstop mode, so that a
// formula's \batchmode cannot hide the markers after it; markers use names
// of their own for the primitives, which a formula that redefines \message
// does not touch. Each formula's page carries its mark in \count9, which
// TeX writes at the start of every page of the DVI file (and LaTeX leaves
// to the page): a page shipped behind the markers' back carries the mark of
// the formula that shipped it, and a formula that changes the register
// leaves its page without its own mark.
//
// From a format, which holds the preamble, the head is read from its
// "\begin{document}" on.
bool write_job(const EquationPages& doc, const std::vector<std::size_t>& chosen, const std::string& nonce,
               bool from_format, const fs::path& path) {
    std::ofstream tex(path, std::ios::binary | std::ios::trunc);
    for (std::size_t i = from_format ? document_begin_line(doc) : 0; i < doc.head.size(); ++i)
        tex << doc.head[i] << '\n';
    tex << "\\def\\kelvarinnonce{" << nonce << "}%\n"
        << "\\let\\kelvarinmessage\\message\\let\\kelvarininteraction\\interactionmode\n"
        << "\\let\\kelvarinimmediate\\immediate\\let\\kelvarinwrite\\write\n"
        << "\\let\\kelvaringlobal\\global\\countdef\\kelvarinpagemark=9 %\n"
        << "\\def\\kelvarinnonstop{\\ifnum\\kelvarininteraction=1 \\else\\kelvarininteraction=1 \\fi}%\n"
        << "\\def\\kelvarinflush#1{\\kelvarinnonstop\\kelvarinmessage{kelvarin\\kelvarinnonce#1k}}%\n"
        << "\\def\\kelvarinmark#1{\\kelvarinnonstop\\kelvarinimmediate\\kelvarinwrite16{kelvarin\\kelvarinnonce#1k}}%\n"
        << "\\ifdefined\\AddToHook\\AddToHook{shipout/after}{\\kelvarinmark s}%\n"
        << "\\else\\let\\kelvarinshipout\\shipout\\def\\shipout{\\kelvarinmark s\\kelvarinshipout}\\fi\n"
        << "\\kelvarinflush r%\n";
    for (std::size_t k = 0; k < chosen.size(); ++k) {
        tex << "\\kelvarinflush{b" << k << "}\\kelvaringlobal\\kelvarinpagemark=" << page_mark(nonce, k) << " %\n";
        for (const std::string& line : doc.pages[chosen[k]].lines) tex << line << '\n';
        tex << "\\kelvarinmark{e" << k << "}%\n";
    }
    tex << "\\kelvarinflush z%\n\\end{document}\n";
    tex.close();
    return !tex.fail();
}

// Where a preamble error points: a line of the equation document, or a line
// of another file (a style or macro file of the paper's). `line` and `echo`
// come from the error's "FILE:LINE:" or from its "l.NNN" line.
std::string preamble_place(const std::string& message, const std::string& file, long line, const std::string& echo,
                           const EquationPages& doc, const LatexSetup& setup) {
    auto at = [&](std::size_t index) {
        return "line " + std::to_string(index + 1) + " of " + setup.document + ": " + doc.head[index];
    };
    // A document that ends inside an argument or a definition gives no
    // line (a file of the paper's that does gives the line read after it):
    // the "{" that was never closed is where it starts.
    if (line <= 0 && message.find("File ended while scanning") != std::string::npos) {
        const std::size_t open = unclosed_group_line(doc.head);
        if (open < doc.head.size()) return at(open) + ", whose \"{\" is never closed";
    }
    // A missing file is named on the line that asks for it.
    const std::size_t quote = message.find("File `");
    const std::size_t unquote = message.find("' not found");
    if (quote != std::string::npos && unquote != std::string::npos && unquote > quote + 6) {
        std::string wanted = message.substr(quote + 6, unquote - quote - 6);
        wanted = wanted.substr(0, wanted.rfind('.'));
        for (std::size_t i = 0; !wanted.empty() && i < doc.head.size(); ++i)
            if (doc.head[i].find(wanted) != std::string::npos) return at(i);
    }
    const bool in_job = file.empty() ? line > 0 : fs::path(file).filename() == std::string(kLatexJobName) + ".tex";
    if (in_job && line >= 1 && static_cast<std::size_t>(line) <= doc.head.size()) {
        std::size_t index = static_cast<std::size_t>(line - 1);
        // Without a file name the line is that of the innermost file latex
        // was reading: ours only when the text agrees.
        if (!file.empty() || doc.head[index].compare(0, echo.size(), echo) == 0) {
            // latex may have read on to look for an optional argument; a
            // blank line is never at fault, the one above it is.
            while (index > 0 && doc.head[index].find_first_not_of(" \t") == std::string::npos) --index;
            return at(index);
        }
    }
    if (!file.empty() && !in_job) return (file.compare(0, 2, "./") == 0 ? file.substr(2) : file) + ", line " +
                                         std::to_string(line);
    return "";
}

// A file name as a message shows it: control characters, and the
// characters that show nothing or turn the text around (zero-width spaces,
// direction marks and overrides, the byte order mark, the soft hyphen),
// spelled out, so that a name made to hide cannot.
std::string shown_name(const std::string& name) {
    static const struct {
        const char* bytes;
        const char* shown;
    } kHidden[] = {
        {"\xc2\xad", "<U+00AD>"},     {"\xe2\x80\x8b", "<U+200B>"}, {"\xe2\x80\x8c", "<U+200C>"},
        {"\xe2\x80\x8d", "<U+200D>"}, {"\xe2\x80\x8e", "<U+200E>"}, {"\xe2\x80\x8f", "<U+200F>"},
        {"\xe2\x80\xaa", "<U+202A>"}, {"\xe2\x80\xab", "<U+202B>"}, {"\xe2\x80\xac", "<U+202C>"},
        {"\xe2\x80\xad", "<U+202D>"}, {"\xe2\x80\xae", "<U+202E>"}, {"\xe2\x81\xa0", "<U+2060>"},
        {"\xe2\x81\xa6", "<U+2066>"}, {"\xe2\x81\xa7", "<U+2067>"}, {"\xe2\x81\xa8", "<U+2068>"},
        {"\xe2\x81\xa9", "<U+2069>"}, {"\xef\xbb\xbf", "<U+FEFF>"},
    };
    std::string shown;
    for (std::size_t i = 0; i < name.size();) {
        bool hidden = false;
        for (const auto& h : kHidden) {
            const std::size_t n = std::char_traits<char>::length(h.bytes);
            if (name.compare(i, n, h.bytes) == 0) {
                shown += h.shown;
                i += n;
                hidden = true;
                break;
            }
        }
        if (hidden) continue;
        const unsigned char c = static_cast<unsigned char>(name[i++]);
        if (c < 0x20 || c == 0x7f) {
            static const char kHex[] = "0123456789abcdef";
            shown += std::string("\\x") + kHex[c >> 4] + kHex[c & 15];
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown;
}

// What a refused read says: the file, what it is and where it leads, what
// is read instead, and how to lift it.
std::string read_refusal(const std::string& name, std::string why, const LatexSetup& setup) {
    if (why.empty()) why = "files are named relative to the paper's folder, without \"..\" and not hidden";
    return "latex may not read '" + shown_name(name) + "': " + why + "; only files whose real path lies in the paper's folder (" +
           setup.paper_folder +
           ") or the TeX installation are read; kelvarin-render --trust-paper lifts this for a paper whose author "
           "you trust";
}

std::string refusal_message(const LatexEvent& event, const LatexSetup& setup) {
    if (event.file == "write")
        return "latex may not write '" + event.text + "': it writes only into a temporary folder";
    return read_refusal(event.text, why_confined(event.text, setup.confinement), setup);
}

// latex's "File `leak.tex' not found" (or TeX's "I can't find file"), told
// as a refusal when the confinement is why the file is not there: a link
// leading out of the paper's folder, "~" or "$" in the name. Otherwise the
// message as it is.
std::string explained(const std::string& message, const LatexSetup& setup) {
    for (const char* lead : {"File `", "I can't find file `"}) {
        const std::size_t from = message.find(lead);
        if (from == std::string::npos) continue;
        const std::size_t start = from + std::char_traits<char>::length(lead);
        const std::size_t end = message.find('\'', start);
        if (end == std::string::npos) continue;
        const std::string name = message.substr(start, end - start);
        const std::string why = why_confined(name, setup.confinement);
        if (!why.empty()) return read_refusal(name, why, setup);
    }
    return message;
}

}  // namespace

std::int32_t page_mark(const std::string& nonce, std::size_t k) {
    std::uint32_t hash = 2166136261u;
    for (char c : nonce) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    constexpr std::uint32_t kSpan = 1u << 30;
    return static_cast<std::int32_t>(1 + (hash % kSpan + k % kSpan) % kSpan);
}

namespace {

// What the output of a run has shown so far, and what it is read against.
struct Reading {
    const EquationPages& doc;
    const std::vector<std::size_t>& chosen;
    const LatexSetup& setup;
    const RunLimits& limits;
    const std::function<void(std::size_t)>& on_ended;
    LatexRun& run;
    ChildLimits& child_limits;
    std::chrono::steady_clock::time_point start;
    std::size_t current;  // the formula latex is in; chosen.size() for none yet
    std::size_t ended = 0;
    LatexEvent preamble_error;
    std::string preamble_at;        // where the preamble error points, once known
    bool preamble_failed = false;
    bool awaiting_context = false;  // the current formula's first error still lacks its "l." line
};

// The formula latex is in, once past the preamble; null before or between.
FormulaOutcome* current_formula(Reading& r) {
    return r.run.ready && r.current < r.chosen.size() ? &r.run.formulas[r.current] : nullptr;
}

OutputVerdict on_ready(Reading& r, const LatexEvent&) {
    if (!r.preamble_failed && !r.run.ready) {
        r.run.ready = true;
        r.run.preamble_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - r.start).count();
        // A slow preamble means a slow machine or heavy packages: a formula
        // may then take longer too. Only a new formula counts as progress,
        // so this is also the most time a formula gets, printing or
        // shipping pages as it may.
        r.child_limits.silence_seconds =
            std::max(r.limits.silence_seconds, kSilencePerPreamble * r.run.preamble_seconds);
        r.child_limits.stall_seconds = r.child_limits.silence_seconds;
    }
    return OutputVerdict::progress;
}

OutputVerdict on_begin(Reading& r, const LatexEvent& event) {
    if (event.number < r.chosen.size()) {
        r.current = event.number;
        r.run.formulas[r.current].begun = true;
    }
    return OutputVerdict::progress;
}

OutputVerdict on_end(Reading& r, const LatexEvent& event) {
    if (event.number < r.chosen.size() && event.number == r.current && !r.run.formulas[r.current].ended) {
        r.run.formulas[r.current].ended = true;
        r.on_ended(++r.ended);
    }
    return OutputVerdict::quiet;
}

OutputVerdict on_shipped(Reading& r, const LatexEvent&) {
    FormulaOutcome* formula = current_formula(r);
    if (!formula) return OutputVerdict::quiet;
    if (++formula->pages > kMostPagesPerFormula && !formula->ended) {
        formula->message =
            "did not finish: it shipped more than " + std::to_string(kMostPagesPerFormula) + " pages (does it loop?)";
        return OutputVerdict::stop;
    }
    return OutputVerdict::quiet;
}

OutputVerdict on_done(Reading& r, const LatexEvent&) {
    r.run.done = true;
    return OutputVerdict::progress;
}

OutputVerdict on_error(Reading& r, const LatexEvent& event) {
    if (!r.run.ready && !r.preamble_failed) {
        r.preamble_failed = true;
        r.preamble_error = event;
        r.preamble_error.text = explained(event.text, r.setup);
        r.preamble_at = preamble_place(event.text, event.file, event.line, "", r.doc, r.setup);
    } else if (!r.run.ready && r.preamble_at.empty()) {
        // A fatal error after the first one may say where.
        r.preamble_at = preamble_place(r.preamble_error.text, event.file, event.line, "", r.doc, r.setup);
    }
    FormulaOutcome* formula = current_formula(r);
    r.awaiting_context = formula && formula->message.empty();
    if (r.awaiting_context) formula->message = explained(event.text, r.setup);
    return OutputVerdict::quiet;
}

OutputVerdict on_context(Reading& r, const LatexEvent& event) {
    if (r.preamble_failed && r.preamble_at.empty())
        r.preamble_at = preamble_place(r.preamble_error.text, "", event.line, event.text, r.doc, r.setup);
    // "Undefined control sequence" names the sequence only in the echo of
    // the input, where it is the last thing read.
    FormulaOutcome* formula = current_formula(r);
    if (r.awaiting_context && formula) {
        const std::size_t backslash = event.text.rfind('\\');
        if (formula->message == "Undefined control sequence" && backslash != std::string::npos &&
            event.text.find(' ', backslash) == std::string::npos)
            formula->message += " " + event.text.substr(backslash);
    }
    r.awaiting_context = false;
    return OutputVerdict::quiet;
}

OutputVerdict on_refused(Reading& r, const LatexEvent& event) {
    if (!r.run.ready) {
        if (!r.preamble_failed) {
            r.preamble_failed = true;
            r.preamble_error.text = refusal_message(event, r.setup);
        }
    } else if (FormulaOutcome* formula = current_formula(r)) {
        // The refusal says more than the "not found" that follows it.
        if (formula->message.empty() || formula->message.find("not found") != std::string::npos)
            formula->message = refusal_message(event, r.setup);
    }
    return OutputVerdict::quiet;
}

const struct {
    LatexEventKind kind;
    OutputVerdict (*read)(Reading&, const LatexEvent&);
} kEventReaders[] = {
    {LatexEventKind::ready, on_ready},     {LatexEventKind::begin, on_begin},
    {LatexEventKind::end, on_end},         {LatexEventKind::shipped, on_shipped},
    {LatexEventKind::done, on_done},       {LatexEventKind::error, on_error},
    {LatexEventKind::context, on_context}, {LatexEventKind::refused, on_refused},
};

// Reads what latex printed: progress when a formula began (or the preamble
// or the last formula is behind), stop when there is nothing more to learn.
OutputVerdict read_events(Reading& r, const std::vector<LatexEvent>& events) {
    OutputVerdict verdict = OutputVerdict::quiet;
    for (const LatexEvent& event : events) {
        for (const auto& reader : kEventReaders) {
            if (reader.kind != event.kind) continue;
            const OutputVerdict said = reader.read(r, event);
            if (said == OutputVerdict::stop) return said;
            if (said == OutputVerdict::progress) verdict = said;
        }
    }
    // A preamble that does not typeset fails every formula the same way:
    // nothing more to learn from this run once latex has said where.
    if (r.preamble_failed && (!r.preamble_at.empty() || r.run.ready)) return OutputVerdict::stop;
    return verdict;
}

// Why no formula of the run could be tried, or "".
std::string blocking_problem(const Reading& r) {
    const std::string preamble = "the preamble does not typeset, so no formula can: ";
    if (r.preamble_failed)
        return preamble + r.preamble_error.text + (r.preamble_at.empty() ? "" : " (" + r.preamble_at + ")");
    if (r.run.ready) return "";
    switch (r.run.child.end) {
        case ChildEnd::not_started: return r.run.child.problem;
        case ChildEnd::stalled:
            return preamble + "latex printed nothing for " + std::to_string(static_cast<int>(kPreambleSilenceSeconds)) +
                   " s before \\begin{document} was behind it (does the preamble loop?)";
        case ChildEnd::out_of_time:
            return preamble + "latex did not get through it within " +
                   std::to_string(static_cast<int>(r.limits.deadline_seconds)) + " s";
        default: return preamble + "latex stopped before \\begin{document} without saying why";
    }
}

}  // namespace

LatexRun typeset_formulas(const EquationPages& doc, const std::vector<std::size_t>& chosen,
                          const LatexSetup& setup, const std::string& run_folder, const RunLimits& limits,
                          const std::function<void(std::size_t)>& on_ended) {
    LatexRun run;
    run.formulas.resize(chosen.size());
    run.dvi = (fs::path(run_folder) / (std::string(kLatexJobName) + ".dvi")).string();
    const fs::path job = fs::path(run_folder) / (std::string(kLatexJobName) + ".tex");
    const bool from_format = !setup.format.empty() && document_begin_line(doc) < doc.head.size();
    if (!write_job(doc, chosen, setup.nonce, from_format, job)) {
        run.blocking_problem = "cannot write " + job.string() + " (is the temporary folder's disk full?)";
        return run;
    }

    const ChildCommand command =
        latex_command(setup, run_folder,
                      from_format ? std::vector<std::string>{"-fmt=" + setup.format} : std::vector<std::string>{},
                      std::string(kLatexJobName) + ".tex");

    ChildLimits child_limits;
    child_limits.deadline_seconds = limits.deadline_seconds;
    child_limits.silence_seconds = kPreambleSilenceSeconds;
    Reading reading{doc, chosen, setup, limits, on_ended, run, child_limits, std::chrono::steady_clock::now(),
                    chosen.size(), 0, {}, {}, false, false};
    LatexOutputReader reader = latex_output_reader("kelvarin" + setup.nonce, command.directory,
                                                   fs::path(setup.latex).filename().string());
    std::vector<LatexEvent> events;
    run.child = run_child(command, child_limits, [&](std::string_view chunk) {
        events.clear();
        read_latex_output(reader, chunk, events);
        return read_events(reading, events);
    });
    // The last line, if latex ended without a line end.
    events.clear();
    finish_latex_output(reader, events);
    read_events(reading, events);
    run.blocking_problem = blocking_problem(reading);
    if (from_format && !run.ready && !stop_requested()) {
        // The format holds a preamble that typeset cleanly: a run from it
        // that never got past \begin{document} could not load it.
        LatexSetup plain = setup;
        plain.format.clear();
        return typeset_formulas(doc, chosen, plain, run_folder, limits, on_ended);
    }
    return run;
}

}  // namespace kelvarin
