#include "cli/batch_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/conversion_job.h"
#include "io/file_identity.h"
#include "io/line_output.h"

namespace kelvarin {

namespace {

// The log is the report of a batch, so a run without one says so; the
// conversions go on, and the exit status still tells whether all succeeded.
void say_log_problem(const char* why) {
    std::fprintf(stderr, "kelvarin: kelvarin.log: %s; this run's results are not logged\n", why);
    std::fflush(stderr);
}

}  // namespace

bool report_conversion(const ConversionResult& result) {
    if (result.invalid_file) {
        std::fputs("Invalid file specified\n", stdout);
        std::fflush(stdout);
    }
    for (const std::string& problem : result.problems) {
        std::fputs("kelvarin: ", stderr);
        std::fwrite(problem.data(), 1, problem.size(), stderr);
        std::fputc('\n', stderr);
    }
    std::fflush(stderr);
    return result.ok;
}

bool convert_batch(const std::vector<std::string>& paths, const ConversionOptions& options) {
    // An existing log is truncated: it only ever holds the latest run. When
    // one of the inputs is the log file itself, truncating it would destroy
    // that input, so the run goes without a log, as when it cannot be opened.
    static const std::string kLogPath = "kelvarin.log";
    bool log_is_input = false;
    for (const std::string& path : paths)
        if (is_same_file(path, kLogPath)) log_is_input = true;
    LineOutput log;
    if (log_is_input)
        say_log_problem("is one of the inputs");
    else if (!open_output(log, kLogPath))
        say_log_problem(std::strerror(errno));
    bool all_ok = true;
    for (const std::string& path : paths) {
        // Complete in the log before the conversion starts, so a crash or a
        // hang shows which input caused it.
        write_line(log, {"file : ", path});
        const bool ok = report_conversion(convert_file(path, options));
        all_ok = all_ok && ok;
        write_line(log, ok ? "  parse ok" : "  parse failure");
    }
    if (!close_output(log) && !log_is_input) say_log_problem(std::strerror(log.error_number));
    return all_ok;
}

}  // namespace kelvarin
