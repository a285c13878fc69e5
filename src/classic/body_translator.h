// Turns the lines of the document body into wiki mark-up, one line at a time,
// by a fixed sequence of byte-wise tests against LaTeX constructs.
#ifndef KELVARIN_BODY_TRANSLATOR_H
#define KELVARIN_BODY_TRANSLATOR_H

#include <string>
#include <string_view>

namespace kelvarin {

struct JobState;

// Context carried from one body line to the next. Each mode is one flag, not
// a counter: nested environments of a kind share it, the first close clears it.
struct BodyState {
    bool in_figure = false;        // between "\begin{figure}" and "\end{figure}"
    bool in_enumerate = false;     // "\item" becomes "+"
    bool in_itemize = false;       // "\item" becomes "-"
    bool in_verbatim = false;      // lines written as code, leading blanks kept
    bool in_quote = false;         // leading blanks kept
    bool quote_pending = false;    // quotation opened, nothing of it written yet
    bool in_display_math = false;  // a display formula is being captured
};

// Which of the constructs that the reading and the body translator look for
// a line mentions anywhere in it. All of them begin with a backslash, so one
// pass from backslash to backslash answers every such test of a line; a
// flag holds for the line as it was when scanned.
struct LineMentions {
    bool begin_document = false;   // "\begin{document}"
    bool end_document = false;     // "\end{document}"
    bool section = false;          // "\section{"
    bool subsection = false;       // "\subsection{"
    bool subsubsection = false;    // "\subsubsection{"
    bool paragraph = false;        // "\paragraph{"
    bool begin_figure = false;     // "\begin{figure}"
    bool end_figure = false;       // "\end{figure}"
    bool includegraphics = false;  // "\includegraphics"
    bool caption = false;          // "\caption{"
    bool item = false;             // "\item"
    bool bib = false;              // "\bib"
    bool escape = false;           // "\\", "\{" or "\}"
};

LineMentions scan_mentions(std::string_view line);

// Translates one body line. `line` is the line as read, already cut at its
// first "%" by the job, and `mentions` what it mentions; it is used as the
// working buffer and holds no meaning for the caller afterwards.
void translate_body_line(JobState& job, std::string& line, LineMentions mentions);

// The escape replacements of a body line, each at its first occurrence only:
// "\\" becomes "~", then "\{" becomes "{", then "\}" becomes "}". An
// occurrence between the two signs of a "$" pair is formula text and stays
// as written (it still is the one occurrence of its kind).
void replace_escapes(std::string& line);

}  // namespace kelvarin

#endif
