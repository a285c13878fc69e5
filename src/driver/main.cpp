// kelvarin: converts LaTeX sources into wiki pages and equation documents.
//
//   kelvarin                 converts tex/test2.tex, reports on the console
//   kelvarin a.tex b.tex …   converts each, reports in kelvarin.log
//
// Every argument is an input path; there are no options. The exit status is
// always 0: results are reported, not signalled.
#include <cstdio>
#include <string>
#include <vector>

#include "convert/conversion_job.h"
#include "driver/batch_log.h"

int main(int argc, char** argv) {
    if (argc <= 1) {
        const bool ok = kelvarin::convert_file("tex/test2.tex");
        std::fputs(ok ? "  parse ok\n" : "  parse failure\n", stdout);
        std::fflush(stdout);
        return 0;
    }
    const std::vector<std::string> paths(argv + 1, argv + argc);
    kelvarin::convert_batch(paths);
    return 0;
}
