#include "text/line_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kelvarin {

namespace {

constexpr std::size_t kFirstCapacity = 1 << 12;

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
    out.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return out.fd != -1;
}

void make_room(LineOutput& out, std::size_t more) {
    const std::size_t capacity =
        std::max({kFirstCapacity, out.capacity * 2, out.size + more});
    std::unique_ptr<char[]> bigger(new char[capacity]);
    if (out.size > 0) std::memcpy(bigger.get(), out.buffer.get(), out.size);
    out.buffer = std::move(bigger);
    out.capacity = capacity;
}

void finish_line(LineOutput& out) {
    // After a failure the rest of the file is lost anyway; trying again on
    // every line would only cost a failing system call per line.
    if (out.fd == -1 || out.failed) return;
    // The line is handed to the system whole: one write call per line, as a
    // flushed stream would make, without the stream's own copying and
    // locking for each piece.
    add_to_line(out, "\r\n");
    const char* p = out.buffer.get();
    std::size_t left = out.size;
    while (left > 0) {
        const ssize_t n = ::write(out.fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;  // no progress: the line cannot be written
            note_failure(out);
            return;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

void write_line(LineOutput& out,
                std::initializer_list<std::string_view> pieces) {
    start_line(out);
    for (std::string_view piece : pieces) add_to_line(out, piece);
    finish_line(out);
}

bool close_output(LineOutput& out) {
    if (out.fd == -1) return !out.failed;
    errno = 0;
    if (::close(out.fd) != 0) note_failure(out);
    out.fd = -1;
    return !out.failed;
}

}  // namespace kelvarin
