// Reading a command's arguments by its signature, as LaTeX declares them:
// "*" an optional star, "o" an optional argument in brackets, "O" the same
// after any blanks, "m" a mandatory argument in braces (blanks before it
// skipped). A "|" marks where the text goes on when an unclosed argument
// cannot be carried to the next line (by default, after the star).
#ifndef KELVARIN_RICH_COMMAND_ARGUMENTS_H
#define KELVARIN_RICH_COMMAND_ARGUMENTS_H

#include <array>
#include <cstddef>
#include <string_view>

#include "rich/internal.h"

namespace kelvarin {

struct CommandArguments {
    enum Status { complete, missing, unclosed } status = complete;
    bool star = false;
    std::array<Argument, 8> list{};  // one per "o", "O" and "m" read, in order; an absent
                                     // optional one is not found
    std::size_t count = 0;           // how many of `list` were read
    std::size_t next = 0;            // after what was read; for a missing argument, where it was looked for
    std::size_t carry_from = 0;      // where the text goes on after an unclosed argument

    const Argument& operator[](std::size_t i) const { return list[i]; }
};

// Reads the arguments of `signature` from `at` (just after the command's
// name), within [at, end). Stops at a missing or unclosed mandatory one.
CommandArguments read_arguments(Walk& w, std::string_view signature, std::size_t at, std::size_t end);

}  // namespace kelvarin

#endif
