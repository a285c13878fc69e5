// Commands that shape the page: headings, environments, list items, the
// title block, the table of contents and the appendix.
#include "core/job_state.h"
#include "rich/commands.h"

namespace kelvarin {

std::size_t heading_command(CommandCall& call, const CommandArguments&) {
    if (!call.top()) return call.as_written();
    const std::size_t next = heading(call.w, call.name, call.after, call.end);
    return next == kNoPosition ? call.unclosed(call.after) : next;
}

std::size_t begin_command(CommandCall& call, const CommandArguments&) {
    const std::size_t next = begin_environment(call.w, call.after, call.end, call.place);
    return next == kNoPosition ? call.unclosed(call.after) : next;
}

std::size_t end_command(CommandCall& call, const CommandArguments&) {
    const std::size_t next = end_environment(call.w, call.after, call.end, call.top());
    return next == kNoPosition ? call.unclosed(call.after) : next;
}

std::size_t item_command(CommandCall& call, const CommandArguments&) {
    if (call.top()) return start_item(call.w, call.after, call.end);
    call.sink.append("; ");
    return call.after;
}

std::size_t maketitle_command(CommandCall& call, const CommandArguments&) {
    if (call.top()) write_title_block(call.w);
    return call.after;
}

std::size_t contents_command(CommandCall& call, const CommandArguments&) {
    if (call.top()) write_contents(call.w);
    return call.after;
}

std::size_t appendix_command(CommandCall& call, const CommandArguments&) {
    Counters& counters = call.w.r.counters;
    counters.appendix = true;
    counters.sectioning[call.w.r.outline.has_chapters ? 0 : 1] = 0;
    return call.after;
}

}  // namespace kelvarin
