// One conversion: paper.tex in, paper.wiki.txt and paper.eq.tex out.
#ifndef KELVARIN_CONVERSION_JOB_H
#define KELVARIN_CONVERSION_JOB_H

#include <string>

namespace kelvarin {

struct ConversionOptions {
    bool rich = false;       // translate the body construct by construct
    std::string out_folder;  // empty: the outputs go beside the input
};

// Converts the LaTeX source at `input_path` (taken byte for byte). Returns
// true when the input was read to its end and both outputs were written in
// full; false on a failed open (reported as "Invalid file specified" on
// standard output and the reason on standard error), a read error or a
// write error (reported on standard error).
bool convert_file(const std::string& input_path, const ConversionOptions& options = {});

}  // namespace kelvarin

#endif
