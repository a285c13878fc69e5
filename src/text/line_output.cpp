#include "text/line_output.h"

#include <cerrno>

namespace kelvarin {

namespace {

// Large enough that an ordinary line and its CR LF go out in one write call.
constexpr std::size_t kOutputBufferSize = 1 << 16;

void note_failure(LineOutput& out) {
    if (!out.failed) {
        out.failed = true;
        out.error_number = errno;
    }
}

}  // namespace

bool open_output(LineOutput& out, const std::string& path) {
    out.failed = false;
    out.error_number = 0;
    out.file = std::fopen(path.c_str(), "wb");
    if (out.file == nullptr) return false;
    std::setvbuf(out.file, nullptr, _IOFBF, kOutputBufferSize);
    return true;
}

void write_line(LineOutput& out,
                std::initializer_list<std::string_view> pieces) {
    // After a failure the rest of the file is lost anyway; trying again on
    // every line would only cost a failing system call per line.
    if (out.file == nullptr || out.failed) return;
    for (std::string_view piece : pieces) {
        if (!piece.empty() &&
            std::fwrite(piece.data(), 1, piece.size(), out.file) != piece.size()) {
            note_failure(out);
            return;
        }
    }
    if (std::fwrite("\r\n", 1, 2, out.file) != 2 || std::fflush(out.file) != 0)
        note_failure(out);
}

bool close_output(LineOutput& out) {
    if (out.file == nullptr) return !out.failed;
    errno = 0;
    if (std::fclose(out.file) != 0) note_failure(out);
    out.file = nullptr;
    return !out.failed;
}

}  // namespace kelvarin
