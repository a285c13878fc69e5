// Rich mode: a wiki page a reader can use as it stands. The body is read as
// logical lines (a group or inline formula left open goes on with the next
// line) and translated construct by construct; code blocks and display
// formulas take whole source lines.
#ifndef KELVARIN_RICH_BODY_H
#define KELVARIN_RICH_BODY_H

#include <string>
#include <string_view>

namespace kelvarin {

struct JobState;

// A line before "\begin{document}": only its declarations count.
void rich_preamble_line(JobState& job, std::string_view raw_line);

// A line of the body, as read (comments are cut here, not by the job: code
// keeps them). `raw_line` is a working buffer.
void rich_body_line(JobState& job, std::string& raw_line);

// The body has ended: what is still open is written out, never dropped.
void rich_finish_body(JobState& job);

}  // namespace kelvarin

#endif
