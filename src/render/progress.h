// What a person watching sees while formulas are typeset: on a terminal one
// line that keeps its count up to date ("typeset 1,200 of 3,873 formulas");
// elsewhere (a log, a pipe) a few plain lines, one per stage, for documents
// large enough to take a while.
#ifndef KELVARIN_PROGRESS_H
#define KELVARIN_PROGRESS_H

#include <chrono>
#include <cstddef>
#include <string>

namespace kelvarin {

struct Progress {
    bool terminal = false;      // standard error is a terminal
    bool stage_lines = false;   // not a terminal, and enough formulas to say what is going on
    std::size_t shown = 0;      // width of the line now on the terminal
    std::chrono::steady_clock::time_point last;  // when it was last redrawn
};

Progress make_progress(std::size_t formulas);

// A count that changes often: redrawn on a terminal at most ten times a
// second, never written elsewhere.
void show_count(Progress& progress, const std::string& text);

// The start of a stage: on a terminal it replaces the line, elsewhere it is
// a line of its own.
void show_stage(Progress& progress, const std::string& text);

// Clears the terminal line, before other messages are written.
void clear_progress(Progress& progress);

// 1234567 as "1,234,567".
std::string with_commas(std::size_t number);

}  // namespace kelvarin

#endif
