// Reads latex's terminal output as it comes, chunk by chunk, into the events
// that tell which formula latex is in and what went wrong there: the markers
// the typeset document prints (see typesetting.cpp), latex's error lines with
// the file and line they name, and the refusals to open a file: kpathsea's
// own, and the kernel's when the paper is confined (latex then dies).
#ifndef KELVARIN_LATEX_OUTPUT_H
#define KELVARIN_LATEX_OUTPUT_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kelvarin {

enum class LatexEventKind {
    ready,    // marker: the preamble and \begin{document} are behind
    begin,    // marker: formula `number` starts
    end,      // marker: formula `number` is over
    shipped,  // marker: a page went to the DVI file
    done,     // marker: the last formula is behind
    error,    // latex's error: `text` is its message; `file` and `line` where it points, if it says
    context,  // the "l.NNN ..." line after an error: `line` and `text` (the input up to the error)
    refused,  // kpathsea or the kernel would not open `text` (`file` is "read" or "write")
};

struct LatexEvent {
    LatexEventKind kind = LatexEventKind::error;
    std::size_t number = 0;
    std::string text;
    std::string file;
    long line = 0;
};

struct LatexOutputReader {
    std::string marker;         // "kelvarin" + the run's nonce: what every marker starts with
    std::string folder;         // where latex runs, for the file names its errors give
    std::string program;        // latex's name as it prints it before a fatal system error
    std::string pending;        // the line begun but not yet ended
    std::size_t scanned = 0;    // how much of `pending` was searched for markers
    bool after_error = false;   // an error was read and its "l.NNN" line not yet
};

// Makes a reader for markers printed as `marker` + kind letter + number + "k",
// from latex running in `folder` under the name `program` ("latex").
LatexOutputReader latex_output_reader(const std::string& marker, const std::string& folder,
                                      const std::string& program);

// Reads the next chunk of output, appending what it shows to `events`.
void read_latex_output(LatexOutputReader& reader, std::string_view chunk, std::vector<LatexEvent>& events);

// Reads the last line, when the output did not end with a line end.
void finish_latex_output(LatexOutputReader& reader, std::vector<LatexEvent>& events);

}  // namespace kelvarin

#endif
