// The batch log "kelvarin.log": per input, "file : <path>" before its
// conversion starts and "  parse ok" / "  parse failure" after it.
#ifndef KELVARIN_BATCH_LOG_H
#define KELVARIN_BATCH_LOG_H

#include <string>
#include <vector>

#include "core/conversion_job.h"

namespace kelvarin {

// Prints what a conversion reports: "Invalid file specified" on standard
// output, each problem on standard error. Returns whether it succeeded.
bool report_conversion(const ConversionResult& result);

// Converts each path in turn, reporting in the batch log of the working
// directory. A log that cannot be opened or written costs only its lines
// (and one line on standard error). Returns true when every conversion
// succeeded.
bool convert_batch(const std::vector<std::string>& paths, const ConversionOptions& options = {});

}  // namespace kelvarin

#endif
