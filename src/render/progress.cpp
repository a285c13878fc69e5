#include "render/progress.h"

#include <unistd.h>

#include <cstdio>

namespace kelvarin {

namespace {

// Above this many formulas a run takes long enough for stage lines.
constexpr std::size_t kStageLineThreshold = 100;

void draw(Progress& progress, const std::string& text) {
    std::string line = "\rkelvarin-render: " + text;
    const std::size_t width = line.size() - 1;
    if (width < progress.shown) line += std::string(progress.shown - width, ' ');
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    progress.shown = width;
    progress.last = std::chrono::steady_clock::now();
}

}  // namespace

Progress make_progress(std::size_t formulas) {
    Progress progress;
    progress.terminal = isatty(STDERR_FILENO) != 0;
    progress.stage_lines = !progress.terminal && formulas >= kStageLineThreshold;
    return progress;
}

void show_count(Progress& progress, const std::string& text) {
    if (!progress.terminal) return;
    if (progress.shown > 0 && std::chrono::steady_clock::now() - progress.last < std::chrono::milliseconds(100))
        return;
    draw(progress, text);
}

void show_stage(Progress& progress, const std::string& text) {
    if (progress.terminal) {
        draw(progress, text);
    } else if (progress.stage_lines) {
        std::fprintf(stderr, "kelvarin-render: %s\n", text.c_str());
        std::fflush(stderr);
    }
}

void clear_progress(Progress& progress) {
    if (!progress.terminal || progress.shown == 0) return;
    std::fputs(("\r" + std::string(progress.shown, ' ') + "\r").c_str(), stderr);
    std::fflush(stderr);
    progress.shown = 0;
}

std::string with_commas(std::size_t number) {
    std::string digits = std::to_string(number);
    for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
}

}  // namespace kelvarin
