#include "cli/batch_log.h"

#include "core/conversion_job.h"
#include "io/file_identity.h"
#include "io/line_output.h"

namespace kelvarin {

void convert_batch(const std::vector<std::string>& paths, const ConversionOptions& options) {
    // An existing log is truncated: it only ever holds the latest run. When
    // one of the inputs is the log file itself, truncating it would destroy
    // that input, so the run goes without a log, as when it cannot be opened.
    static const std::string kLogPath = "kelvarin.log";
    bool log_is_input = false;
    for (const std::string& path : paths)
        if (is_same_file(path, kLogPath)) log_is_input = true;
    LineOutput log;
    if (!log_is_input) open_output(log, kLogPath);
    for (const std::string& path : paths) {
        // Complete in the log before the conversion starts, so a crash or a
        // hang shows which input caused it.
        write_line(log, {"file : ", path});
        const bool ok = convert_file(path, options);
        write_line(log, ok ? "  parse ok" : "  parse failure");
    }
    close_output(log);
}

}  // namespace kelvarin
