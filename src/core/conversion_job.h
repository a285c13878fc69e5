// One conversion: paper.tex in, paper.wiki.txt and paper.eq.tex out.
#ifndef KELVARIN_CONVERSION_JOB_H
#define KELVARIN_CONVERSION_JOB_H

#include <string>
#include <vector>

namespace kelvarin {

struct ConversionOptions {
    bool rich = false;       // translate the body construct by construct
    std::string out_folder;  // empty: the outputs go beside the input
    bool stable_names = false;  // images named by content, whatever the source says
};

// What one conversion gave. The engine prints nothing itself: the caller
// says what it reports, and where.
struct ConversionResult {
    bool ok = true;                     // the input read to its end, both outputs written in full
    bool invalid_file = false;          // the input or an output could not be opened
    std::vector<std::string> problems;  // one line each, naming the file: "paper.tex: read error: ..."
};

// Converts the LaTeX source at `input_path` (taken byte for byte).
ConversionResult convert_file(const std::string& input_path, const ConversionOptions& options = {});

}  // namespace kelvarin

#endif
