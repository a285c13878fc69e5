#include "rich/passes.h"

#include "rich/internal.h"

namespace kelvarin {

namespace {

void no_line(JobState&, std::string_view) {}
std::int64_t no_formula(JobState&, FoundFormula) { return 0; }
void no_label(RichState&, std::string_view) {}

}  // namespace

const PassSink kLearningPass{false, no_line, no_formula, learn_label, learn_heading};
const PassSink kWritingPass{true, write_page_line, register_formula, no_label, write_heading};

}  // namespace kelvarin
