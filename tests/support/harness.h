// Runs the real kelvarin executable in a scratch directory and reads back
// the files it wrote, byte for byte.
#ifndef KELVARIN_TEST_HARNESS_H
#define KELVARIN_TEST_HARNESS_H

#include <string>
#include <vector>

#include "support/file_bytes.h"

namespace kelvarin_test {

// Joins lines, each ended by CR LF, as every output file writes them.
std::string crlf(const std::vector<std::string>& lines);
// Joins lines, each ended by LF alone, as an input or the console has them.
std::string lf(const std::vector<std::string>& lines);

bool file_exists(const std::string& path);

// A fresh directory, removed with everything in it at the end of the test.
struct Sandbox {
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;
    std::string path(const std::string& name) const { return dir + "/" + name; }
    std::string dir;
};

struct RunResult {
    int exit_status = -1;  // -1 when the process did not exit normally
    std::string out;       // standard output
    std::string err;       // standard error
};

// Runs kelvarin with `args` in `working_dir`. Every argument that names a
// file there is hashed before and after, and a changed input fails the test:
// no run may ever modify its input. `unprivileged` runs it as the user
// "nobody" when the tests run as root, so that file modes are obeyed.
RunResult run_kelvarin(const std::string& working_dir,
                       const std::vector<std::string>& args,
                       bool unprivileged = false);

// Runs any program of the project the same way (no input check).
RunResult run_program(const std::string& binary, const std::string& working_dir,
                      const std::vector<std::string>& args);

// What one conversion of `source` (saved as `name`) produced.
struct Converted {
    RunResult run;
    std::string wiki;       // <stem>.wiki.txt
    std::string equations;  // <stem>.eq.tex
    std::string log;        // kelvarin.log
};
Converted convert_source(const std::string& source,
                         const std::string& name = "paper.tex");

// The equation document for the given preamble lines and pages, each page
// given as its comment and its formula lines.
struct Page {
    std::string comment;
    std::vector<std::string> lines;
};
std::string equation_document(const std::vector<std::string>& preamble,
                              const std::vector<Page>& pages);

}  // namespace kelvarin_test

#endif

namespace kelvarin_test {

// The wiki page made of a document whose body is `lines`, closed by
// "\end{document}" (so no extra empty line is read).
std::string wiki_of_body(const std::vector<std::string>& lines);

}  // namespace kelvarin_test
